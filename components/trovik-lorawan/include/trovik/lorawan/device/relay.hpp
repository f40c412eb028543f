#pragma once
// The device side of a relay (TS011-1.0.1): the fields an end device keeps
// about the relay it may send through, the wake-on-radio exchange a frame
// goes out behind, and the policy that turns relaying on and off. A device
// that never relays sends every frame straight to a gateway.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "trovik/lora/channel_plan.hpp"
#include "trovik/lora/link.hpp"
#include "trovik/lorawan/device/window.hpp"
#include "trovik/lorawan/mac_command.hpp"
#include "trovik/lorawan/relay/codes.hpp"
#include "trovik/lorawan/relay/timing.hpp"
#include "trovik/lorawan/relay/wor.hpp"

namespace trovik::lorawan::device {

// The frame that wakes a relay, and where it goes: sent with inverted IQ.
struct WakeUp {
    std::array<std::uint8_t, relay::kUplinkWorSize> bytes{};
    std::size_t len = 0;  // 5 ahead of a join request, 15 ahead of an uplink
    std::uint64_t start_us = 0;
    relay::Carrier carrier;
    lora::LinkSettings link{7, 125000};  // with the preamble this frame needs
    std::uint64_t airtime_us = 0;
    std::int8_t output_dbm = 0;  // conducted

    std::span<const std::uint8_t> frame() const noexcept { return {bytes.data(), len}; }
};

// When and where a relay's acknowledgment would arrive.
struct AckWindow {
    std::uint64_t start_us = 0;
    relay::Carrier carrier;
    lora::LinkSettings link{7, 125000};
    std::uint64_t airtime_us = 0;
};

// The wake-on-radio exchange a frame goes out behind.
struct RelayExchange {
    WakeUp wake_up;
    std::optional<AckWindow> ack;  // none ahead of a join request: no relay acknowledges one
    std::uint64_t uplink_start_us = 0;
    ReceiveWindow rxr;  // timed from the end of the frame, received with inverted IQ and a payload CRC
};

// The exchange whose acknowledgment is awaited.
struct PendingWor {
    std::uint64_t wor_start_us = 0;
    std::uint32_t wor_frequency_hz = 0;
    std::uint8_t wor_data_rate = 0;
    std::uint32_t ack_frequency_hz = 0;
    std::uint8_t ack_data_rate = 0;
    std::uint32_t uplink_frequency_hz = 0;
    std::uint8_t uplink_data_rate = 0;
    std::uint64_t symbol_us = 0;  // of the WOR data rate
    std::uint32_t wfcnt = 0;      // 0 ahead of a join request
    std::uint16_t preamble_symbols = 0;
    bool join = false;
    std::uint8_t channel = 0;  // 0 a default relay channel, 1 the second channel
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
    // How the device reports what it knows of its relay's scans.
    enum class Sync : std::uint8_t { Initialized, Synchronized, Unsynchronized };

    std::optional<lora::RelayChannel> second_channel;  // set by the network; every WOR frame then uses it
    std::optional<PendingWor> pending_wor;             // the exchange whose acknowledgment is awaited
    std::optional<relay::Synchronization> relay_sync;  // when the relay scans, in device time
    std::uint32_t wor_counter = 0;                     // WFCnt of the next uplink WOR frame
    std::uint16_t uplinks_unanswered = 0;
    bool relaying = false;            // frames go out behind a wake-on-radio exchange
    bool automatic_relaying = true;   // the device's own policy may switch `relaying`
    bool relay_reached = false;       // an acknowledgment, or a downlink in the relay window, arrived
    std::uint8_t synced_channel = 0;  // the channel of the exchange whose acknowledgment set `relay_sync`
    Activation activation = Activation::DeviceControlled;
    std::optional<RelayStatus> relay_status;  // from the last WOR acknowledgment
    std::uint8_t smart_enable_level = 0;      // relaying turns on after 8 << level unanswered uplinks
    std::uint8_t back_off = 0;                // EndDeviceConfReq's rule for retrying a WOR frame
    std::uint8_t wor_attempts = 0;            // WOR frames in a row without an acknowledgment
    std::uint8_t default_channel_turn = 0;    // which of the plan's default relay channels comes next
    // The turn of the default relay channel the frame in flight was announced
    // on; none when it went without a WOR frame or on the second channel. An
    // answer in the relay window proves a relay scans that channel, whatever
    // the turn moved to after a lost acknowledgment. Only a transmission
    // waiting on its windows needs it, so it is never saved.
    std::optional<std::uint8_t> announced_turn;

    Sync sync() const noexcept {
        if (relay_sync) return Sync::Synchronized;
        return relay_status || relay_reached ? Sync::Unsynchronized : Sync::Initialized;
    }

    // The caller takes the decision over from the device's own policy; refused
    // (false, nothing changed) while the network holds it.
    bool use(bool on) noexcept;
    // A join request is about to go out: every fourth attempt tries the relay
    // when the device switches on its own.
    void prepare_join(std::uint32_t join_attempts) noexcept;
    void joined(bool in_relay_window) noexcept;
    void heard_downlink(bool in_relay_window) noexcept {
        uplinks_unanswered = 0;
        if (in_relay_window) reached_through_relay();
    }
    // An uplink's last window closed empty with no repetition left.
    void gave_up() noexcept;
    // An answer arrived in the relay window: the relay heard the frame's WOR
    // frame, so the device stays on that channel.
    void reached_through_relay() noexcept;
};

}  // namespace trovik::lorawan::device
