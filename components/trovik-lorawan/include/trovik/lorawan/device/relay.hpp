#pragma once
// The device side of a relay (TS011): the fields an end device keeps about
// the relay it may send through, and the hooks the exchanges call. A device
// that never uses a relay sends every frame straight to a gateway: the hooks
// change nothing and no exchange is made.
#include <cstdint>
#include <optional>

#include "trovik/lora/channel_plan.hpp"
#include "trovik/lorawan/mac_command.hpp"

namespace trovik::lorawan::device {

class EndDevice;

// A wake-on-radio exchange a frame goes out behind.
struct WorExchange {
    std::uint64_t uplink_start_us = 0;  // when the announced frame itself starts
    std::optional<std::uint8_t> relay_window_data_rate;
};

// A relay node's own state (trovik/lorawan/relay/state.hpp): the MAC command
// processing of the device it embeds hands it the five relay configuration
// requests, and the answer it gives goes out with the next uplink.
struct RelayState;

// What a relay's acknowledgment said about itself (TS011 table 14), as codes.
struct RelayStatus {
    std::uint8_t xtal_accuracy = 0;    // 0..3: 10, 20, 30, 40 ppm
    std::uint8_t cad_to_rx = 0;        // 0..3: 2, 4, 6, 8 symbols
    std::uint8_t forward = 0;          // 0..3: available, retry in 30 or 60 minutes, disabled
    std::uint8_t cad_periodicity = 0;  // 0..5: 1 s down to 20 ms
    std::uint8_t relay_data_rate = 0;
    friend constexpr bool operator==(const RelayStatus&, const RelayStatus&) = default;
};

struct DeviceRelay {
    enum class Activation : std::uint8_t { Disabled, Enabled, Dynamic, DeviceControlled };

    std::optional<lora::RelayChannel> second_channel;  // set by the network; every WOR frame then uses it
    std::uint32_t wor_counter = 0;                     // WFCnt of the next uplink WOR frame
    bool relaying = false;                             // frames go out behind a wake-on-radio exchange
    bool automatic_relaying = true;                    // the device's own policy may switch `relaying`
    bool relay_reached = false;
    Activation activation = Activation::DeviceControlled;
    std::optional<RelayStatus> relay_status;  // from the last WOR acknowledgment
    std::uint8_t smart_enable_level = 0;      // relaying turns on after 8 << level unanswered uplinks
    std::uint8_t back_off = 0;                // EndDeviceConfReq's rule for retrying a WOR frame
    std::uint16_t uplinks_unanswered = 0;
    std::uint8_t wor_attempts = 0;
    std::uint8_t default_channel_turn = 0;  // which of the plan's default relay channels comes next
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
