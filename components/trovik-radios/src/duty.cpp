#include "trovik/radios/duty.hpp"

#include <algorithm>

namespace trovik::radios::duty {

namespace {

constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept {
    return a > DutyCycle::never - b ? DutyCycle::never : a + b;
}

}  // namespace

std::uint64_t DutyCycle::transmitted(std::uint64_t started_us, const lora::LinkSettings& link,
                                     std::uint64_t payload_len) noexcept {
    const std::uint64_t airtime = link.airtime_us(payload_len);
    if (permille_ != 0) {
        const std::uint64_t off = link.min_off_time_us(payload_len, std::min<std::uint32_t>(permille_, 1000));
        const std::uint64_t earliest = saturating_add(saturating_add(started_us, airtime), off);
        earliest_ = std::max(earliest_, earliest);
    }
    return airtime;
}

}  // namespace trovik::radios::duty
