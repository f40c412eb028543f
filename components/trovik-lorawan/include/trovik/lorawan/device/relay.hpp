#pragma once
// The device side of a relay (TS011): the fields an end device keeps about
// the relay it may send through, and the hooks the exchanges call. A device
// that never uses a relay sends every frame straight to a gateway: the hooks
// change nothing and no exchange is made.
#include <cstdint>
#include <optional>

namespace trovik::lorawan::device {

// A wake-on-radio exchange a frame goes out behind.
struct WorExchange {
    std::uint64_t uplink_start_us = 0;  // when the announced frame itself starts
    std::optional<std::uint8_t> relay_window_data_rate;
};

// A relay node's own state, passed through to the MAC command processing of
// the device it embeds.
struct RelayState;

struct DeviceRelay {
    enum class Activation : std::uint8_t { Disabled, Enabled, Dynamic, DeviceControlled };

    bool relaying = false;  // frames go out behind a wake-on-radio exchange
    bool automatic_relaying = false;
    bool relay_reached = false;
    Activation activation = Activation::Disabled;
    std::uint16_t uplinks_unanswered = 0;
    std::uint8_t wor_attempts = 0;
    bool pending_wor = false;

    // A join is about to go out: every fourth attempt tries the relay when
    // the device switches on its own.
    void prepare_join(std::uint32_t join_attempts) noexcept {
        activation = Activation::DeviceControlled;
        if (automatic_relaying) relaying = join_attempts % 4 == 3;
        wor_attempts = 0;
        pending_wor = false;
    }
    // The exchange a frame goes out behind: none while nothing relays.
    std::optional<WorExchange> exchange(std::uint64_t) const noexcept { return std::nullopt; }
    // An accepted join: what it means for the relay is the relay's to say;
    // a device without one keeps its fields as they are.
    void joined(bool) noexcept {}
    void heard_downlink(bool in_relay_window) noexcept {
        uplinks_unanswered = 0;
        if (in_relay_window) relay_reached = true;
    }
    void gave_up() noexcept {
        if (uplinks_unanswered != 0xFFFF) ++uplinks_unanswered;
    }
};

}  // namespace trovik::lorawan::device
