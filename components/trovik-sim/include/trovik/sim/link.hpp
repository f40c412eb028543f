#pragma once
// A degraded link: it loses every k-th packet and goes down for part of a
// repeating cycle of sends, so a program can stage a bad radio path.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include <asio/awaitable.hpp>

#include "trovik/core/transport.hpp"

namespace trovik::sim {

// Up for `up` sends, then down for `down` sends, over and over.
struct Cycle {
    std::uint32_t up;
    std::uint32_t down;
    // up + down modulo 2^32; never 0 for a cycle made by cycle_of.
    std::uint32_t length() const noexcept { return up + down; }
};

// The cycle of a link built with `up` and `down`: none when `up` is 0 or the
// 32-bit sum is 0, so a cycle always has a length.
std::optional<Cycle> cycle_of(std::uint32_t up, std::uint32_t down) noexcept;

// Whether the send numbered `n` from 0 (the count before it) is refused:
// "link unreachable" in the down part of the cycle, checked first; then
// "packet lost on a lossy link" when n + 1 (wrapping) is a multiple of
// `drop_every`, 0 meaning never.
std::optional<core::Error> degraded_refusal(std::uint32_t n, std::uint32_t drop_every, std::optional<Cycle> cycle);

template <class Inner>
    requires core::Transport<Inner> && core::Receive<Inner>
class DegradedLink {
public:
    DegradedLink(Inner inner, std::uint32_t drop_every, std::uint32_t up, std::uint32_t down)
        : inner_(std::move(inner)), drop_every_(drop_every), cycle_(cycle_of(up, down)) {}

    // Every send counts itself first, before any suspension, whatever becomes
    // of it; so refusals never shift the positions of later ones.
    asio::awaitable<core::Status> send(std::string_view topic, std::span<const std::uint8_t> payload) {
        const std::uint32_t n = sent_++;
        if (auto refused = degraded_refusal(n, drop_every_, cycle_)) co_return std::unexpected(std::move(*refused));
        co_return co_await inner_.send(topic, payload);
    }
    // Neither reads nor restarts the count.
    asio::awaitable<core::Status> connect() { return inner_.connect(); }
    asio::awaitable<core::Status> subscribe(std::string_view filter) { return inner_.subscribe(filter); }
    asio::awaitable<core::Received> recv() { return inner_.recv(); }

    std::uint32_t sent() const noexcept { return sent_; }
    Inner& inner() noexcept { return inner_; }

private:
    Inner inner_;
    std::uint32_t drop_every_;
    std::uint32_t sent_ = 0;
    std::optional<Cycle> cycle_;
};

}  // namespace trovik::sim
