#pragma once
// What a LoRaWAN relay (TS011-1.0.1) is configured with: whether it runs and
// on which WOR channels, the end devices it trusts and their keys, the join
// requests it lets through, and four forwarding token buckets. A network
// sets it with the relay MAC commands, which the relay's own end device
// hands to `RelayState::command`; the relay node starts and stops it, reads
// its channels and spends its tokens.
//
// Times are microseconds on the caller's clock; nothing here allocates.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "trovik/lora/channel_plan.hpp"
#include "trovik/lorawan/mac_command.hpp"
#include "trovik/lorawan/relay/codes.hpp"
#include "trovik/lorawan/wor_keys.hpp"

namespace trovik::lorawan::device {
class EndDevice;
}

namespace trovik::lorawan::relay {

inline constexpr std::size_t kTrustedDevices = 16;  // LORAWAN_TRUSTED_ED_NUMBER
inline constexpr std::size_t kJoinFilters = 15;     // entries 1 to 15
inline constexpr std::uint64_t kHourUs = 3600000000;

// The multiplier of a 2-bit bucket-size code, TS011-1.0.1 table 55.
constexpr std::uint16_t bucket_multiplier(std::uint8_t code) noexcept {
    constexpr std::uint16_t kMultipliers[4] = {1, 2, 4, 12};
    return kMultipliers[code & 3];
}

// Tokens credited every whole hour. An unlimited bucket keeps 0 tokens and
// allows everything.
struct TokenBucket {
    bool limited = false;
    std::uint8_t reload_rate = 0;
    std::uint16_t bucket_size = 0;
    std::uint16_t tokens = 0;

    constexpr bool allows() const noexcept { return !limited || tokens > 0; }
    constexpr bool exhausted() const noexcept { return limited && tokens == 0; }
    // Exhausted for good: nothing will ever be credited.
    constexpr bool dead() const noexcept { return exhausted() && reload_rate == 0; }
    constexpr void take() noexcept {
        if (limited && tokens > 0) --tokens;
    }
    // `hours` whole hours' worth, summed wide so the bucket never overflows.
    constexpr void credit(std::uint64_t hours) noexcept {
        if (!limited) return;
        const unsigned __int128 sum = static_cast<unsigned __int128>(hours) * reload_rate + tokens;
        tokens = sum > bucket_size ? bucket_size : static_cast<std::uint16_t>(sum);
    }
    friend constexpr bool operator==(const TokenBucket&, const TokenBucket&) = default;
};

// The relay-wide buckets, per hour.
struct ForwardLimits {
    TokenBucket join_request{true, 4, 8, 4};
    TokenBucket notify{true, 4, 8, 4};
    TokenBucket global_uplink{true, 8, 16, 8};
    TokenBucket overall{true, 8, 16, 8};

    // Rates and size codes in bucket order; a rate of 127 or more lifts the
    // limit. `reset` (TS011-1.0.1 table 63): 0 empties, 1 credits one hour,
    // 2 fills, 3 keeps what a limited bucket held (within its new size).
    void configure(std::uint8_t reset, const std::array<std::uint8_t, 4>& reload_rates,
                   const std::array<std::uint8_t, 4>& size_codes) noexcept;

    std::array<TokenBucket*, 4> buckets() noexcept { return {&join_request, &notify, &global_uplink, &overall}; }
    friend constexpr bool operator==(const ForwardLimits&, const ForwardLimits&) = default;
};

enum class FilterAction : std::uint8_t { Forward = 0, Filter = 1, NoRule = 2 };

// A join filter rule: the leading `eui_len` bytes of JoinEUI then DevEUI,
// most significant first.
struct JoinFilter {
    FilterAction action = FilterAction::NoRule;
    std::array<std::uint8_t, 16> eui{};
    std::uint8_t eui_len = 0;
    friend constexpr bool operator==(const JoinFilter&, const JoinFilter&) = default;
};

struct TrustedDevice {
    WorKeys keys;
    std::uint64_t next_wfcnt = 0;  // the lowest WOR counter still accepted; 2^32 after the last one
    std::uint32_t dev_addr = 0;
    TokenBucket limit;  // its own uplinks
    friend bool operator==(const TrustedDevice&, const TrustedDevice&) = default;
};

struct RelayConfig {
    std::optional<lora::RelayChannel> second_channel;
    lora::RelayChannel default_channel;
    CadPeriodicity cad_periodicity = CadPeriodicity::Ms1000;
    friend constexpr bool operator==(const RelayConfig&, const RelayConfig&) = default;
};

// Whether each scan of `config` (a CAD, then `cad_to_rx` symbols and two
// more) fits its share of the scan period. Channels at a rate that is not
// LoRa are not judged.
bool scans_fit(std::span<const lora::DataRateEntry> downlink_rates, const RelayConfig& config,
               CadToRx cad_to_rx) noexcept;
// Whether a relay on `device` can run `config`: LoRa rates, usable
// frequencies and scans that fit.
bool config_ok(const device::EndDevice& device, const RelayConfig& config, CadToRx cad_to_rx) noexcept;

}  // namespace trovik::lorawan::relay

namespace trovik::lorawan::device {

// A relay's configuration, trusted devices, join filter and limits. It lives
// here because the relay's own end device takes it through its MAC command
// processing, which hands each relay request to `command`.
struct RelayState {
    std::optional<std::uint64_t> hour_origin;  // of the hourly reload grid
    std::optional<relay::RelayConfig> config;  // absent: stopped
    relay::ForwardLimits limits;
    std::array<std::optional<relay::TrustedDevice>, relay::kTrustedDevices> trusted{};
    std::uint64_t hours_counted = 0;  // whole hours since `hour_origin` already credited
    relay::XtalAccuracy xtal_accuracy = relay::XtalAccuracy::Ppm40;
    relay::CadToRx cad_to_rx = relay::CadToRx::Symbols8;
    relay::FilterAction default_filter = relay::FilterAction::Forward;
    std::array<relay::JoinFilter, relay::kJoinFilters> join_filters{};  // entries 1 to 15

    static RelayState fresh(relay::XtalAccuracy xtal_accuracy, relay::CadToRx cad_to_rx) noexcept {
        RelayState s;
        s.xtal_accuracy = xtal_accuracy;
        s.cad_to_rx = cad_to_rx;
        return s;
    }

    // Applies one relay configuration request and returns its answer; none
    // (and no change) for any other command. `device` is the relay's own,
    // whose plan and frequency range bound every channel.
    std::optional<MacCommand> command(const EndDevice& device, const MacCommand& request) noexcept;

    // Credits every whole hour passed since the last call.
    void reload(std::uint64_t now_us) noexcept;
    // The grid starts at the first scan after a start: each limited relay-wide
    // bucket gets one hour's worth.
    void begin_hours(std::uint64_t now_us) noexcept;

    // TS011-1.0.1 table 14 `forward` for the device in slot `slot`.
    relay::ForwardState forward_status(std::uint8_t slot, std::uint64_t now_us) const noexcept;
    // What the join filter does with a join request of JoinEUI then DevEUI,
    // most significant byte first.
    relay::FilterAction join_action(std::span<const std::uint8_t, 16> key) const noexcept;

    friend bool operator==(const RelayState&, const RelayState&) = default;
};

}  // namespace trovik::lorawan::device

namespace trovik::lorawan::relay {
using device::RelayState;
}
