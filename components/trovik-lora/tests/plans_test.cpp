#include <doctest/doctest.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "trovik/lora/region.hpp"

using namespace trovik::lora;
namespace plans = trovik::lora::plans;

namespace {

// A handful of facts per plan that a device or network relies on, taken
// across the tables so that a slip in any of them shows.
struct PlanFacts {
    const ChannelPlan* plan;
    std::string_view name;
    std::size_t uplink_rates;
    std::size_t downlink_rates;
    std::uint16_t default_channels;
    std::uint32_t last_default_channel_hz;
    Rx2Window rx2;
    Beacon beacon;
    std::int8_t default_max_eirp_dbm;
    std::int8_t lowest_power_dbm;  // at the highest transmit-power index, under the default ceiling
    std::uint8_t max_rx1_offset;
    std::size_t relay_channels;
    std::size_t join_plans;
    PlanKind kind;
    PowerReference power_reference;
    bool dwell_time_limit;
    bool tx_param_setup;
    JoinSequence join_sequence;
};

const PlanFacts published[] = {
    {&plans::EU868,
     "EU863-870",
     14,
     14,
     3,
     868500000,
     {869525000, 0},
     {869525000, 869525000, 3},
     16,
     2,
     5,
     2,
     0,
     PlanKind::dynamic(ChannelList::Mhz800),
     PowerReference::eirp(),
     false,
     false,
     JoinSequence::Random},
    {&plans::US915,
     "US902-928",
     9,
     15,
     72,
     914200000,
     {923300000, 8},
     {923300000, 923300000, 8},
     30,
     2,
     3,
     2,
     0,
     PlanKind::fixed(),
     PowerReference::conducted(6),
     true,
     false,
     JoinSequence::OctetPasses},
    {&plans::EU433,
     "EU433",
     14,
     14,
     3,
     433575000,
     {434665000, 0},
     {434665000, 434665000, 3},
     12,
     2,
     5,
     0,
     0,
     PlanKind::dynamic(),
     PowerReference::eirp(),
     false,
     false,
     JoinSequence::Random},
    {&plans::AU915,
     "AU915-928",
     11,
     15,
     72,
     927100000,
     {923300000, 8},
     {923300000, 923300000, 8},
     30,
     2,
     5,
     2,
     0,
     PlanKind::fixed(),
     PowerReference::eirp(),
     true,
     true,
     JoinSequence::OctetPasses},
    {&plans::CN470,
     "CN470-510",
     8,
     8,
     64,
     509700000,
     {486900000, 1},
     {483900000, 483900000, 2},
     19,
     5,
     5,
     2,
     5,
     PlanKind::fixed(),
     PowerReference::eirp(),
     false,
     false,
     JoinSequence::Random},
    {&plans::AS923,
     "AS923",
     14,
     14,
     2,
     923400000,
     {923200000, 2},
     {923400000, 923400000, 3},
     16,
     2,
     7,
     1,
     0,
     PlanKind::dynamic(ChannelList::Mhz900),
     PowerReference::eirp(),
     true,
     true,
     JoinSequence::Random},
    {&plans::KR920,
     "KR920-923",
     14,
     14,
     3,
     922500000,
     {921900000, 0},
     {923100000, 923100000, 3},
     14,
     0,
     5,
     2,
     0,
     PlanKind::dynamic(ChannelList::Mhz900),
     PowerReference::eirp(),
     false,
     false,
     JoinSequence::Random},
    {&plans::IN865,
     "IN865",
     14,
     14,
     3,
     865985000,
     {866550000, 2},
     {866550000, 866550000, 4},
     29,
     9,
     7,
     2,
     0,
     PlanKind::dynamic(ChannelList::Mhz800),
     PowerReference::eirp(),
     false,
     false,
     JoinSequence::Random},
    {&plans::RU864,
     "RU864-870",
     14,
     14,
     2,
     869100000,
     {869100000, 0},
     {869100000, 868900000, 3},
     16,
     2,
     5,
     2,
     0,
     PlanKind::dynamic(ChannelList::Mhz800),
     PowerReference::eirp(),
     false,
     false,
     JoinSequence::Random},
    {&plans::CN470_20B,
     "CN470-510",
     8,
     8,
     64,
     503100000,
     {498300000, 1},
     {481500000, 476900000, 2},
     19,
     5,
     5,
     2,
     5,
     PlanKind::fixed(),
     PowerReference::eirp(),
     false,
     false,
     JoinSequence::Random},
    {&plans::CN470_26A,
     "CN470-510",
     8,
     8,
     48,
     479700000,
     {492500000, 1},
     {494900000, 494900000, 2},
     19,
     5,
     5,
     2,
     5,
     PlanKind::fixed(),
     PowerReference::eirp(),
     false,
     false,
     JoinSequence::Random},
    {&plans::CN470_26B,
     "CN470-510",
     8,
     8,
     48,
     489700000,
     {502500000, 1},
     {504900000, 504900000, 2},
     19,
     5,
     5,
     2,
     5,
     PlanKind::fixed(),
     PowerReference::eirp(),
     false,
     false,
     JoinSequence::Random},
    {&plans::CN470_96,
     "CN470-510",
     6,
     6,
     96,
     489300000,
     {505300000, 0},
     {508300000, 508300000, 2},
     19,
     5,
     5,
     0,
     0,
     PlanKind::fixed(),
     PowerReference::eirp(),
     false,
     false,
     JoinSequence::Random},
};

}  // namespace

