#include <doctest/doctest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>

#include "trovik/lora/channel_plan.hpp"
#include "trovik/lora/owned_channel_plan.hpp"
#include "trovik/lora/region.hpp"

using namespace trovik::lora;
namespace plans = trovik::lora::plans;

// Counts every allocation the test program makes, so a test can show that a
// stretch of code makes none.
namespace {
std::size_t allocations = 0;
}
void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

TEST_CASE("sub-band lookups: bounds inclusive, first match wins, no default duty cycle") {
    struct Case {
        std::uint32_t frequency_hz;
        std::int8_t max_eirp_dbm;
        std::optional<std::uint32_t> duty_cycle_permille;
    };
    const Case eu868[] = {
        {868000000, 16, 10},           {868600000, 16, 10},           {869400000, 27, 100},
        {869650000, 27, 100},          {869650001, 16, std::nullopt}, {867999999, 16, std::nullopt},
        {867100000, 16, std::nullopt},
    };
    for (const Case& c : eu868) {
        CAPTURE(c.frequency_hz);
        CHECK(plans::EU868.max_eirp_dbm(c.frequency_hz) == c.max_eirp_dbm);
        CHECK(plans::EU868.duty_cycle_permille(c.frequency_hz) == c.duty_cycle_permille);
    }

    // Unrestricted in time but with their own ceilings; the gap between them
    // falls back to the plan default.
    CHECK(plans::KR920.max_eirp_dbm(921900000) == 10);
    CHECK(plans::KR920.max_eirp_dbm(922100000) == 14);
    CHECK(plans::KR920.max_eirp_dbm(922000000) == 14);
    CHECK(plans::KR920.duty_cycle_permille(921000000) == 1000u);
    CHECK(plans::KR920.duty_cycle_permille(922000000) == std::nullopt);

    for (std::uint32_t f : {0u, 902300000u, 923300000u, 4294967295u}) {
        CAPTURE(f);
        CHECK(plans::US915.duty_cycle_permille(f) == std::nullopt);
        CHECK(plans::US915.max_eirp_dbm(f) == 30);
    }

    // Overlapping, unsorted sub-bands: the first in list order applies.
    const SubBand overlapping[] = {{100, 200, 50, 5}, {0, 1000, 1000, 20}};
    ChannelPlan plan = plans::EU868;
    plan.sub_bands = overlapping;
    CHECK(plan.max_eirp_dbm(150) == 5);
    CHECK(plan.duty_cycle_permille(150) == 50u);
    CHECK(plan.max_eirp_dbm(201) == 20);
    CHECK(plan.max_eirp_dbm(1001) == plan.default_max_eirp_dbm);
}

TEST_CASE("link settings come from LoRa uplink rates only") {
    const LinkSettings sf7_250 = *plans::EU868.link_settings(6);
    CHECK(sf7_250 == LinkSettings(7, 250000));
    CHECK(sf7_250.coding_rate_denominator() == 5);
    CHECK(sf7_250.preamble_symbols == 8);
    CHECK(sf7_250.explicit_header);
    CHECK(sf7_250.crc);
    CHECK(plans::EU868.link_settings(7) == std::nullopt);   // FSK
    CHECK(plans::EU868.link_settings(8) == std::nullopt);   // LR-FHSS
    CHECK(plans::EU868.link_settings(14) == std::nullopt);  // past the end
    CHECK(plans::EU433.link_settings(8) == std::nullopt);   // reserved

    // The uplink table, even where the downlink number means something else.
    CHECK(plans::US915.link_settings(8) == LinkSettings(5, 125000));
    CHECK(plans::US915.link_settings(9) == std::nullopt);

    CHECK(DataRate::fsk(50000).link_settings() == std::nullopt);
    CHECK(DataRate::lr_fhss(1, 3, 137000, 162).link_settings() == std::nullopt);
    // A built plan may carry any LoRa numbers; the settings clamp them.
    CHECK(DataRate::lora(13, 0, 0).link_settings() == LinkSettings(12, 1));
}

