#pragma once
// How long the network has been silent to a device running adaptive data
// rate, and what to give back a step at a time: ask for an answer, restore
// the power, lower the data rate, re-enable the default channels, as
// LoRaWAN 1.0.3 or TS001-1.0.4 describes.
#include <cstdint>

namespace trovik::lorawan::device {

struct BackoffStep {
    bool request_ack = false;
    bool restore_power = false;
    bool lower_data_rate = false;
    bool restore_channels = false;
    friend constexpr bool operator==(const BackoffStep&, const BackoffStep&) = default;
};

struct Backoff {
    static constexpr std::uint32_t kAckLimit = 64;
    static constexpr std::uint32_t kAckDelay = 32;

    std::uint32_t adr_ack_cnt = 0;
    std::uint32_t limit = kAckLimit;
    std::uint32_t delay = kAckDelay;
    bool version_1_0_4 = true;
    bool channels_restored = false;  // 1.0.4's last step has been taken since the last downlink

    // The step for an uplink sent when the counter has just become `count`
    // (counter + 1, held at 2^32 - 1). Sets `channels_restored` when it
    // restores the channels; leaves the counter to the caller.
    BackoffStep step(std::uint32_t count, bool at_default_data_rate) noexcept;
    // One more uplink without a downlink: counts it and gives its step.
    BackoffStep uplink(bool at_default_data_rate) noexcept;
    void downlink() noexcept {
        adr_ack_cnt = 0;
        channels_restored = false;
    }

    friend constexpr bool operator==(const Backoff&, const Backoff&) = default;
};

}  // namespace trovik::lorawan::device
