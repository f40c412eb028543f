#pragma once
// An end device's uplink as a relay forwards it to the network, on port 226
// (TS011-1.0.1 section 9.1): what the relay heard of it, then the frame
// unchanged.
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/lorawan/error.hpp"
#include "trovik/lorawan/relay/codes.hpp"

namespace trovik::lorawan::relay {

inline constexpr std::uint8_t kRelayPort = 226;
inline constexpr std::size_t kForwardOverhead = 6;

// Levels travel from -142 to -15 dBm and -20 to 11 dB; values outside are
// written as the nearest bound.
struct ForwardedUplink {
    std::uint8_t data_rate = 0;
    std::int8_t snr_db = 0;
    std::int16_t rssi_dbm = 0;
    WorChannel wor_channel = WorChannel::Default;
    std::uint32_t frequency_hz = 0;
    std::span<const std::uint8_t> phy_payload{};  // borrowed: from the parsed payload, or the caller's

    // The frame is not looked at; it may be empty.
    static std::expected<ForwardedUplink, LorawanError> parse(std::span<const std::uint8_t> payload);
    // Returns the length written, 6 + the frame's.
    std::expected<std::size_t, LorawanError> encode(std::span<std::uint8_t> out) const;
};

}  // namespace trovik::lorawan::relay