TEST_CASE("RX1 frequency: the uplink's own, or the downlink channel it maps to") {
    for (std::uint16_t channel : {0, 2, 7, 65535}) {
        CAPTURE(channel);
        CHECK(plans::EU868.rx1_frequency_hz(channel, 868300000) == 868300000u);
    }
    CHECK(plans::US915.rx1_frequency_hz(65, 0) == 923900000u);
    CHECK(plans::US915.rx1_frequency_hz(8, 902300000) == 923300000u);
    CHECK(plans::US915.rx1_frequency_hz(71, 0) == 927500000u);
    CHECK(plans::AU915.rx1_frequency_hz(64, 915900000) == 923300000u);

    // Counts that add past 65535 wrap the 16-bit total the channel is folded
    // into; a total that wraps to 0 answers on the uplink frequency.
    const ChannelBlock huge[] = {{1000, 1, 65535, 0, 0}, {5000000, 1, 3, 0, 0}};
    ChannelPlan plan = plans::US915;
    plan.downlink_channels = huge;
    CHECK(plan.downlink_channel_count() == 2);
    CHECK(plan.rx1_frequency_hz(3, 0) == 1001u);

    const ChannelBlock wrap_to_zero[] = {{1000, 1, 65535, 0, 0}, {5000000, 1, 1, 0, 0}};
    plan.downlink_channels = wrap_to_zero;
    CHECK(plan.rx1_frequency_hz(5, 777) == 777u);

    // Empty blocks take no channel numbers.
    const ChannelBlock with_empty[] = {{0, 1, 0, 0, 0}, {1000, 100, 4, 0, 0}};
    plan.downlink_channels = with_empty;
    CHECK(plan.rx1_frequency_hz(6, 5) == 1200u);
}

TEST_CASE("channel counts and numbered channel frequencies") {
    struct Case {
        const ChannelPlan* plan;
        std::uint16_t default_count;
        std::uint16_t downlink_count;
    };
    const Case cases[] = {
        {&plans::EU868, 3, 0},       {&plans::US915, 72, 8},     {&plans::AU915, 72, 8}, {&plans::CN470, 64, 64},
        {&plans::CN470_26A, 48, 24}, {&plans::CN470_96, 96, 48}, {&plans::IN865, 3, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.plan->name);
        CHECK(c.plan->default_channel_count() == c.default_count);
        CHECK(c.plan->downlink_channel_count() == c.downlink_count);
        CHECK(c.plan->channel_frequency_hz(c.default_count) == std::nullopt);
        CHECK(c.plan->downlink_channel_frequency_hz(c.downlink_count) == std::nullopt);
    }
    CHECK(plans::EU868.channel_frequency_hz(2) == 868500000u);
    CHECK(plans::EU868.channel_frequency_hz(3) == std::nullopt);
    CHECK(plans::US915.channel_frequency_hz(63) == 914900000u);
    CHECK(plans::US915.channel_frequency_hz(64) == 903000000u);
    CHECK(plans::US915.downlink_channel_frequency_hz(7) == 927500000u);
    CHECK(plans::EU868.downlink_channel_frequency_hz(0) == std::nullopt);
    // Each one-channel block adds one channel to the numbering.
    CHECK(plans::IN865.channel_frequency_hz(1) == 865402500u);

    // Frequencies wrap at 2^32 and counts at 2^16.
    const ChannelBlock wrapping[] = {{4294967000u, 1000, 3, 0, 0}, {7, 0, 65535, 0, 0}};
    ChannelPlan plan = plans::EU868;
    plan.default_channels = wrapping;
    CHECK(plan.channel_frequency_hz(1) == 704u);
    CHECK(plan.default_channel_count() == 2);
    CHECK(plan.channel_frequency_hz(65000) == 7u);
}