TEST_CASE("every published plan's scalars, counts and rules") {
    for (const PlanFacts& f : published) {
        const ChannelPlan& p = *f.plan;
        CAPTURE(p.name);
        CAPTURE(p.default_channel_count());
        CHECK(p.name == f.name);
        CHECK(p.uplink_data_rates.size() == f.uplink_rates);
        CHECK(p.downlink_data_rates.size() == f.downlink_rates);
        CHECK(p.default_channel_count() == f.default_channels);
        CHECK(p.channel_frequency_hz(f.default_channels - 1) == f.last_default_channel_hz);
        CHECK(p.rx2() == f.rx2);
        CHECK(p.beacon == f.beacon);
        CHECK(p.default_max_eirp_dbm == f.default_max_eirp_dbm);
        CHECK(p.tx_power_step_db == 2);
        CHECK(p.tx_power_dbm(p.max_tx_power_index, p.default_max_eirp_dbm) == f.lowest_power_dbm);
        CHECK(p.max_rx1_data_rate_offset == f.max_rx1_offset);
        CHECK(p.relay_channels.size() == f.relay_channels);
        CHECK(p.join_plans.size() == f.join_plans);
        CHECK(p.kind == f.kind);
        CHECK(p.power_reference == f.power_reference);
        CHECK(p.has_dwell_time_limit == f.dwell_time_limit);
        CHECK(p.tx_param_setup == f.tx_param_setup);
        CHECK(p.join_sequence == f.join_sequence);
        // Every RX2 rate and relay rate is a LoRa downlink rate of the plan.
        CHECK(p.data_rate(p.rx2_data_rate, Direction::Downlink).value_or(std::nullopt).has_value());
        for (const RelayChannel& relay : p.relay_channels) {
            const DataRateEntry rate = p.data_rate(relay.data_rate, Direction::Downlink).value_or(std::nullopt);
            REQUIRE(rate.has_value());
            CHECK(rate->modulation == DataRate::Modulation::Lora);
        }
    }
}

TEST_CASE("the directions of US915 and AU915 are numbered independently") {
    // Uplink DR8 is SF5 at 125 kHz, downlink DR8 SF12 at 500 kHz, and an
    // uplink at DR8 with offset 0 is answered at downlink DR0, SF5 at 500 kHz.
    CHECK(plans::US915.uplink_data_rates[8] == DataRateEntry(DataRate::lora(5, 125000, 15625)));
    CHECK(plans::US915.downlink_data_rates[8] == DataRateEntry(DataRate::lora(12, 500000, 980)));
    CHECK(plans::US915.rx1_data_rate(8, 0, false) == std::uint8_t{0});
    CHECK(plans::US915.downlink_data_rates[0] == DataRateEntry(DataRate::lora(5, 500000, 62500)));
    // AU915 uplink DR6 is the 500 kHz channel rate; its join channels ask for it.
    CHECK(plans::AU915.uplink_data_rates[6] == DataRateEntry(DataRate::lora(8, 500000, 12500)));
    CHECK(plans::AU915.join_channels[1] == ChannelBlock{915900000, 1600000, 8, 6, 6});
    CHECK(plans::AU915.rx1_data_rate(6, 0, false) == std::uint8_t{13});
    CHECK(plans::AU915.rx1_data_rate(10, 0, false) == std::uint8_t{0});
    CHECK(plans::US915.relay_channels[1] == RelayChannel{919900000, 921500000, 10});
    CHECK(plans::AU915.downlink_channels.data() == plans::US915.downlink_channels.data());
}

