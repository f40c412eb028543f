#pragma once
// The join channels of a plan, numbered as every join and the accept that
// answers it count them: the runs of its join plans when it has any, else
// its join channel blocks, every channel of every block counting in list
// order (the number held at 65535).
#include <algorithm>
#include <cstdint>

#include "trovik/lora/channel_plan.hpp"

namespace trovik::lorawan::device {

struct JoinChannel {
    std::uint16_t number = 0;
    std::uint32_t uplink_hz = 0;
    std::uint32_t downlink_hz = 0;  // where the first join-accept window listens
    const lora::ChannelBlock* block = nullptr;
    const lora::JoinPlan* run = nullptr;  // the join-plan run holding it, if any
};

// f(block, run) for each join block in list order.
template <class F>
void for_each_join_block(const lora::ChannelPlan& plan, F&& f) {
    if (!plan.join_plans.empty()) {
        for (const auto& run : plan.join_plans)
            f(run.channels, &run);
    } else {
        for (const auto& block : plan.join_channels)
            f(block, static_cast<const lora::JoinPlan*>(nullptr));
    }
}

// f(channel) for every join channel, in numbering order.
template <class F>
void for_each_join_channel(const lora::ChannelPlan& plan, F&& f) {
    std::uint32_t number = 0;
    for_each_join_block(plan, [&](const lora::ChannelBlock& block, const lora::JoinPlan* run) {
        for (std::uint16_t k = 0; k < block.count; ++k, ++number) {
            const auto n = static_cast<std::uint16_t>(std::min<std::uint32_t>(number, 0xFFFF));
            const std::uint32_t up = block.channel_hz(k);
            std::uint32_t down = 0;
            if (run && run->plan)
                down = run->accept_start_hz + std::uint32_t{k} * run->accept_step_hz;
            else
                down = plan.rx1_frequency_hz(n, up).value_or(up);
            f(JoinChannel{n, up, down, &block, run});
        }
    });
}

}  // namespace trovik::lorawan::device
