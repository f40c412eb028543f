#pragma once
// A link whose next N sends fail, for staging failures without unplugging
// anything: a ladder falling through to its next rung, a buffer filling.
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include <asio/awaitable.hpp>

#include "trovik/core/transport.hpp"

namespace trovik::loopback {

// The error of a send the faulty link refuses.
core::Error simulated_failure();

template <class Inner>
    requires core::Transport<Inner> && core::Receive<Inner>
class FaultyLink {
public:
    FaultyLink(Inner inner, std::uint64_t failures) : inner_(std::move(inner)), remaining_(failures) {}

    // Refused while sends remain to fail (the inner link never sees them);
    // passed on afterwards. The failure is used up before any suspension, so
    // a send cancelled later still counts.
    asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t> payload) {
        if (remaining_ > 0) {
            --remaining_;
            co_return std::unexpected(simulated_failure());
        }
        co_return co_await inner_.send(topic, payload);
    }
    // Connecting, subscribing and receiving work normally throughout.
    asio::awaitable<core::Status> connect() { return inner_.connect(); }
    asio::awaitable<core::Status> subscribe(std::string_view filter) { return inner_.subscribe(filter); }
    asio::awaitable<core::Received> recv() { return inner_.recv(); }

    std::uint64_t remaining() const noexcept { return remaining_; }
    Inner& inner() noexcept { return inner_; }

private:
    Inner inner_;
    std::uint64_t remaining_;
};

}  // namespace trovik::loopback