TEST_CASE("per-plan spot checks") {
    // EU868 carries LR-FHSS at DR8-11 and answers DR12 (SF6) on RX1 at 12.
    CHECK(plans::EU868.uplink_data_rates[9] == DataRateEntry(DataRate::lr_fhss(2, 3, 137000, 325)));
    CHECK(plans::EU868.rx1_data_rate(12, 0, false) == std::uint8_t{12});
    CHECK(plans::EU868.relay_channels[0] == RelayChannel{865100000, 865300000, 3});
    CHECK(plans::EU868.sub_bands[1] == SubBand{869400000, 869650000, 100, 27});

    CHECK(plans::EU433.max_tx_power_index == 5);
    CHECK(plans::EU433.duty_cycle_permille(433050000) == 100u);
    CHECK(plans::EU433.max_eirp_dbm(434790000) == 12);
    CHECK(plans::EU433.rx1_data_rate(9, 0, false) == std::uint8_t{0});

    // AS923 joins only from DR2 but starts its channels at DR0.
    CHECK(plans::AS923.join_channels[0] == ChannelBlock{923200000, 200000, 2, 2, 5});
    CHECK(plans::AS923.default_channels[0] == ChannelBlock{923200000, 200000, 2, 0, 5});
    CHECK(plans::AS923.rx1_data_rate(5, 6, false) == std::uint8_t{6});
    CHECK(plans::AS923.rx1_data_rate(12, 5, true) == std::uint8_t{2});
    CHECK(plans::AS923.max_payload(PayloadTable::DwellLimited, 4) == MaxPayload{133, 125});

    CHECK(plans::KR920.uplink_data_rates[6] == std::nullopt);
    CHECK(plans::KR920.relay_channels[1] == RelayChannel{923100000, 923100000, 5});
    CHECK(plans::KR920.next_backoff_data_rate(6) == std::nullopt);

    CHECK(plans::IN865.uplink_data_rates[7] == DataRateEntry(DataRate::fsk(50000)));
    CHECK(plans::IN865.rx1_data_rate(5, 7, false) == std::uint8_t{7});
    CHECK(plans::IN865.rx1_data_rate(7, 1, false) == std::uint8_t{5});
    CHECK(plans::IN865.next_backoff_data_rate(7) == std::uint8_t{5});
    CHECK(plans::IN865.sub_bands.empty());

    CHECK(plans::RU864.duty_cycle_permille(868800000) == 10u);
    CHECK(plans::RU864.beacon.ping_slot_frequency_hz == 868900000);

    CHECK(plans::US915.max_payload(PayloadTable::UplinkRepeater, 5) == MaxPayload{58, 50});
    CHECK(plans::US915.mask_control(5) == MaskControl::paired_banks());
    CHECK(plans::US915.join_channels[0] == ChannelBlock{902300000, 200000, 64, 0, 0});

    // CN470-510: the 1.0.5 plans share rates and rows but not channels.
    CHECK(plans::CN470.uplink_data_rates[6] == DataRateEntry(DataRate::lora(7, 500000, 21900)));
    CHECK(plans::CN470.max_payload(PayloadTable::UplinkRepeater, 0) == std::nullopt);
    CHECK(plans::CN470.max_payload(PayloadTable::UplinkDirect, 3) == MaxPayload{192, 184});
    CHECK(plans::CN470.rx1_data_rate(1, 5, false) == std::uint8_t{1});
    CHECK(plans::CN470.rx1_frequency_hz(63, 0) == 496500000u);
    CHECK(plans::CN470.mask_control(4) == MaskControl::reserved());
    CHECK(plans::CN470.mask_control(7) == MaskControl::all_channels(false));
    // Type B answers RX1 on the very channels it transmits on.
    for (std::uint16_t channel : {0, 31, 32, 63}) {
        CAPTURE(channel);
        CHECK(plans::CN470_20B.rx1_frequency_hz(channel, 0) == plans::CN470_20B.channel_frequency_hz(channel));
    }
    CHECK(plans::CN470_26A.rx1_frequency_hz(47, 0) == 494700000u);
    CHECK(plans::CN470_26A.mask_control(3) == MaskControl::all_channels(true));
    CHECK(plans::CN470_26B.downlink_channel_frequency_hz(0) == 500100000u);
    CHECK(plans::CN470_96.rx1_frequency_hz(95, 0) == 509700000u);
    CHECK(plans::CN470_96.mask_control(5) == MaskControl::one_group(5));
    CHECK(plans::CN470_96.relay_channels.empty());
    CHECK(plans::CN470_96.link_settings(6) == std::nullopt);
}

