#pragma once
// The WOR acknowledgement a relay answers an uplink WOR with: what it tells
// the device about itself (TS011-1.0.1 table 14), encrypted, with an
// integrity code that also covers where the uplink will follow.
#include <array>
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/lorawan/error.hpp"
#include "trovik/lorawan/relay/codes.hpp"
#include "trovik/lorawan/wor_keys.hpp"

namespace trovik::lorawan::relay {

inline constexpr std::size_t kWorAckSize = 7;

struct StateSync {
    static constexpr std::uint16_t kMaxTOffsetMs = 2047;

    std::uint16_t t_offset_ms = 0;  // 11 bits
    std::uint8_t relay_data_rate = 0;
    CadPeriodicity cad_periodicity = CadPeriodicity::Ms1000;
    CadToRx cad_to_rx = CadToRx::Symbols2;
    ForwardState forward = ForwardState::Available;
    XtalAccuracy xtal_accuracy = XtalAccuracy::Ppm10;

    friend bool operator==(const StateSync&, const StateSync&) = default;
};

// `ack` is the carrier the acknowledgement goes on, `uplink` the one the
// device's uplink follows on; `wfcnt` the full WOR frame counter.
std::expected<std::array<std::uint8_t, kWorAckSize>, LorawanError> wor_ack(const WorKeys& keys, std::uint32_t dev_addr,
                                                                           std::uint32_t wfcnt, const Carrier& ack,
                                                                           const Carrier& uplink,
                                                                           const StateSync& state);

std::expected<StateSync, LorawanError> open_wor_ack(std::span<const std::uint8_t> frame, const WorKeys& keys,
                                                    std::uint32_t dev_addr, std::uint32_t wfcnt, const Carrier& ack,
                                                    const Carrier& uplink);

}  // namespace trovik::lorawan::relay
