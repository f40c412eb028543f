#pragma once
// The TLS settings of an MQTT connection, and the ready TLS client
// configuration made from them each time the connection is opened.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "trovik/core/message.hpp"
#include "trovik/mqtt/qos.hpp"

namespace asio::ssl {
class context;
}

namespace trovik::mqtt::tls {

// A client certificate chain (leaf first) and its private key, both PEM.
struct ClientCertificate {
    core::Bytes certificate_pem;
    core::Bytes key_pem;
};

struct Tls {
    // The certificate authorities to trust, PEM; absent trusts the system's.
    std::optional<core::Bytes> ca_pem;
    // Presented when the broker asks for a client certificate.
    std::optional<ClientCertificate> client_certificate;

    // A client context for TLS 1.2 and 1.3 that verifies the broker against
    // the trusted roots and presents the client certificate, if any. The
    // connection checks the broker's name (or address) itself.
    Result<std::shared_ptr<asio::ssl::context>> client_config() const;
};

// The DER bytes of every CERTIFICATE block of `pem`, in order. `name` says
// whose text it is in the messages, e.g. "the CA file".
Result<std::vector<core::Bytes>> certificates(std::span<const std::uint8_t> pem, std::string_view name);

}  // namespace trovik::mqtt::tls
