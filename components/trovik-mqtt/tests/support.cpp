#include "support.hpp"

#include <doctest/doctest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <asio/co_spawn.hpp>
#include <asio/connect.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/io_context.hpp>
#include <asio/read.hpp>
#include <asio/strand.hpp>
#include <asio/write.hpp>

extern char** environ;

namespace test {

using asio::ip::tcp;
namespace codec = trovik::mqtt::codec;

void run_async(const Body& body, std::chrono::seconds limit) {
    asio::io_context io;
    std::mutex mutex;
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    // The body runs on a strand, as callers of the asynchronous primitives
    // must; it is handed the context's own executor, so whatever it builds on
    // that runs on three threads at once.
    asio::co_spawn(asio::make_strand(io), body(io.get_executor()), [&](std::exception_ptr e) {
        std::lock_guard guard(mutex);
        failure = e;
        done = true;
    });
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i)
        threads.emplace_back([&] { io.run(); });

    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    const bool timed_out = !done;
    // What the body started (aborted event loops, say) winds down on its own.
    const auto drain = std::chrono::steady_clock::now() + 5s;
    while (!io.stopped() && std::chrono::steady_clock::now() < drain)
        std::this_thread::sleep_for(5ms);
    const bool drained = io.stopped();
    io.stop();
    for (auto& thread : threads)
        thread.join();
    if (timed_out) FAIL("the test did not finish in time");
    CHECK_MESSAGE(drained, "work was left running after the test body finished");
    if (failure) std::rethrow_exception(failure);
}

asio::awaitable<void> sleep(std::chrono::milliseconds duration) {
    asio::steady_timer timer(co_await asio::this_coro::executor, duration);
    co_await timer.async_wait(asio::use_awaitable);
}

trovik::core::Bytes bytes(std::string_view text) { return trovik::core::Bytes(text.begin(), text.end()); }
std::string text(const trovik::core::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "trovik-mqtt-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
    path_ = pattern;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                            std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                            std::filesystem::perms::others_exec);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(const std::string& name, std::string_view content) const {
    auto file = path_ / name;
    std::ofstream(file, std::ios::binary) << content;
    return file;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

namespace {

void shell(const std::string& command) {
    const std::string quiet = command + " >/dev/null 2>&1";
    if (std::system(quiet.c_str()) != 0) throw std::runtime_error("command failed: " + command);
}

Certificates make_certificates() {
    static TempDir dir;
    const std::string d = dir.path().string() + "/";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    auto ca = [&](const std::string& name, const std::string& cn) {
        shell("openssl req -x509" + ec + " -keyout " + d + name + ".key -out " + d + name + ".crt -days 3 -subj '/CN=" +
              cn + "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
    };
    auto signed_by_ca = [&](const std::string& name, const std::string& key_options, const std::string& extensions) {
        dir.write(name + ".ext", extensions);
        shell("openssl req -new" + key_options + " -out " + d + name + ".csr -subj '/CN=" + name + "'");
        shell("openssl x509 -req -in " + d + name + ".csr -CA " + d + "ca.crt -CAkey " + d +
              "ca.key -CAcreateserial -days 3 -out " + d + name + ".crt -extfile " + d + name + ".ext");
    };
    ca("ca", "Trovik Test CA");
    ca("other_ca", "Some Other CA");
    const std::string server_ext = "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    signed_by_ca("server_ip", ec + " -keyout " + d + "server_ip.key", server_ext + "subjectAltName=IP:127.0.0.1\n");
    signed_by_ca("server_dns", ec + " -keyout " + d + "server_dns.key", server_ext + "subjectAltName=DNS:localhost\n");
    const std::string client_ext = "basicConstraints=CA:FALSE\nextendedKeyUsage=clientAuth\n";
    signed_by_ca("client", ec + " -keyout " + d + "client.key", client_ext);
    shell("openssl ec -in " + d + "client.key -out " + d + "client_sec1.key");
    shell("openssl genrsa -traditional -out " + d + "rsa_client.key 2048");
    signed_by_ca("rsa_client", " -key " + d + "rsa_client.key", client_ext);

    auto file = [&](const std::string& name) { return read_file(dir.path() / name); };
    Certificates certs;
    certs.dir = dir.path();
    certs.ca = file("ca.crt");
    certs.other_ca = file("other_ca.crt");
    certs.server_ip = file("server_ip.crt");
    certs.server_ip_key = file("server_ip.key");
    certs.server_dns = file("server_dns.crt");
    certs.server_dns_key = file("server_dns.key");
    certs.client = file("client.crt");
    certs.client_key = file("client.key");
    certs.client_key_sec1 = file("client_sec1.key");
    certs.rsa_client = file("rsa_client.crt");
    certs.rsa_client_key = file("rsa_client.key");
    return certs;
}

bool accepts_connections(std::uint16_t port) {
    asio::io_context io;
    tcp::socket socket(io);
    std::error_code ec;
    socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), ec);
    return !ec;
}

}  // namespace

