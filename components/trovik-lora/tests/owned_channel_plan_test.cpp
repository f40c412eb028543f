#include <doctest/doctest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "trovik/lora/owned_channel_plan.hpp"
#include "trovik/lora/region.hpp"

using namespace trovik::lora;
namespace plans = trovik::lora::plans;

namespace {

const ChannelPlan* const all_published[] = {
    &plans::EU868,     &plans::US915,     &plans::EU433,    &plans::AU915, &plans::CN470,
    &plans::AS923,     &plans::KR920,     &plans::IN865,    &plans::RU864, &plans::CN470_20B,
    &plans::CN470_26A, &plans::CN470_26B, &plans::CN470_96,
};

std::vector<std::uint32_t> probe_frequencies(const ChannelPlan& plan) {
    std::vector<std::uint32_t> out{0, 433175000, 868000000, 869525000, 902300000, 923300000, 4294967295u};
    for (const SubBand& band : plan.sub_bands) {
        for (std::uint32_t f : {band.start_hz - 1, band.start_hz, band.end_hz, band.end_hz + 1})
            out.push_back(f);
    }
    return out;
}

// Every query of `b` answers as the same query of `a` does, over every
// number a table could hold and past the end of each.
void check_same_answers(const ChannelPlan& a, const ChannelPlan& b) {
    CHECK(a.name == b.name);
    for (unsigned dr = 0; dr < 256; ++dr) {
        const auto n = static_cast<std::uint8_t>(dr);
        CAPTURE(dr);
        CHECK(a.link_settings(n) == b.link_settings(n));
        CHECK(a.data_rate(n, Direction::Uplink) == b.data_rate(n, Direction::Uplink));
        CHECK(a.data_rate(n, Direction::Downlink) == b.data_rate(n, Direction::Downlink));
        for (PayloadTable table :
             {PayloadTable::UplinkRepeater, PayloadTable::UplinkDirect, PayloadTable::DownlinkRepeater,
              PayloadTable::DownlinkDirect, PayloadTable::DwellLimited}) {
            CHECK(a.max_payload(table, n) == b.max_payload(table, n));
        }
        CHECK(a.next_backoff_data_rate(n) == b.next_backoff_data_rate(n));
        CHECK(a.mask_control(n) == b.mask_control(n));
        if (dr < 20) {
            for (std::uint8_t offset = 0; offset < 10; ++offset) {
                CAPTURE(offset);
                CHECK(a.rx1_data_rate(n, offset, false) == b.rx1_data_rate(n, offset, false));
                CHECK(a.rx1_data_rate(n, offset, true) == b.rx1_data_rate(n, offset, true));
            }
        }
    }
    for (std::uint8_t index = 0; index < 20; ++index) {
        for (std::int8_t ceiling : {-128, -3, 0, 16, 127}) {
            CHECK(a.tx_power_dbm(index, ceiling) == b.tx_power_dbm(index, ceiling));
        }
    }
    CHECK(a.default_channel_count() == b.default_channel_count());
    CHECK(a.downlink_channel_count() == b.downlink_channel_count());
    for (unsigned channel = 0; channel < 200; ++channel) {
        const auto c = static_cast<std::uint16_t>(channel);
        CAPTURE(channel);
        CHECK(a.channel_frequency_hz(c) == b.channel_frequency_hz(c));
        CHECK(a.downlink_channel_frequency_hz(c) == b.downlink_channel_frequency_hz(c));
        CHECK(a.rx1_frequency_hz(c, 868100000) == b.rx1_frequency_hz(c, 868100000));
    }
    for (std::uint32_t f : probe_frequencies(a)) {
        CAPTURE(f);
        CHECK(a.max_eirp_dbm(f) == b.max_eirp_dbm(f));
        CHECK(a.duty_cycle_permille(f) == b.duty_cycle_permille(f));
    }
    for (ChannelSet set : {ChannelSet::Join, ChannelSet::Default, ChannelSet::Downlink}) {
        CHECK(std::ranges::equal(a.channel_blocks(set), b.channel_blocks(set)));
    }
    CHECK(std::ranges::equal(a.sub_bands, b.sub_bands));
    CHECK(std::ranges::equal(a.relay_channels, b.relay_channels));
    CHECK(a.mask_controls == b.mask_controls);
    CHECK(a.rx2() == b.rx2());
    CHECK(a.beacon == b.beacon);
    CHECK(a.default_max_eirp_dbm == b.default_max_eirp_dbm);
    CHECK(a.tx_power_step_db == b.tx_power_step_db);
    CHECK(a.max_tx_power_index == b.max_tx_power_index);
    CHECK(a.max_rx1_data_rate_offset == b.max_rx1_data_rate_offset);
    CHECK(a.kind == b.kind);
    CHECK(a.power_reference == b.power_reference);
    CHECK(a.has_dwell_time_limit == b.has_dwell_time_limit);
    CHECK(a.tx_param_setup == b.tx_param_setup);
    CHECK(a.join_sequence == b.join_sequence);
    CHECK(a.max_payload_dwell_limited.has_value() == b.max_payload_dwell_limited.has_value());
    CHECK(a.rx1_rows_dwell_limited.has_value() == b.rx1_rows_dwell_limited.has_value());
}

}  // namespace

