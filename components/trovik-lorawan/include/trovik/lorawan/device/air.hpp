#pragma once
// When an end device may transmit again: the busy time of each sub-band its
// plan limits, the aggregate limit a network imposes with DutyCycleReq, and
// the air-time budget of join requests, which shrinks from the first hour to
// the first eleven hours to each day after.
#include <array>
#include <cstdint>
#include <optional>

#include "trovik/core/saturating.hpp"

namespace trovik::lorawan::device {

using core::saturating_add;

struct Air {
    static constexpr std::size_t kSubBands = 8;

    std::optional<std::uint64_t> join_origin_us;           // when the first join request was allowed
    std::array<std::uint64_t, kSubBands> busy_until_us{};  // by position in the plan's sub-band list
    std::uint64_t aggregate_busy_until_us = 0;
    std::uint64_t join_period = 0;
    std::uint64_t join_spent_us = 0;  // join air time used in `join_period`

    // Nothing when a join of `airtime_us` fits the budget period `now_us`
    // falls in, else when the next period starts. Fixes the origin on the
    // first call and starts each new period's count at 0; the caller adds
    // the air time once the join has gone out.
    std::optional<std::uint64_t> join_allowed(std::uint64_t now_us, std::uint64_t airtime_us) noexcept;

    // Busy times saved relative to a moment, put back against `now_us`: 0
    // stays 0 (free), any other v becomes now_us + v. The join budget starts
    // empty.
    static Air resumed(std::uint64_t now_us, std::uint64_t aggregate_relative_us,
                       const std::array<std::uint64_t, kSubBands>& busy_relative_us) noexcept {
        const auto back = [&](std::uint64_t v) { return v == 0 ? 0 : saturating_add(now_us, v); };
        Air air;
        air.aggregate_busy_until_us = back(aggregate_relative_us);
        for (std::size_t i = 0; i < kSubBands; ++i)
            air.busy_until_us[i] = back(busy_relative_us[i]);
        return air;
    }

    // Forgets the join budget (an accepted join); the busy times stay.
    void clear_join_budget() noexcept {
        join_origin_us.reset();
        join_period = 0;
        join_spent_us = 0;
    }

    friend constexpr bool operator==(const Air&, const Air&) = default;
};

}  // namespace trovik::lorawan::device
