#pragma once
// The settings of one MQTT link.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "trovik/core/message.hpp"
#include "trovik/mqtt/qos.hpp"
#include "trovik/mqtt/tls.hpp"

namespace trovik::mqtt {

// The message the broker publishes for the client if its connection ends
// without a DISCONNECT.
struct Will {
    std::string topic;  // checked when the link connects
    core::Bytes payload;
    QoS qos = QoS::AtMostOnce;
    bool retain = false;
};

struct Credentials {
    std::string username;
    std::string password;  // empty when only a user name was given
};

// Made from client id, host and port; every other setting has its default
// until a setter changes it. Each setter returns the config for chaining.
class MqttConfig {
public:
    MqttConfig(std::string client_id, std::string host, std::uint16_t port)
        : client_id_(std::move(client_id)), host_(std::move(host)), port_(port) {}

    const std::string& client_id() const noexcept { return client_id_; }
    const std::string& host() const noexcept { return host_; }
    std::uint16_t port() const noexcept { return port_; }

    const std::optional<Credentials>& credentials() const noexcept { return credentials_; }
    MqttConfig& credentials(std::optional<Credentials> value) {
        credentials_ = std::move(value);
        return *this;
    }

    const std::optional<Will>& will() const noexcept { return will_; }
    MqttConfig& last_will(std::optional<Will> value) {
        will_ = std::move(value);
        return *this;
    }

    const std::optional<tls::Tls>& tls() const noexcept { return tls_; }
    MqttConfig& tls(std::optional<tls::Tls> value) {
        tls_ = std::move(value);
        return *this;
    }

    // MQTT keep-alive; 0 turns keep-alive pings off. Values above what MQTT's
    // 16 bits hold are kept here and sent as 65,535 seconds.
    std::chrono::seconds keep_alive() const noexcept { return keep_alive_; }
    MqttConfig& keep_alive(std::chrono::seconds value) {
        keep_alive_ = value;
        return *this;
    }

    // Length of the request queue between the link and its event loop; 0 counts as 1.
    std::size_t capacity() const noexcept { return capacity_; }
    MqttConfig& capacity(std::size_t value) {
        capacity_ = value ? value : 1;
        return *this;
    }

    // The largest packet the connection sends or accepts, in bytes.
    std::size_t max_packet_size() const noexcept { return max_packet_size_; }
    MqttConfig& max_packet_size(std::size_t value) {
        max_packet_size_ = value;
        return *this;
    }

    // QoS of a publish that names none, and of every subscription.
    QoS qos() const noexcept { return qos_; }
    MqttConfig& qos(QoS value) {
        qos_ = value;
        return *this;
    }

private:
    std::string client_id_;
    std::string host_;
    std::optional<Credentials> credentials_;
    std::optional<Will> will_;
    std::optional<tls::Tls> tls_;
    std::chrono::seconds keep_alive_{30};
    std::size_t capacity_ = 64;
    std::size_t max_packet_size_ = 10'240;
    std::uint16_t port_;
    QoS qos_ = QoS::AtLeastOnce;
};

}  // namespace trovik::mqtt