TEST_CASE("data rates by number and direction") {
    CHECK(plans::US915.data_rate(0, Direction::Downlink) == DataRateEntry(DataRate::lora(5, 500000, 62500)));
    CHECK(plans::US915.data_rate(1, Direction::Downlink) == std::optional<DataRateEntry>(std::in_place));
    CHECK(plans::US915.data_rate(14, Direction::Downlink) == DataRateEntry(DataRate::lora(6, 500000, 37500)));
    CHECK(plans::US915.data_rate(15, Direction::Downlink) == std::nullopt);
    CHECK(plans::US915.data_rate(8, Direction::Uplink) == DataRateEntry(DataRate::lora(5, 125000, 15625)));
    CHECK(plans::US915.data_rate(8, Direction::Downlink) == DataRateEntry(DataRate::lora(12, 500000, 980)));
    CHECK(plans::US915.data_rate(9, Direction::Uplink) == std::nullopt);

    // A reserved number is a present slot holding nothing, not a missing slot.
    const std::optional<DataRateEntry> reserved = plans::EU433.data_rate(8, Direction::Uplink);
    REQUIRE(reserved.has_value());
    CHECK_FALSE(reserved->has_value());
    CHECK(plans::EU868.data_rate(7, Direction::Uplink) == DataRateEntry(DataRate::fsk(50000)));
    CHECK(plans::EU868.data_rate(11, Direction::Downlink) == DataRateEntry(DataRate::lr_fhss(2, 3, 336000, 325)));
}

TEST_CASE("payload limits by table") {
    CHECK(plans::EU868.max_payload(PayloadTable::UplinkRepeater, 4) == MaxPayload{230, 222});
    CHECK(plans::EU868.max_payload(PayloadTable::UplinkDirect, 4) == MaxPayload{250, 242});
    CHECK(plans::EU868.max_payload(PayloadTable::DownlinkDirect, 13) == MaxPayload{250, 242});
    CHECK(plans::EU868.max_payload(PayloadTable::UplinkDirect, 8) == MaxPayload{58, 50});
    CHECK(plans::EU868.max_payload(PayloadTable::DwellLimited, 4) == std::nullopt);
    CHECK(plans::EU868.max_payload(PayloadTable::UplinkDirect, 14) == std::nullopt);
    CHECK(plans::EU433.max_payload(PayloadTable::UplinkDirect, 8) == std::nullopt);  // no limit published
    CHECK(plans::AS923.max_payload(PayloadTable::DwellLimited, 2) == MaxPayload{19, 11});
    CHECK(plans::AS923.max_payload(PayloadTable::DwellLimited, 0) == std::nullopt);
    CHECK(plans::AU915.max_payload(PayloadTable::DwellLimited, 7) == MaxPayload{58, 50});
    CHECK(plans::AU915.max_payload(PayloadTable::DwellLimited, 11) == std::nullopt);
    // US915 downlinks are numbered on their own.
    CHECK(plans::US915.max_payload(PayloadTable::DownlinkRepeater, 9) == MaxPayload{137, 129});
    CHECK(plans::US915.max_payload(PayloadTable::DownlinkDirect, 10) == MaxPayload{250, 242});
    CHECK(plans::US915.max_payload(PayloadTable::DownlinkDirect, 1) == std::nullopt);
    CHECK(plans::US915.max_payload(PayloadTable::UplinkDirect, 0) == MaxPayload{19, 11});
}

TEST_CASE("transmit power counts down from the caller's ceiling") {
    CHECK(plans::EU868.tx_power_dbm(0, 16) == std::int8_t{16});
    CHECK(plans::EU868.tx_power_dbm(0, -128) == std::int8_t{-128});
    CHECK(plans::EU868.tx_power_dbm(7, 16) == std::int8_t{2});
    CHECK(plans::EU868.tx_power_dbm(8, 16) == std::nullopt);
    CHECK(plans::EU868.tx_power_dbm(3, 27) == std::int8_t{21});
    CHECK(plans::IN865.tx_power_dbm(10, plans::IN865.default_max_eirp_dbm) == std::int8_t{9});
    CHECK(plans::US915.tx_power_dbm(14, 30) == std::int8_t{2});
    CHECK(plans::US915.tx_power_dbm(15, 30) == std::nullopt);

    // Below -128 dBm the power saturates rather than wrapping round to a
    // strong signal.
    CHECK(plans::EU868.tx_power_dbm(1, -128) == std::int8_t{-128});
    CHECK(plans::EU868.tx_power_dbm(7, -120) == std::int8_t{-128});
    CHECK(plans::EU868.tx_power_dbm(7, -114) == std::int8_t{-128});
    CHECK(plans::EU868.tx_power_dbm(7, -113) == std::int8_t{-127});
    ChannelPlan steep = plans::EU868;
    steep.tx_power_step_db = 255;
    steep.max_tx_power_index = 255;
    CHECK(steep.tx_power_dbm(255, 127) == std::int8_t{-128});
    CHECK(steep.tx_power_dbm(1, 127) == std::int8_t{-128});
}

