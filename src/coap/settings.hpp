#pragma once
// The CoAP client settings that `CoapClient` and `PyTransport.coap` share, so
// that both accept and refuse exactly the same arguments.
#include <cstdint>
#include <optional>
#include <string>

#include "trovik/coap/client.hpp"

namespace trovik::py {

// Builds a client's settings from the constructor arguments. Both constructors
// declare them alike, all keyword-only and converted in this order:
//
//     {kw_only, "host", "port", arg("bind").none(), arg("reliability").none(),
//      arg("ack_timeout_ms").none(), arg("max_retransmits").none()}
//
// with the parameter types below. Absent values take the defaults: bind
// "0.0.0.0:0", confirmable, 2000 ms, 4 retransmissions. A reliability other
// than "Confirmable" or "NonConfirmable" raises TrovikError
// "unknown reliability {}" (throws PendingError).
coap::CoapConfig coap_settings(std::string host, std::uint16_t port, std::optional<std::string> bind,
                               std::optional<std::string> reliability, std::optional<std::uint32_t> ack_timeout_ms,
                               std::optional<std::uint32_t> max_retransmits);

// A new, unconnected client transport on the shared runtime. It opens nothing;
// it only draws the first message id.
coap::CoapTransport make_coap_transport(coap::CoapConfig config);

}  // namespace trovik::py
