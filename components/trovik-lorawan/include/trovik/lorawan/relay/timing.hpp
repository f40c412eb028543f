#pragma once
// When a relay scans, and when an end device's WOR frame must go out to meet
// a scan (TS011-1.0.1 appendix 1 and section 5.2). Times are microseconds
// of the caller's clock.
#include <cstdint>
#include <optional>

#include "trovik/lora/channel_plan.hpp"
#include "trovik/lorawan/relay/ack.hpp"
#include "trovik/lorawan/relay/codes.hpp"

namespace trovik::lorawan::relay {

// The exchange's fixed delays, from the end of one frame to the start of the
// next, and how many WOR frames may go unanswered before a device gives up
// on its relay.
inline constexpr std::uint64_t kWorAckDelayUs = 50000;   // WOR frame to WOR ACK
inline constexpr std::uint64_t kWorDataDelayUs = 50000;  // WOR frame (or its ACK) to the frame announced
inline constexpr std::uint64_t kForwardDelayUs = 50000;  // end-device frame to the relay's forward
inline constexpr std::uint64_t kRxrDelayUs = 18000000;   // end-device frame to the relay window RXR
inline constexpr std::uint8_t kWorAttemptsWithoutAck = 8;

// The milliseconds from a scan's start to the end of a WOR preamble, rounded
// up; none when the preamble ended before the scan or more than 2047 ms
// after it.
std::optional<std::uint16_t> t_offset_ms(std::uint64_t scan_start_us, std::uint64_t preamble_end_us) noexcept;

struct WorSlot {
    std::uint64_t start_us = 0;
    std::uint16_t preamble_symbols = 0;
    friend bool operator==(const WorSlot&, const WorSlot&) = default;
};

// What a device knows of a relay's scans once a WOR ACK has arrived.
struct Synchronization {
    std::uint64_t reference_us = 0;  // a moment the relay started a scan
    CadPeriodicity cad_periodicity = CadPeriodicity::Ms1000;
    XtalAccuracy relay_xtal = XtalAccuracy::Ppm10;
    CadToRx cad_to_rx = CadToRx::Symbols2;

    // After a WOR that started at `wor_start_us` with a preamble of
    // `preamble_symbols` of `symbol_us` each was answered with `state`.
    static Synchronization after_ack(std::uint64_t wor_start_us, std::uint16_t preamble_symbols,
                                     std::uint64_t symbol_us, const StateSync& state) noexcept;

    // The first slot at or after `now_us`, widened for both crystals' drift
    // since the reference; none once the drift outgrows a scan period.
    // `other_channel`: the WOR goes out on the relay's other WOR channel than
    // the one this synchronization was taken on, scanned half a period later.
    std::optional<WorSlot> next_wor(std::uint64_t now_us, std::uint32_t device_xtal_ppm, std::uint64_t symbol_us,
                                    bool other_channel) const noexcept;

    friend bool operator==(const Synchronization&, const Synchronization&) = default;
};

// The preamble a device that knows nothing of a relay's scans sends, so that
// it spans a whole scan period.
std::uint16_t unsynchronized_preamble(CadPeriodicity cad_periodicity, std::uint64_t symbol_us,
                                      CadToRx cad_to_rx) noexcept;

// The second channel a relay or end-device configuration describes; none
// unless `second_channel_index` is 1 and `ack_offset` names an offset.
std::optional<lora::RelayChannel> second_channel(std::uint8_t second_channel_index, std::uint8_t data_rate,
                                                 std::uint8_t ack_offset, std::uint32_t frequency_hz) noexcept;

}  // namespace trovik::lorawan::relay
