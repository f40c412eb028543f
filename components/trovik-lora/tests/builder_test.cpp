#include <doctest/doctest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "trovik/lora/builder.hpp"
#include "trovik/lora/region.hpp"

using namespace trovik::lora;
namespace plans = trovik::lora::plans;

namespace {

constexpr DataRate sf(std::uint8_t spreading_factor) { return DataRate::lora(spreading_factor, 125000, 250); }

// An RX1 row of `width` entries, all `value`.
std::vector<std::uint8_t> row(std::size_t width, std::uint8_t value = 0) {
    return std::vector<std::uint8_t>(width, value);
}

// `rates` LoRa uplink rates and as many RX1 rows of `width` entries, nothing else.
ChannelPlanBuilder plain(std::size_t rates, std::size_t width = 1) {
    ChannelPlanBuilder builder("private");
    builder.settings.max_rx1_data_rate_offset = static_cast<std::uint8_t>(width - 1);
    for (std::size_t i = 0; i < rates; ++i) {
        builder.uplink_data_rate(sf(static_cast<std::uint8_t>(12 - i % 8))).rx1_row(row(width));
    }
    return builder;
}

void check_same_plan(const OwnedChannelPlan& a, const OwnedChannelPlan& b) {
    CHECK(a.name == b.name);
    CHECK(a.uplink_data_rates == b.uplink_data_rates);
    CHECK(a.downlink_data_rates == b.downlink_data_rates);
    CHECK(a.max_payload_uplink_repeater == b.max_payload_uplink_repeater);
    CHECK(a.max_payload_uplink_direct == b.max_payload_uplink_direct);
    CHECK(a.max_payload_downlink_repeater == b.max_payload_downlink_repeater);
    CHECK(a.max_payload_downlink_direct == b.max_payload_downlink_direct);
    CHECK(a.max_payload_dwell_limited == b.max_payload_dwell_limited);
    CHECK(a.join_channels == b.join_channels);
    CHECK(a.default_channels == b.default_channels);
    CHECK(a.downlink_channels == b.downlink_channels);
    CHECK(a.sub_bands == b.sub_bands);
    CHECK(a.rx1_rows == b.rx1_rows);
    CHECK(a.rx1_rows_dwell_limited == b.rx1_rows_dwell_limited);
    CHECK(a.backoff == b.backoff);
    CHECK(a.relay_channels == b.relay_channels);
    CHECK(a.mask_controls == b.mask_controls);
    CHECK(a.rx2_frequency_hz == b.rx2_frequency_hz);
    CHECK(a.rx2_data_rate == b.rx2_data_rate);
    CHECK(a.max_rx1_data_rate_offset == b.max_rx1_data_rate_offset);
    CHECK(a.beacon == b.beacon);
    CHECK(a.default_max_eirp_dbm == b.default_max_eirp_dbm);
    CHECK(a.tx_power_step_db == b.tx_power_step_db);
    CHECK(a.max_tx_power_index == b.max_tx_power_index);
    CHECK(a.kind == b.kind);
    CHECK(a.power_reference == b.power_reference);
    CHECK(a.has_dwell_time_limit == b.has_dwell_time_limit);
    CHECK(a.tx_param_setup == b.tx_param_setup);
    CHECK(a.join_sequence == b.join_sequence);
}

// A builder fed with a published plan's tables and settings, leaving out
// whatever `build` fills in the same way, so the fills are exercised on real
// plans.
ChannelPlanBuilder mirror(const ChannelPlan& plan) {
    ChannelPlanBuilder builder{std::string(plan.name)};
    for (const DataRateEntry& rate : plan.uplink_data_rates)
        builder.uplink_data_rate(rate);
    if (!std::ranges::equal(plan.downlink_data_rates, plan.uplink_data_rates)) {
        for (const DataRateEntry& rate : plan.downlink_data_rates)
            builder.downlink_data_rate(rate);
    }
    auto add_table = [&](PayloadTable table, std::span<const MaxPayloadEntry> entries) {
        for (const MaxPayloadEntry& entry : entries)
            builder.max_payload(table, entry);
    };
    add_table(PayloadTable::UplinkRepeater, plan.max_payload_uplink_repeater);
    add_table(PayloadTable::UplinkDirect, plan.max_payload_uplink_direct);
    if (!std::ranges::equal(plan.max_payload_downlink_repeater, plan.max_payload_uplink_repeater)) {
        add_table(PayloadTable::DownlinkRepeater, plan.max_payload_downlink_repeater);
    }
    if (!std::ranges::equal(plan.max_payload_downlink_direct, plan.max_payload_uplink_direct)) {
        add_table(PayloadTable::DownlinkDirect, plan.max_payload_downlink_direct);
    }
    if (plan.max_payload_dwell_limited) add_table(PayloadTable::DwellLimited, *plan.max_payload_dwell_limited);
    for (const ChannelBlock& block : plan.join_channels)
        builder.join_channel(block);
    for (const ChannelBlock& block : plan.default_channels)
        builder.default_channel(block);
    for (const ChannelBlock& block : plan.downlink_channels)
        builder.downlink_channel(block);
    for (const SubBand& band : plan.sub_bands)
        builder.sub_band(band);
    for (Rx1Row row : plan.rx1_rows)
        builder.rx1_row(row);
    if (plan.rx1_rows_dwell_limited) {
        for (Rx1Row row : *plan.rx1_rows_dwell_limited)
            builder.rx1_row_dwell_limited(row);
    }
    bool plain_chain = plan.backoff.size() == plan.uplink_data_rates.size();
    for (std::size_t i = 0; plain_chain && i < plan.backoff.size(); ++i) {
        plain_chain = plan.backoff[i] == (i == 0 ? std::nullopt : std::optional(static_cast<std::uint8_t>(i - 1)));
    }
    if (!plain_chain) {
        for (const auto& lower : plan.backoff)
            builder.backoff(lower);
    }
    for (const RelayChannel& channel : plan.relay_channels)
        builder.relay_channel(channel);
    builder.settings = PlanSettings{
        plan.mask_controls, plan.rx2_frequency_hz,     plan.rx2_data_rate,        plan.max_rx1_data_rate_offset,
        plan.beacon,        plan.default_max_eirp_dbm, plan.tx_power_step_db,     plan.max_tx_power_index,
        plan.kind,          plan.power_reference,      plan.has_dwell_time_limit, plan.tx_param_setup,
        plan.join_sequence,
    };
    return builder;
}

}  // namespace

