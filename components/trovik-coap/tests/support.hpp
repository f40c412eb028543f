#pragma once
// A multi-threaded runtime to run the endpoints on, and a scripted UDP peer
// written on plain sockets, so the bytes on the wire are checked by code that
// shares nothing with the endpoints under test.
#include <doctest/doctest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/strand.hpp>
#include <asio/use_future.hpp>

#include "trovik/coap/packet.hpp"

namespace test {

using namespace std::chrono_literals;
using trovik::coap::Bytes;

inline Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

struct Runtime {
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
    std::vector<std::thread> threads;

    Runtime() {
        for (int i = 0; i < 3; ++i)
            threads.emplace_back([this] { io.run(); });
    }
    ~Runtime() {
        work.reset();
        io.stop();
        for (auto& t : threads)
            t.join();
    }

    // Starts a coroutine function on the runtime (the function object is kept alive while it runs).
    template <typename F>
    auto start(F f) {
        return asio::co_spawn(io, std::move(f), asio::use_future);
    }

    // Runs it to completion, failing the test if it takes longer than `limit`.
    template <typename F>
    auto run(F f, std::chrono::milliseconds limit = 10s) {
        auto future = start(std::move(f));
        REQUIRE(future.wait_for(limit) == std::future_status::ready);
        return future.get();
    }
};

// A coroutine that a test can cancel: it runs on its own strand, and the
// cancellation is emitted there, as Asio requires.
template <typename F>
struct Cancellable {
    Cancellable(Runtime& rt, F f) : strand(asio::make_strand(rt.io)) {
        future = asio::co_spawn(strand, std::move(f), asio::bind_cancellation_slot(signal.slot(), asio::use_future));
    }
    void cancel() {
        std::promise<void> done;
        asio::post(strand, [&] {
            signal.emit(asio::cancellation_type::terminal);
            done.set_value();
        });
        done.get_future().wait();
    }

    asio::strand<asio::io_context::executor_type> strand;
    asio::cancellation_signal signal;
    decltype(asio::co_spawn(std::declval<asio::strand<asio::io_context::executor_type>&>(), std::declval<F>(),
                            asio::use_future)) future;
};

// A blocking UDP socket on 127.0.0.1 that the test drives step by step.
class Peer {
public:
    Peer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        REQUIRE(fd_ >= 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        REQUIRE(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Peer() { ::close(fd_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    std::uint16_t port() const { return port_; }
    std::uint16_t last_port() const { return ntohs(from_.sin_port); }

    // The next datagram, or nothing within `timeout`; remembers who sent it.
    std::optional<Bytes> receive(std::chrono::milliseconds timeout = 3s) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
        Bytes buffer(65536);
        socklen_t len = sizeof from_;
        ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from_), &len);
        if (n < 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(n));
        return buffer;
    }

    // Sends to whoever sent the last datagram (or to `port` on 127.0.0.1).
    void reply(const Bytes& datagram) { send_to(datagram, from_); }
    void send_to_port(const Bytes& datagram, std::uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        send_to(datagram, a);
    }

private:
    void send_to(const Bytes& datagram, const sockaddr_in& to) {
        REQUIRE(::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
                static_cast<ssize_t>(datagram.size()));
    }

    int fd_ = -1;
    std::uint16_t port_ = 0;
    sockaddr_in from_{};
};

// Whether a UDP socket can bind 127.0.0.1:port now.
inline bool port_is_free(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Waits, a bounded while, for a port to be released.
inline bool port_is_freed(std::uint16_t port) {
    for (int i = 0; i < 100; ++i) {
        if (port_is_free(port)) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

inline trovik::coap::Packet parsed(const std::optional<Bytes>& datagram) {
    REQUIRE(datagram.has_value());
    auto p = trovik::coap::parse(*datagram);
    REQUIRE(p.has_value());
    return *p;
}

}  // namespace test