TEST_CASE("an owned copy of a published plan answers every query as the constant does") {
    for (const ChannelPlan* published : all_published) {
        CAPTURE(published->name);
        CAPTURE(cn470_plan_name(published).value_or(""));
        const OwnedChannelPlan owned = OwnedChannelPlan::from_plan(*published);
        owned.with_plan([&](const ChannelPlan& view) {
            check_same_answers(*published, view);
            // ... except its join plans, which the holder reads from the constant.
            CHECK(view.join_plans.empty());
            CHECK(view.join_plan_for_channel(0) == std::nullopt);
            CHECK(join_plan_place(published->join_plans, 9) == published->join_plan_for_channel(9));
            // The view borrows the owned tables rather than the constant's.
            CHECK(view.uplink_data_rates.data() == owned.uplink_data_rates.data());
        });
        // A copy of a view is as good as a copy of the constant.
        const OwnedChannelPlan again =
            owned.with_plan([](const ChannelPlan& view) { return OwnedChannelPlan::from_plan(view); });
        again.with_plan([&](const ChannelPlan& view) { check_same_answers(*published, view); });
    }
}

TEST_CASE("optional tables keep their presence through copies and views") {
    OwnedChannelPlan plan;
    plan.name = "private";
    plan.uplink_data_rates = {DataRate::lora(7, 125000, 5470)};
    plan.rx1_rows = {{0}};
    plan.max_payload_dwell_limited.emplace();  // present, empty
    plan.rx1_rows_dwell_limited.emplace();     // present, no rows

    const OwnedChannelPlan copy = plan.with_plan([](const ChannelPlan& view) {
        CHECK(view.name == "private");
        REQUIRE(view.max_payload_dwell_limited.has_value());
        CHECK(view.max_payload_dwell_limited->empty());
        REQUIRE(view.rx1_rows_dwell_limited.has_value());
        CHECK(view.rx1_rows_dwell_limited->empty());
        CHECK(view.rx1_data_rate(0, 0, false) == std::uint8_t{0});
        CHECK(view.rx1_data_rate(0, 0, true) == std::nullopt);
        return OwnedChannelPlan::from_plan(view);
    });
    REQUIRE(copy.max_payload_dwell_limited.has_value());
    CHECK(copy.max_payload_dwell_limited->empty());
    REQUIRE(copy.rx1_rows_dwell_limited.has_value());
    CHECK(copy.rx1_rows_dwell_limited->empty());

    // Absent stays absent: no fallback to the plain rows.
    const OwnedChannelPlan eu868 = OwnedChannelPlan::from_plan(plans::EU868);
    CHECK_FALSE(eu868.rx1_rows_dwell_limited.has_value());
    CHECK_FALSE(eu868.max_payload_dwell_limited.has_value());
    CHECK(eu868.with_plan([](const ChannelPlan& view) { return view.rx1_data_rate(0, 0, true); }) == std::nullopt);

    // Rows are copied at their own lengths.
    const OwnedChannelPlan as923 = OwnedChannelPlan::from_plan(plans::AS923);
    REQUIRE(as923.rx1_rows_dwell_limited.has_value());
    CHECK(as923.rx1_rows.size() == 14);
    CHECK(as923.rx1_rows[13] == std::vector<std::uint8_t>{13, 12, 5, 4, 3, 2, 13, 13});
    CHECK((*as923.rx1_rows_dwell_limited)[0] == std::vector<std::uint8_t>{2, 2, 2, 2, 2, 2, 2, 2});
}