TEST_CASE("a new builder starts from the documented values and fills what was left out") {
    const auto built = plain(8).build();
    REQUIRE(built.has_value());
    const OwnedChannelPlan& plan = *built;
    CHECK(plan.name == "private");
    CHECK(plan.uplink_data_rates.size() == 8);
    CHECK(plan.downlink_data_rates == plan.uplink_data_rates);
    CHECK(plan.backoff == std::vector<std::optional<std::uint8_t>>{std::nullopt, 0, 1, 2, 3, 4, 5, 6});
    CHECK(plan.max_payload_uplink_repeater.empty());
    CHECK(plan.max_payload_uplink_direct.empty());
    CHECK(plan.max_payload_downlink_repeater.empty());
    CHECK(plan.max_payload_downlink_direct.empty());
    CHECK_FALSE(plan.max_payload_dwell_limited.has_value());
    CHECK_FALSE(plan.rx1_rows_dwell_limited.has_value());
    CHECK(plan.join_channels.empty());
    CHECK(plan.default_channels.empty());
    CHECK(plan.downlink_channels.empty());
    CHECK(plan.sub_bands.empty());
    CHECK(plan.relay_channels.empty());
    CHECK(plan.mask_controls == std::array{MaskControl::one_group(0), MaskControl::one_group(1),
                                           MaskControl::one_group(2), MaskControl::one_group(3),
                                           MaskControl::one_group(4), MaskControl::banks(),
                                           MaskControl::all_channels(true), MaskControl::reserved()});
    CHECK(plan.rx2_frequency_hz == 0);
    CHECK(plan.rx2_data_rate == 0);
    CHECK(plan.max_rx1_data_rate_offset == 0);
    CHECK(plan.beacon == Beacon{});
    CHECK(plan.default_max_eirp_dbm == 16);
    CHECK(plan.tx_power_step_db == 2);
    CHECK(plan.max_tx_power_index == 7);
    CHECK(plan.kind == PlanKind::dynamic());
    CHECK(plan.power_reference == PowerReference::eirp());
    CHECK_FALSE(plan.has_dwell_time_limit);
    CHECK_FALSE(plan.tx_param_setup);
    CHECK(plan.join_sequence == JoinSequence::Random);

    // The built plan answers through the same queries as a published one.
    plan.with_plan([](const ChannelPlan& view) {
        CHECK(view.next_backoff_data_rate(0) == std::nullopt);
        CHECK(view.next_backoff_data_rate(7) == std::uint8_t{6});
        CHECK(view.next_backoff_data_rate(8) == std::nullopt);
        CHECK(view.data_rate(3, Direction::Downlink) == std::optional<DataRateEntry>(sf(9)));
        CHECK(view.max_payload(PayloadTable::UplinkDirect, 0) == std::nullopt);
        CHECK(view.mask_control(6) == MaskControl::all_channels(true));
        CHECK(view.join_plans.empty());
    });

    // Any name goes, the empty one included, and calls chain on a temporary.
    const auto unnamed = ChannelPlanBuilder("").uplink_data_rate(std::nullopt).rx1_row(row(1)).build();
    REQUIRE(unnamed.has_value());
    CHECK(unnamed->name.empty());
    CHECK(unnamed->uplink_data_rates == std::vector<DataRateEntry>{std::nullopt});
}