TEST_CASE("RX1 data rate: offset ceiling first, then the chosen rows, no fallback") {
    CHECK(plans::EU868.rx1_data_rate(5, 5, false) == std::uint8_t{0});
    CHECK(plans::EU868.rx1_data_rate(13, 1, false) == std::uint8_t{12});
    CHECK(plans::EU868.rx1_data_rate(8, 6, false) == std::nullopt);  // offset past 5
    CHECK(plans::EU868.rx1_data_rate(14, 0, false) == std::nullopt);
    for (std::uint8_t dr = 0; dr < 16; ++dr) {
        CAPTURE(dr);
        CHECK(plans::EU868.rx1_data_rate(dr, 0, true) == std::nullopt);
    }
    CHECK(plans::AS923.rx1_data_rate(0, 0, true) == std::uint8_t{2});
    CHECK(plans::AS923.rx1_data_rate(0, 0, false) == std::uint8_t{0});
    CHECK(plans::AS923.rx1_data_rate(13, 7, true) == std::uint8_t{13});
    CHECK(plans::AS923.rx1_data_rate(5, 8, true) == std::nullopt);
    CHECK(plans::US915.rx1_data_rate(8, 0, false) == std::uint8_t{0});
    CHECK(plans::US915.rx1_data_rate(4, 3, false) == std::uint8_t{11});
    CHECK(plans::US915.rx1_data_rate(4, 4, false) == std::nullopt);

    // The offset ceiling decides even where a row is longer.
    const std::uint8_t long_row[] = {1, 2, 3};
    const Rx1Row rows[] = {long_row};
    ChannelPlan plan = plans::EU868;
    plan.rx1_rows = rows;
    plan.max_rx1_data_rate_offset = 1;
    CHECK(plan.rx1_data_rate(0, 1, false) == std::uint8_t{2});
    CHECK(plan.rx1_data_rate(0, 2, false) == std::nullopt);
    // And a row shorter than the ceiling answers only what it holds.
    plan.max_rx1_data_rate_offset = 5;
    CHECK(plan.rx1_data_rate(0, 2, false) == std::uint8_t{3});
    CHECK(plan.rx1_data_rate(0, 3, false) == std::nullopt);
}

TEST_CASE("back-off chains, mask controls and the remaining lookups") {
    CHECK(plans::EU868.next_backoff_data_rate(0) == std::nullopt);
    CHECK(plans::EU868.next_backoff_data_rate(13) == std::uint8_t{12});
    CHECK(plans::EU868.next_backoff_data_rate(12) == std::uint8_t{5});
    CHECK(plans::EU868.next_backoff_data_rate(14) == std::nullopt);
    CHECK(plans::US915.next_backoff_data_rate(5) == std::uint8_t{0});
    CHECK(plans::US915.next_backoff_data_rate(8) == std::uint8_t{7});
    CHECK(plans::AU915.next_backoff_data_rate(8) == std::nullopt);

    for (const ChannelPlan* plan : {&plans::EU868, &plans::US915, &plans::CN470_26A, &plans::CN470_96}) {
        CAPTURE(plan->name);
        CHECK(plan->mask_control(8) == std::nullopt);
        CHECK(plan->mask_control(255) == std::nullopt);
    }
    CHECK(plans::US915.mask_control(6) == MaskControl::all_channels(true, 4));
    CHECK(plans::US915.mask_control(7) == MaskControl::all_channels(false, 4));
    CHECK(plans::US915.mask_control(5) == MaskControl::paired_banks());
    CHECK(plans::EU868.mask_control(6) == MaskControl::all_channels(true));
    CHECK(plans::EU868.mask_control(6)->then_group == std::nullopt);

    CHECK(plans::US915.channel_blocks(ChannelSet::Join).size() == 2);
    CHECK(plans::US915.channel_blocks(ChannelSet::Join)[0] == ChannelBlock{902300000, 200000, 64, 0, 0});
    CHECK(plans::US915.channel_blocks(ChannelSet::Default)[0] == ChannelBlock{902300000, 200000, 64, 0, 3});
    CHECK(plans::US915.channel_blocks(ChannelSet::Downlink)[0] == ChannelBlock{923300000, 600000, 8, 8, 13});
    CHECK(plans::EU868.channel_blocks(ChannelSet::Downlink).empty());
    CHECK(plans::AS923.rx2() == Rx2Window{923200000, 2});
}

