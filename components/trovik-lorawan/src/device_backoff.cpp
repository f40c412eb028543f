#include "trovik/lorawan/device/backoff.hpp"

namespace trovik::lorawan::device {

BackoffStep Backoff::step(std::uint32_t c, bool at_default) noexcept {
    BackoffStep s;
    if (c < limit) return s;
    const std::uint32_t d = c - limit;
    if (d < delay) {
        s.request_ack = version_1_0_4 ? !channels_restored : !at_default;
        return s;
    }
    const bool boundary = delay == 0 ? d == 0 : d % delay == 0;
    if (!version_1_0_4) {
        s.request_ack = !at_default;
        s.lower_data_rate = boundary && !at_default;
        return s;
    }
    if (channels_restored) return s;
    s.request_ack = true;
    if (!boundary) return s;
    if (d != delay && at_default) {
        s.restore_channels = true;
        channels_restored = true;
    } else if (d == delay) {
        s.restore_power = true;
    } else {
        s.lower_data_rate = true;
    }
    return s;
}

BackoffStep Backoff::uplink(bool at_default_data_rate) noexcept {
    if (adr_ack_cnt != 0xFFFFFFFF) ++adr_ack_cnt;
    return step(adr_ack_cnt, at_default_data_rate);
}

}  // namespace trovik::lorawan::device