TEST_CASE("plan error texts") {
    struct Case {
        PlanError error;
        const char* message;
    };
    const Case cases[] = {
        {PlanError::no_data_rate(), "a channel plan needs at least one data rate"},
        {PlanError::rx1_row_count(false, 8, 7), "a plan needs one RX1 row per uplink data rate: 8 data rates, 7 rows"},
        {PlanError::rx1_row_count(true, 14, 0),
         "a plan needs one dwell-limited RX1 row per uplink data rate: 14 data rates, 0 rows"},
        {PlanError::rx1_row_width(false, 0, 5, 6), "RX1 row 0 has 5 entries, but the plan's offsets need 6"},
        {PlanError::rx1_row_width(true, 3, 9, 8),
         "dwell-limited RX1 row 3 has 9 entries, but the plan's offsets need 8"},
        {PlanError::table_length(7, 8), "a table has 7 entries for 8 data rates"},
        {PlanError::rx2_data_rate(8, 8), "RX2 listens at data rate 8, but the plan defines 8"},
        {PlanError::relay_data_rate(255),
         "a relay channel names data rate 255, which is not a LoRa downlink rate of the plan"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.message);
        CHECK(c.error.message() == c.message);
    }
}

TEST_CASE("build reports the first failing check, in order") {
    using enum PayloadTable;
    using Setup = std::function<void(ChannelPlanBuilder&)>;
    struct Case {
        const char* what;
        std::size_t rates;
        std::size_t width;
        Setup setup;
        std::optional<PlanError> expected;  // nothing: builds
    };
    const std::vector<Case> cases = {
        {"no data rate at all, even with RX1 rows", 0, 1,
         [](ChannelPlanBuilder& b) { b.rx1_row(row(1)).backoff(std::nullopt); }, PlanError::no_data_rate()},
        {"row count before the back-off and payload lengths", 3, 1,
         [](ChannelPlanBuilder& b) {
             b.uplink_data_rate(sf(7)).backoff(std::nullopt).max_payload(UplinkDirect, MaxPayload{});
         },
         PlanError::rx1_row_count(false, 4, 3)},
        {"fewer rows than data rates", 0, 1,
         [](ChannelPlanBuilder& b) {
             for (std::uint8_t i = 0; i < 3; ++i)
                 b.uplink_data_rate(sf(12 - i));
             b.rx1_row(row(1)).rx1_row(row(1)).backoff(std::nullopt);
         },
         PlanError::rx1_row_count(false, 3, 2)},
        {"a row shorter than the offsets need", 1, 1,
         [](ChannelPlanBuilder& b) { b.settings.max_rx1_data_rate_offset = 5; },
         PlanError::rx1_row_width(false, 0, 1, 6)},
        {"five entries where six are needed", 0, 1,
         [](ChannelPlanBuilder& b) {
             b.settings.max_rx1_data_rate_offset = 5;
             b.uplink_data_rate(sf(12)).rx1_row(row(5));
         },
         PlanError::rx1_row_width(false, 0, 5, 6)},
        {"a row longer than the offsets need fails too", 0, 1,
         [](ChannelPlanBuilder& b) {
             b.settings.max_rx1_data_rate_offset = 5;
             b.uplink_data_rate(sf(12)).rx1_row(row(7));
         },
         PlanError::rx1_row_width(false, 0, 7, 6)},
        {"the first row of the wrong width is reported", 0, 1,
         [](ChannelPlanBuilder& b) {
             b.settings.max_rx1_data_rate_offset = 1;
             b.uplink_data_rate(sf(12)).uplink_data_rate(sf(11)).uplink_data_rate(sf(10));
             b.rx1_row(row(2)).rx1_row(row(1)).rx1_row(row(2));
         },
         PlanError::rx1_row_width(false, 1, 1, 2)},
        {"plain rows are checked before dwell-limited ones", 2, 2,
         [](ChannelPlanBuilder& b) { b.rx1_row(row(2)).rx1_row_dwell_limited(row(2)); },
         PlanError::rx1_row_count(false, 2, 3)},
        {"dwell-limited row count", 2, 2, [](ChannelPlanBuilder& b) { b.rx1_row_dwell_limited(row(2)); },
         PlanError::rx1_row_count(true, 2, 1)},
        {"dwell-limited row width", 2, 2,
         [](ChannelPlanBuilder& b) { b.rx1_row_dwell_limited(row(2)).rx1_row_dwell_limited(row(3)); },
         PlanError::rx1_row_width(true, 1, 3, 2)},
        {"dwell-limited rows before the back-off chain", 2, 1,
         [](ChannelPlanBuilder& b) { b.rx1_row_dwell_limited(row(1)).backoff(std::nullopt); },
         PlanError::rx1_row_count(true, 2, 1)},
        {"a back-off chain one short", 8, 1,
         [](ChannelPlanBuilder& b) {
             for (int i = 0; i < 7; ++i)
                 b.backoff(std::nullopt);
         },
         PlanError::table_length(7, 8)},
        {"a back-off chain naming any numbers builds", 2, 1,
         [](ChannelPlanBuilder& b) { b.backoff(200).backoff(std::nullopt); }, std::nullopt},
        {"the back-off chain before the payload tables", 2, 1,
         [](ChannelPlanBuilder& b) { b.backoff(std::nullopt).max_payload(UplinkRepeater, std::nullopt); },
         PlanError::table_length(1, 2)},
        {"uplink repeater table", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.max_payload(UplinkRepeater, MaxPayload{59, 51});
         },
         PlanError::table_length(1, 2)},
        {"uplink repeater before uplink direct", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.max_payload(UplinkDirect, MaxPayload{59, 51});
             for (int i = 0; i < 3; ++i)
                 b.max_payload(UplinkRepeater, std::nullopt);
         },
         PlanError::table_length(3, 2)},
        {"uplink direct table", 2, 1,
         [](ChannelPlanBuilder& b) {
             for (int i = 0; i < 3; ++i)
                 b.max_payload(UplinkDirect, std::nullopt);
         },
         PlanError::table_length(3, 2)},
        {"dwell-limited table", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.max_payload(DwellLimited, MaxPayload{19, 11});
         },
         PlanError::table_length(1, 2)},
        {"dwell-limited table before downlink tables", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.max_payload(DwellLimited, MaxPayload{19, 11});
             b.max_payload(DownlinkDirect, MaxPayload{19, 11});
         },
         PlanError::table_length(1, 2)},
        {"downlink repeater table against the downlink rates", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.downlink_data_rate(sf(8)).downlink_data_rate(sf(9)).downlink_data_rate(sf(10));
             b.max_payload(DownlinkRepeater, std::nullopt).max_payload(DownlinkRepeater, std::nullopt);
         },
         PlanError::table_length(2, 3)},
        {"downlink repeater before downlink direct", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.downlink_data_rate(sf(8));
             b.max_payload(DownlinkDirect, std::nullopt).max_payload(DownlinkDirect, std::nullopt);
             b.max_payload(DownlinkRepeater, std::nullopt).max_payload(DownlinkRepeater, std::nullopt);
             b.max_payload(DownlinkRepeater, std::nullopt);
         },
         PlanError::table_length(3, 1)},
        {"a mirrored uplink direct table builds", 8, 1,
         [](ChannelPlanBuilder& b) {
             for (int i = 0; i < 8; ++i)
                 b.max_payload(UplinkDirect, MaxPayload{59, 51});
         },
         std::nullopt},
        {"a mirrored uplink direct table against four explicit downlink rates", 8, 1,
         [](ChannelPlanBuilder& b) {
             for (int i = 0; i < 8; ++i)
                 b.max_payload(UplinkDirect, MaxPayload{59, 51});
             for (int i = 0; i < 4; ++i)
                 b.downlink_data_rate(sf(7));
         },
         PlanError::table_length(8, 4)},
        {"RX2 at the last downlink rate", 8, 1, [](ChannelPlanBuilder& b) { b.settings.rx2_data_rate = 7; },
         std::nullopt},
        {"RX2 past the downlink rates", 8, 1, [](ChannelPlanBuilder& b) { b.settings.rx2_data_rate = 8; },
         PlanError::rx2_data_rate(8, 8)},
        {"RX2 counts the explicit downlink rates", 8, 1,
         [](ChannelPlanBuilder& b) {
             b.downlink_data_rate(sf(7)).downlink_data_rate(sf(8));
             b.settings.rx2_data_rate = 2;
         },
         PlanError::rx2_data_rate(2, 2)},
        {"RX2 before the relay channels", 8, 1,
         [](ChannelPlanBuilder& b) {
             b.settings.rx2_data_rate = 9;
             b.relay_channel({865100000, 865300000, 40});
         },
         PlanError::rx2_data_rate(9, 8)},
        {"relay channels at LoRa downlink rates build", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.relay_channel({865100000, 865300000, 0}).relay_channel({1, 2, 1});
         },
         std::nullopt},
        {"a relay channel past the downlink rates", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.relay_channel({865100000, 865300000, 0}).relay_channel({1, 2, 2});
         },
         PlanError::relay_data_rate(2)},
        {"a relay channel at an FSK downlink rate", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.downlink_data_rate(sf(7)).downlink_data_rate(DataRate::fsk(50000));
             b.relay_channel({865100000, 865300000, 1});
         },
         PlanError::relay_data_rate(1)},
        {"a relay channel at a reserved downlink rate", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.downlink_data_rate(std::nullopt).downlink_data_rate(sf(7));
             b.relay_channel({865100000, 865300000, 0});
         },
         PlanError::relay_data_rate(0)},
        {"a relay channel at an LR-FHSS downlink rate", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.downlink_data_rate(DataRate::lr_fhss(1, 3, 137000, 162));
             b.relay_channel({865100000, 865300000, 0});
         },
         PlanError::relay_data_rate(0)},
        {"the first bad relay channel is reported", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.relay_channel({1, 2, 5}).relay_channel({1, 2, 6});
         },
         PlanError::relay_data_rate(5)},
        {"RX1 contents, channels, sub-bands and power are taken as given", 2, 1,
         [](ChannelPlanBuilder& b) {
             b.rx1_row_dwell_limited(row(1, 250)).rx1_row_dwell_limited(row(1, 99));
             b.default_channel({4294967295u, 4294967295u, 65535, 9, 1}).sub_band({10, 5, 0, -128});
             b.settings.tx_power_step_db = 255;
             b.settings.mask_controls.fill(MaskControl::one_group(200));
         },
         std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        ChannelPlanBuilder builder = plain(c.rates, c.width);
        c.setup(builder);
        const auto built = std::move(builder).build();
        if (c.expected) {
            REQUIRE_FALSE(built.has_value());
            CHECK(built.error() == *c.expected);
        } else {
            CHECK(built.has_value());
        }
    }
}

