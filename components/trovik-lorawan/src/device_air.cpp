#include "trovik/lorawan/device/air.hpp"

namespace trovik::lorawan::device {

namespace {

constexpr std::uint64_t kHourUs = 3600000000;
constexpr std::uint64_t kElevenHoursUs = 39600000000;
constexpr std::uint64_t kDayUs = 86400000000;
// End of the first day-long period: eleven hours plus a day.
constexpr std::uint64_t kFirstDayEndUs = 126000000000;
constexpr std::uint64_t kEarlyBudgetUs = 36000000;  // 1 % of an hour, and of ten hours
constexpr std::uint64_t kDailyBudgetUs = 8700000;   // 0.01 % of a day

}  // namespace

std::optional<std::uint64_t> Air::join_allowed(std::uint64_t now_us, std::uint64_t airtime_us) noexcept {
    if (!join_origin_us) join_origin_us = now_us;
    const std::uint64_t origin = *join_origin_us;
    const std::uint64_t elapsed = now_us > origin ? now_us - origin : 0;
    std::uint64_t period = 0;
    std::uint64_t budget = kEarlyBudgetUs;
    std::uint64_t end = saturating_add(origin, kHourUs);
    if (elapsed >= kHourUs && elapsed < kElevenHoursUs) {
        period = 1;
        end = saturating_add(origin, kElevenHoursUs);
    } else if (elapsed >= kElevenHoursUs) {
        const std::uint64_t q = (elapsed - kElevenHoursUs) / kDayUs;
        period = q + 2;
        budget = kDailyBudgetUs;
        // q < 2^64 / kDayUs, so q * kDayUs cannot wrap.
        end = saturating_add(saturating_add(origin, kFirstDayEndUs), q * kDayUs);
    }
    if (period != join_period) {
        join_period = period;
        join_spent_us = 0;
    }
    if (saturating_add(join_spent_us, airtime_us) <= budget) return std::nullopt;
    return end;
}

}  // namespace trovik::lorawan::device
