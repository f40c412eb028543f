#pragma once
// What the MQTT tests share: running coroutines on a multi-threaded runtime,
// a scripted broker, a real mosquitto broker and test certificates.
#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "trovik/core/message.hpp"
#include "trovik/mqtt/codec.hpp"

namespace test {

using namespace std::chrono_literals;
using Body = std::function<asio::awaitable<void>(asio::any_io_executor)>;

// Runs `body` on a strand of a context of three threads, handing it the
// context's executor, until it and everything it started have finished;
// fails the test after `limit`. Rethrows what the body threw.
void run_async(const Body& body, std::chrono::seconds limit = 60s);

// The awaited value, or nothing when `limit` passed first.
template <class T>
asio::awaitable<std::optional<T>> within(std::chrono::milliseconds limit, asio::awaitable<T> operation) {
    using namespace asio::experimental::awaitable_operators;
    asio::steady_timer timer(co_await asio::this_coro::executor, limit);
    auto outcome = co_await (std::move(operation) || timer.async_wait(asio::use_awaitable));
    if (outcome.index() == 1) co_return std::nullopt;
    co_return std::optional<T>(std::move(std::get<0>(outcome)));
}

asio::awaitable<void> sleep(std::chrono::milliseconds duration);

trovik::core::Bytes bytes(std::string_view text);
std::string text(const trovik::core::Bytes& bytes);

// A temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path write(const std::string& name, std::string_view content) const;

private:
    std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);

// Certificates made with the openssl command once per test run.
struct Certificates {
    std::filesystem::path dir;
    std::string ca;         // the CA that signs everything below
    std::string other_ca;   // a CA nobody uses
    std::string server_ip;  // for 127.0.0.1 only
    std::string server_ip_key;
    std::string server_dns;  // for localhost only
    std::string server_dns_key;
    std::string client;           // a client certificate (EC key)
    std::string client_key;       // PKCS #8
    std::string client_key_sec1;  // "EC PRIVATE KEY"
    std::string rsa_client;       // a client certificate with an RSA key
    std::string rsa_client_key;   // PKCS #1, "RSA PRIVATE KEY"
};
const Certificates& certificates();

std::uint16_t free_port();

// A mosquitto broker on 127.0.0.1, started on free ports with a generated
// configuration and stopped (by its process id) when this object goes.
class Mosquitto {
public:
    struct Options {
        // user name and password; the broker then refuses anonymous clients
        std::optional<std::pair<std::string, std::string>> account{};
        bool tls = false;  // adds the three TLS listeners below
    };
    explicit Mosquitto(Options options);
    ~Mosquitto();
    Mosquitto(const Mosquitto&) = delete;
    Mosquitto& operator=(const Mosquitto&) = delete;

    std::uint16_t port() const { return port_; }
    std::uint16_t tls_ip_port() const { return tls_ip_port_; }          // 127.0.0.1 certificate
    std::uint16_t tls_dns_port() const { return tls_dns_port_; }        // localhost certificate
    std::uint16_t tls_client_port() const { return tls_client_port_; }  // requires a client certificate
    void stop();

private:
    TempDir dir_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
    std::uint16_t tls_ip_port_ = 0;
    std::uint16_t tls_dns_port_ = 0;
    std::uint16_t tls_client_port_ = 0;
};

// One connection accepted by a scripted broker; reads whole packets.
class Peer {
public:
    explicit Peer(asio::ip::tcp::socket socket) : socket_(std::move(socket)) {}
    // The next packet, or nothing once the client closed the connection.
    asio::awaitable<std::optional<trovik::mqtt::codec::Packet>> read();
    asio::awaitable<void> write(const trovik::mqtt::codec::Packet& packet);
    asio::awaitable<void> write_bytes(trovik::core::Bytes bytes);
    // Reads the CONNECT and answers with this CONNACK return code.
    asio::awaitable<trovik::mqtt::codec::Connect> accept_connect(std::uint8_t code = 0);
    void close();

private:
    asio::ip::tcp::socket socket_;
    trovik::core::Bytes buffer_;
};

// A listener on 127.0.0.1 that the test drives packet by packet.
class ScriptedBroker {
public:
    explicit ScriptedBroker(const asio::any_io_executor& executor);
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
    asio::awaitable<Peer> accept();

private:
    asio::ip::tcp::acceptor acceptor_;
};

}  // namespace test