TEST_CASE("explicit tables are kept and fill only what is empty") {
    using enum PayloadTable;
    ChannelPlanBuilder builder = plain(2);
    builder.downlink_data_rate(sf(9)).downlink_data_rate(std::nullopt).downlink_data_rate(sf(7));
    builder.max_payload(UplinkRepeater, MaxPayload{59, 51}).max_payload(UplinkRepeater, std::nullopt);
    builder.max_payload(DownlinkRepeater, std::nullopt)
        .max_payload(DownlinkRepeater, std::nullopt)
        .max_payload(DownlinkRepeater, MaxPayload{7, 8});
    builder.max_payload(DownlinkDirect, MaxPayload{1, 2})
        .max_payload(DownlinkDirect, std::nullopt)
        .max_payload(DownlinkDirect, MaxPayload{3, 4});
    builder.max_payload(DwellLimited, std::nullopt).max_payload(DwellLimited, MaxPayload{5, 6});
    builder.backoff(1).backoff(0);
    const auto built = std::move(builder).build();
    REQUIRE(built.has_value());
    CHECK(built->downlink_data_rates == std::vector<DataRateEntry>{sf(9), std::nullopt, sf(7)});
    CHECK(built->max_payload_uplink_repeater == std::vector<MaxPayloadEntry>{MaxPayload{59, 51}, std::nullopt});
    CHECK(built->max_payload_downlink_repeater ==
          std::vector<MaxPayloadEntry>{std::nullopt, std::nullopt, MaxPayload{7, 8}});
    CHECK(built->max_payload_downlink_direct ==
          std::vector<MaxPayloadEntry>{MaxPayload{1, 2}, std::nullopt, MaxPayload{3, 4}});
    CHECK(built->max_payload_uplink_direct.empty());
    CHECK(built->max_payload_dwell_limited == std::vector<MaxPayloadEntry>{std::nullopt, MaxPayload{5, 6}});
    CHECK(built->backoff == std::vector<std::optional<std::uint8_t>>{1, 0});
}

