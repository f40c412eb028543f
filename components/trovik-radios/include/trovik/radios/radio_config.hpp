#pragma once
// What both chip families are configured with, and how one reception ends.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "trovik/lora/link.hpp"
#include "trovik/lora/link_budget.hpp"

namespace trovik::radios {

// The chip family behind a radio.
enum class Family : std::uint8_t { Sx126x, Sx127x };
// "Sx126x" or "Sx127x".
constexpr std::string_view name(Family family) noexcept { return family == Family::Sx127x ? "Sx127x" : "Sx126x"; }

// The LoRa sync word. 0x34 is the public one (LoRaWAN) and 0x12 the private
// one; both have names because the chips spell them in registers of their
// own, while any other byte is carried as it is.
class SyncWord {
public:
    enum class Kind : std::uint8_t { Public, Private, Custom };

    static constexpr SyncWord public_network() noexcept { return SyncWord(Kind::Public, 0x34); }
    static constexpr SyncWord private_network() noexcept { return SyncWord(Kind::Private, 0x12); }
    // 0x34 and 0x12 are the named words; any other byte is a custom one.
    static constexpr SyncWord from_byte(std::uint8_t byte) noexcept {
        if (byte == 0x34) return public_network();
        if (byte == 0x12) return private_network();
        return SyncWord(Kind::Custom, byte);
    }

    constexpr Kind kind() const noexcept { return kind_; }
    constexpr std::uint8_t byte() const noexcept { return byte_; }

    friend constexpr bool operator==(SyncWord, SyncWord) noexcept = default;

private:
    constexpr SyncWord(Kind kind, std::uint8_t byte) noexcept : kind_(kind), byte_(byte) {}
    Kind kind_;
    std::uint8_t byte_;
};

// One LoRa configuration of a radio.
struct RadioConfig {
    std::uint32_t frequency_hz = 0;
    lora::LinkSettings link{7, 125000};
    std::int8_t output_dbm = 0;
    SyncWord sync_word = SyncWord::private_network();
    // The band the receiver is calibrated for; both equal the carrier when
    // no band is given.
    std::uint32_t band_low_hz = 0;
    std::uint32_t band_high_hz = 0;
    bool invert_iq_transmit = false;
    bool invert_iq_receive = false;

    friend bool operator==(const RadioConfig&, const RadioConfig&) = default;
};

// How one reception ended. For a frame, its bytes are in the caller's buffer
// and the levels are in hundredths of a decibel (dBm for the two strengths).
struct RxOutcome {
    enum class Kind : std::uint8_t { Frame, Timeout, Corrupt };
    Kind kind = Kind::Timeout;
    std::size_t length = 0;
    lora::Decibels rssi;
    lora::Decibels snr;
    lora::Decibels signal_rssi;

    static RxOutcome timeout() noexcept { return {}; }
    static RxOutcome corrupt() noexcept { return {Kind::Corrupt, 0, {}, {}, {}}; }
    static RxOutcome frame(std::size_t length, lora::Decibels rssi, lora::Decibels snr,
                           lora::Decibels signal_rssi) noexcept {
        return {Kind::Frame, length, rssi, snr, signal_rssi};
    }

    friend bool operator==(const RxOutcome&, const RxOutcome&) = default;
};

}  // namespace trovik::radios
