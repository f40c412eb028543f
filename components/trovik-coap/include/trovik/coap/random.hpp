#pragma once
// Well-spread 64-bit values for message ids, tokens and retransmission jitter.
#include <cstdint>
#include <span>

namespace trovik::coap {

// SipHash-1-3 of `data` under the 128-bit key (k0, k1).
std::uint64_t siphash13(std::uint64_t k0, std::uint64_t k1, std::span<const std::uint8_t> data) noexcept;

// The wall-clock time hashed under a per-thread key drawn once from the system's
// random source; the key's first half advances at every draw, so two draws at
// the same instant still differ.
std::uint64_t random() noexcept;

}  // namespace trovik::coap