TEST_CASE("join channels fall into the CN470 join runs in order") {
    struct Case {
        std::uint16_t channel;
        std::uint16_t index;
        std::uint16_t offset;
        std::uint32_t accept_hz;
        std::uint32_t rx2_hz;
    };
    const Case cases[] = {
        {0, 0, 0, 484500000, 485300000},  {3, 0, 3, 489300000, 490100000},  {4, 1, 0, 490900000, 491700000},
        {7, 1, 3, 495700000, 496500000},  {8, 2, 0, 479900000, 478300000},  {9, 2, 1, 499900000, 498300000},
        {10, 3, 0, 492500000, 492500000}, {14, 3, 4, 492500000, 492500000}, {15, 4, 0, 502500000, 502500000},
        {19, 4, 4, 502500000, 502500000},
    };
    for (const ChannelPlan* plan : {&plans::CN470, &plans::CN470_20B, &plans::CN470_26A, &plans::CN470_26B}) {
        for (const Case& c : cases) {
            CAPTURE(c.channel);
            CHECK(plan->join_plan_for_channel(c.channel) == JoinPlanPlace{c.index, c.offset, c.accept_hz, c.rx2_hz});
        }
        CHECK(plan->join_plan_for_channel(20) == std::nullopt);
        CHECK(plan->join_plan_for_channel(65535) == std::nullopt);
    }
    CHECK(plans::CN470_96.join_plan_for_channel(0) == std::nullopt);
    CHECK(plans::EU868.join_plan_for_channel(0) == std::nullopt);
    CHECK(join_plan_place({}, 0) == std::nullopt);

    // The accept and RX2 frequencies wrap at 2^32.
    const JoinPlan wrapping[] = {{{0, 0, 3, 0, 0}, 4294967295u, 2, 1, 4294967295u, nullptr}};
    CHECK(join_plan_place(wrapping, 2) == JoinPlanPlace{0, 2, 3, 4294967295u});
}

TEST_CASE("queries on a published plan allocate nothing") {
    const std::size_t before = allocations;
    unsigned answered = 0;
    for (const ChannelPlan* plan : {&plans::EU868, &plans::US915, &plans::AS923, &plans::CN470}) {
        for (unsigned n = 0; n < 256; ++n) {
            const auto dr = static_cast<std::uint8_t>(n);
            answered += plan->link_settings(dr).has_value();
            answered += plan->data_rate(dr, Direction::Downlink).has_value();
            answered += plan->max_payload(PayloadTable::DwellLimited, dr).has_value();
            answered += plan->rx1_data_rate(dr, 1, true).has_value();
            answered += plan->next_backoff_data_rate(dr).has_value();
            answered += plan->mask_control(dr).has_value();
            answered += plan->tx_power_dbm(dr, 14).has_value();
            answered += plan->channel_frequency_hz(n).has_value();
            answered += plan->rx1_frequency_hz(n, 868100000).has_value();
            answered += plan->join_plan_for_channel(n).has_value();
            answered += plan->duty_cycle_permille(868000000 + n * 10000).has_value();
            answered += static_cast<unsigned>(plan->max_eirp_dbm(868000000 + n * 10000) != 0);
        }
        answered += plan->default_channel_count() + plan->downlink_channel_count();
        answered += static_cast<unsigned>(plan->channel_blocks(ChannelSet::Join).size());
    }
    answered += region_from_code("us902-928").has_value();
    answered += cn470_plan("CHANNELS_96") != nullptr;
    CHECK(allocations == before);
    CHECK(answered > 0);
    // The counter does see allocations: a copy to own makes some.
    const OwnedChannelPlan owned = OwnedChannelPlan::from_plan(plans::EU868);
    CHECK(allocations > before);
}