TEST_CASE("a builder fed a published plan builds that plan") {
    const ChannelPlan* const published[] = {
        &plans::EU868,     &plans::US915,     &plans::EU433,    &plans::AU915, &plans::CN470,
        &plans::AS923,     &plans::KR920,     &plans::IN865,    &plans::RU864, &plans::CN470_20B,
        &plans::CN470_26A, &plans::CN470_26B, &plans::CN470_96,
    };
    for (const ChannelPlan* plan : published) {
        CAPTURE(plan->name);
        CAPTURE(cn470_plan_name(plan).value_or(""));
        auto built = mirror(*plan).build();
        REQUIRE(built.has_value());
        check_same_plan(*built, OwnedChannelPlan::from_plan(*plan));
        built->with_plan([&](const ChannelPlan& view) {
            CHECK(view.join_plans.empty());
            CHECK(view.rx1_data_rate(0, 0, true) == plan->rx1_data_rate(0, 0, true));
            CHECK(view.rx1_frequency_hz(65, 902300000) == plan->rx1_frequency_hz(65, 902300000));
        });
    }
}

TEST_CASE("builder text choices") {
    using K = BuilderChoiceError::Kind;
    CHECK(parse_plan_kind("dynamic", std::nullopt) == PlanKind::dynamic());
    CHECK(parse_plan_kind("Dynamic", "MHZ900") == PlanKind::dynamic(ChannelList::Mhz900));
    CHECK(parse_plan_kind("DYNAMIC", "mhz800") == PlanKind::dynamic(ChannelList::Mhz800));
    CHECK(parse_plan_kind("FIXED", std::nullopt) == PlanKind::fixed());
    // A fixed plan accepts a valid channel list and ignores it ...
    CHECK(parse_plan_kind("fixed", "mhz800") == PlanKind::fixed());
    // ... but the list is checked first, whatever the kind.
    CHECK(parse_plan_kind("Fixed", "MHZ700").error() == BuilderChoiceError{K::ChannelList, "mhz700", {}});
    CHECK(parse_plan_kind("Static", "MHZ700").error().message() ==
          "mhz700 is not a channel list; expected mhz800 or mhz900");
    CHECK(parse_plan_kind("Static", std::nullopt).error().message() ==
          "static is not a plan kind; expected dynamic or fixed");

    CHECK(parse_join_sequence("Random") == JoinSequence::Random);
    CHECK(parse_join_sequence("OCTET_PASSES") == JoinSequence::OctetPasses);
    CHECK(parse_join_sequence("Octet Passes").error().message() ==
          "octet passes is not a join sequence; expected random or octet_passes");

    CHECK(parse_power_reference("EIRP", 6) == PowerReference::eirp());
    CHECK(parse_power_reference("Conducted", 2) == PowerReference::conducted(2));
    CHECK(parse_power_reference("conducted", 0) == PowerReference::conducted(0));
    CHECK(parse_power_reference("ERP", 0).error().message() ==
          "erp is not a power reference; expected eirp or conducted");

    // Mask control kinds are compared exactly and quoted as given.
    CHECK(parse_mask_control("group", 3, std::nullopt, std::nullopt) == MaskControl::one_group(3));
    CHECK(parse_mask_control("banks", 3, true, 4) == MaskControl::banks());
    CHECK(parse_mask_control("paired_banks", std::nullopt, std::nullopt, std::nullopt) == MaskControl::paired_banks());
    CHECK(parse_mask_control("all", std::nullopt, false, 4) == MaskControl::all_channels(false, 4));
    CHECK(parse_mask_control("all", 9, true, std::nullopt) == MaskControl::all_channels(true));
    CHECK(parse_mask_control("reserved", std::nullopt, std::nullopt, std::nullopt) == MaskControl::reserved());
    CHECK(parse_mask_control("Banks", std::nullopt, std::nullopt, std::nullopt).error().message() ==
          "Banks is not a mask control; expected group, banks, paired_banks, all or reserved");
    CHECK(parse_mask_control("group", std::nullopt, true, 1).error().message() == "a group mask control needs group");
    CHECK(parse_mask_control("all", 1, std::nullopt, 1).error().message() == "a all mask control needs on");

    const std::array<MaskControl, 8> eight{MaskControl::banks(),
                                           MaskControl::paired_banks(),
                                           MaskControl::reserved(),
                                           MaskControl::reserved(),
                                           MaskControl::reserved(),
                                           MaskControl::reserved(),
                                           MaskControl::all_channels(false, 2),
                                           MaskControl::one_group(1)};
    CHECK(eight_mask_controls(eight) == eight);
    CHECK(eight_mask_controls(std::span(eight).first(7)).error().message() ==
          "a plan takes eight mask controls, not 7");
    const std::vector<MaskControl> nine(9, MaskControl::reserved());
    CHECK(eight_mask_controls(nine).error().message() == "a plan takes eight mask controls, not 9");
    CHECK(eight_mask_controls({}).error().message() == "a plan takes eight mask controls, not 0");
}