const Certificates& certificates() {
    static const Certificates certs = make_certificates();
    return certs;
}

std::uint16_t free_port() {
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    return acceptor.local_endpoint().port();
}

Mosquitto::Mosquitto(Options options) {
    port_ = free_port();
    std::string config;
    if (geteuid() == 0) config += "user root\n";  // keeps the broker able to read this directory
    config += "persistence false\n";
    config += "log_dest file " + (dir_.path() / "mosquitto.log").string() + "\n";
    if (options.account) {
        const auto passwords = dir_.write("passwords", "");
        shell("mosquitto_passwd -b " + passwords.string() + " " + options.account->first + " " +
              options.account->second);
        config += "allow_anonymous false\npassword_file " + passwords.string() + "\n";
    } else {
        config += "allow_anonymous true\n";
    }
    config += "listener " + std::to_string(port_) + " 127.0.0.1\n";
    std::vector<std::uint16_t> ports{port_};
    if (options.tls) {
        const auto& certs = certificates();
        const auto d = certs.dir.string() + "/";
        tls_ip_port_ = free_port();
        tls_dns_port_ = free_port();
        tls_client_port_ = free_port();
        auto listener = [&](std::uint16_t port, const std::string& server, bool require_certificate) {
            config += "listener " + std::to_string(port) + " 127.0.0.1\n";
            config += "cafile " + d + "ca.crt\ncertfile " + d + server + ".crt\nkeyfile " + d + server + ".key\n";
            if (require_certificate) config += "require_certificate true\n";
        };
        listener(tls_ip_port_, "server_ip", false);
        listener(tls_dns_port_, "server_dns", false);
        listener(tls_client_port_, "server_ip", true);
        ports.insert(ports.end(), {tls_ip_port_, tls_dns_port_, tls_client_port_});
    }
    const auto config_file = dir_.write("mosquitto.conf", config);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string program = "/usr/sbin/mosquitto";
    std::string flag = "-c";
    std::string path = config_file.string();
    char* argv[] = {program.data(), flag.data(), path.data(), nullptr};
    const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start mosquitto");

    const auto deadline = std::chrono::steady_clock::now() + 10s;
    for (auto port : ports) {
        while (!accepts_connections(port)) {
            if (std::chrono::steady_clock::now() > deadline) {
                stop();
                throw std::runtime_error("mosquitto did not start: " + read_file(dir_.path() / "mosquitto.log"));
            }
            std::this_thread::sleep_for(20ms);
        }
    }
}

Mosquitto::~Mosquitto() { stop(); }

void Mosquitto::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    pid_ = -1;
}

asio::awaitable<std::optional<codec::Packet>> Peer::read() {
    constexpr auto use_tuple = asio::experimental::as_tuple(asio::use_awaitable);
    for (;;) {
        auto header = codec::read_header(buffer_);
        if (!header) throw std::runtime_error("the client sent a malformed header: " + header.error());
        if (*header && buffer_.size() >= (*header)->packet_size()) {
            const auto& h = **header;
            auto packet = codec::decode(h, std::span(buffer_).subspan(h.header_length, h.remaining_length));
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(h.packet_size()));
            if (!packet) throw std::runtime_error("the client sent a malformed packet: " + packet.error());
            co_return std::move(*packet);
        }
        std::array<std::uint8_t, 4096> chunk;
        auto [ec, count] = co_await socket_.async_read_some(asio::buffer(chunk), use_tuple);
        if (ec) co_return std::nullopt;
        buffer_.insert(buffer_.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count));
    }
}

asio::awaitable<void> Peer::write(const codec::Packet& packet) { co_await write_bytes(codec::encode(packet)); }

asio::awaitable<void> Peer::write_bytes(trovik::core::Bytes bytes) {
    co_await asio::async_write(socket_, asio::buffer(bytes), asio::use_awaitable);
}

asio::awaitable<codec::Connect> Peer::accept_connect(std::uint8_t code) {
    auto packet = co_await read();
    REQUIRE(packet.has_value());
    auto* connect = std::get_if<codec::Connect>(&*packet);
    REQUIRE(connect != nullptr);
    co_await write(codec::ConnAck{false, code});
    co_return std::move(*connect);
}

void Peer::close() {
    std::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

ScriptedBroker::ScriptedBroker(const asio::any_io_executor& executor)
    : acceptor_(executor, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {}

asio::awaitable<Peer> ScriptedBroker::accept() {
    auto socket = co_await acceptor_.async_accept(asio::use_awaitable);
    co_return Peer(std::move(socket));
}

}  // namespace test
