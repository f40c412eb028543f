#pragma once
// The MQTT settings that `MqttClient` and `PyTransport.mqtt` share, so that
// both accept and refuse exactly the same arguments, and the values the
// Python `MqttWill` and `MqttTls` hold.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "binding/class.hpp"
#include "trovik/mqtt/config.hpp"
#include "trovik/mqtt/transport.hpp"

namespace trovik::py {

// What a Python `MqttWill` holds. As a parameter type: `In<MqttWill>`.
struct MqttWill {
    mqtt::Will will;
};

// What a Python `MqttTls` holds. As a parameter type: `In<MqttTls>`.
struct MqttTls {
    mqtt::tls::Tls tls;
};

// "AtMostOnce", "AtLeastOnce" or "ExactlyOnce", exactly; any other name
// raises TrovikError "unknown quality of service: {name}" (throws PendingError).
mqtt::QoS parse_qos(std::string_view name);
// The name `parse_qos` reads.
const char* qos_name(mqtt::QoS qos);

// Builds a client's settings from the constructor arguments. Both
// constructors declare them alike, all keyword-only, in this order:
//
//     {kw_only, "client_id", "host", "port", arg("keep_alive_secs").none(), arg("capacity").none(),
//      arg("qos").none(), arg("max_packet_size").none(), arg("username").none(), arg("password").none(),
//      arg("will").none(), arg("tls").none()}
//
// with the parameter types below; the will and TLS settings are copied, not
// consumed. Absent values take the defaults:
// keep-alive 30 s, capacity 64, "AtLeastOnce", 10,240-byte packets, no
// credentials, will or TLS. Raises TrovikError (throws PendingError) for a
// QoS name outside the three, then for a password without a username.
mqtt::MqttConfig mqtt_settings(std::string client_id, std::string host, std::uint16_t port,
                               std::optional<std::uint32_t> keep_alive_secs, std::optional<std::uint32_t> capacity,
                               std::optional<std::string> qos, std::optional<std::uint32_t> max_packet_size,
                               std::optional<std::string> username, std::optional<std::string> password,
                               std::optional<In<MqttWill>> will, std::optional<In<MqttTls>> tls);

// A new, unconnected transport on the shared runtime (started if need be).
// It opens nothing.
mqtt::MqttTransport make_mqtt_transport(mqtt::MqttConfig config);

}  // namespace trovik::py
