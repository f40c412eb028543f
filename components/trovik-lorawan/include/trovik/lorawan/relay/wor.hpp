#pragma once
// Wake-on-radio frames: what an end device sends ahead of a join request
// (in the clear) or of a Class A uplink (its carrier sealed under the
// device's WOR keys), for a relay to wake up and listen.
#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <variant>

#include "trovik/lorawan/error.hpp"
#include "trovik/lorawan/relay/codes.hpp"
#include "trovik/lorawan/wor_keys.hpp"

namespace trovik::lorawan::relay {

inline constexpr std::size_t kJoinRequestWorSize = 5;
inline constexpr std::size_t kUplinkWorSize = 15;

// An uplink WOR as a relay reads it before it knows the device's keys.
struct SealedWor {
    std::uint32_t dev_addr = 0;
    std::array<std::uint8_t, 4> carrier{};  // encrypted
    std::uint16_t wfcnt = 0;                // the low 16 bits of the WOR frame counter
    std::array<std::uint8_t, 4> mic{};

    // The carrier the uplink follows on. `wfcnt` is the full counter the
    // relay expects; `wor` the carrier the WOR frame was heard on, which the
    // integrity code does not cover: another one gives another carrier.
    std::expected<Carrier, LorawanError> open(const WorKeys& keys, std::uint32_t wfcnt, const Carrier& wor) const;

    friend bool operator==(const SealedWor&, const SealedWor&) = default;
};

// A join-request WOR: where the join request follows.
struct JoinRequestWor {
    Carrier uplink;
    friend bool operator==(const JoinRequestWor&, const JoinRequestWor&) = default;
};

struct Wor {
    std::variant<JoinRequestWor, SealedWor> frame;

    static std::expected<Wor, LorawanError> parse(std::span<const std::uint8_t> bytes);
    friend bool operator==(const Wor&, const Wor&) = default;
};

std::expected<std::array<std::uint8_t, kJoinRequestWorSize>, LorawanError> wor_join_request(const Carrier& uplink);

// `wfcnt` is the full 32-bit WOR frame counter; `uplink` is where the uplink
// follows, `wor` where this frame goes.
std::expected<std::array<std::uint8_t, kUplinkWorSize>, LorawanError> wor_uplink(
    const WorKeys& keys, std::uint32_t dev_addr, std::uint32_t wfcnt, const Carrier& uplink, const Carrier& wor);

}  // namespace trovik::lorawan::relay