TEST_CASE("the CN470 join plans select the 1.0.5 plans") {
    const ChannelPlan* selected[] = {&plans::CN470, &plans::CN470, &plans::CN470_20B, &plans::CN470_26A,
                                     &plans::CN470_26B};
    for (const ChannelPlan* plan : {&plans::CN470, &plans::CN470_20B, &plans::CN470_26A, &plans::CN470_26B}) {
        REQUIRE(plan->join_plans.size() == 5);
        for (std::size_t i = 0; i < 5; ++i) {
            CAPTURE(i);
            CHECK(plan->join_plans[i].plan == selected[i]);
            CHECK(plan->join_plans[i].channels == plan->join_channels[i]);
        }
    }
    CHECK(plans::CN470.join_plans[2].channels == ChannelBlock{479900000, 20000000, 2, 0, 5});
    CHECK(cn470_plan_name(plans::CN470.join_plans[2].plan) == "antenna_20mhz_b");
}

TEST_CASE("regions by short code or band name") {
    struct Case {
        std::string_view text;
        std::optional<Region> region;
    };
    const Case cases[] = {
        {"EU868", Region::EU868},     {"eu868", Region::EU868},     {"eU868", Region::EU868},
        {"eu863-870", Region::EU868}, {"EU868 ", std::nullopt},     {" EU868", std::nullopt},
        {"", std::nullopt},           {"us902-928", Region::US915}, {"CN470-510", Region::CN470},
        {"cn470", Region::CN470},     {"as923", Region::AS923},     {"IN865", Region::IN865},
        {"kr920-923", Region::KR920}, {"RU864-870", Region::RU864}, {"AU915-928", Region::AU915},
        {"Mars", std::nullopt},       {"EU86", std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        CHECK(region_from_code(c.text) == c.region);
    }
    CHECK(region_from_code(std::string_view("EU868\0", 6)) == std::nullopt);

    const std::string_view codes[] = {"EU868", "US915", "EU433", "AU915", "CN470", "AS923", "KR920", "IN865", "RU864"};
    for (std::size_t i = 0; i < regions.size(); ++i) {
        CAPTURE(i);
        CHECK(static_cast<std::size_t>(regions[i]) == i);
        CHECK(region_code(regions[i]) == codes[i]);
        CHECK(region_from_code(region_plan(regions[i]).name) == (regions[i]));
    }
    CHECK(&region_plan(Region::CN470) == &plans::CN470);
    CHECK(&region_plan(Region::RU864) == &plans::RU864);
}

TEST_CASE("CN470-510 plans by name") {
    const ChannelPlan* constants[] = {&plans::CN470, &plans::CN470_20B, &plans::CN470_26A, &plans::CN470_26B,
                                      &plans::CN470_96};
    for (std::size_t i = 0; i < cn470_plan_names.size(); ++i) {
        CAPTURE(cn470_plan_names[i]);
        CHECK(cn470_plan(cn470_plan_names[i]) == constants[i]);
        CHECK(cn470_plan_name(constants[i]) == cn470_plan_names[i]);
    }
    CHECK(cn470_plan("ANTENNA_26MHZ_A") == &plans::CN470_26A);
    CHECK(cn470_plan("20a") == nullptr);
    CHECK(cn470_plan("antenna_20mhz_a ") == nullptr);
    CHECK(cn470_plan_name(&plans::EU868) == std::nullopt);
    CHECK(cn470_plan_name(nullptr) == std::nullopt);
}
