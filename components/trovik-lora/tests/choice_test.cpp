#include <doctest/doctest.h>

#include <string>
#include <string_view>

#include "trovik/lora/choice.hpp"

using namespace trovik::lora;
namespace plans = trovik::lora::plans;

TEST_CASE("regions and CN470 plans by text, with the refusals users see") {
    CHECK(parse_region("eu863-870") == Region::EU868);
    CHECK(parse_region("CN470-510") == Region::CN470);
    const auto mars = parse_region("Mars");
    REQUIRE_FALSE(mars.has_value());
    CHECK(mars.error().message() ==
          "Mars is not a published region; expected one of EU868, US915, EU433, AU915, CN470, AS923, KR920, "
          "IN865, RU864");

    CHECK(parse_cn470_plan("ANTENNA_26MHZ_A") == &plans::CN470_26A);
    CHECK(parse_cn470_plan("channels_96") == &plans::CN470_96);
    const auto unknown = parse_cn470_plan("20A");
    REQUIRE_FALSE(unknown.has_value());
    // The refused text is quoted as given.
    CHECK(unknown.error().message() ==
          "20A is not a CN470 plan; expected one of antenna_20mhz_a, antenna_20mhz_b, antenna_26mhz_a, "
          "antenna_26mhz_b, channels_96");
}

TEST_CASE("directions, payload tables and channel sets ignore ASCII case and quote the lowered text") {
    CHECK(parse_direction("Down") == Direction::Downlink);
    CHECK(parse_direction("DOWNLINK") == Direction::Downlink);
    CHECK(parse_direction("up") == Direction::Uplink);
    CHECK(parse_direction("Uplink") == Direction::Uplink);
    CHECK(parse_direction("Sideways").error().message() == "sideways is not a direction; expected uplink or downlink");
    CHECK(parse_direction(" up").error().message() == " up is not a direction; expected uplink or downlink");

    CHECK(parse_payload_table("UPLINK_REPEATER") == PayloadTable::UplinkRepeater);
    CHECK(parse_payload_table("uplink_direct") == PayloadTable::UplinkDirect);
    CHECK(parse_payload_table("Downlink_Repeater") == PayloadTable::DownlinkRepeater);
    CHECK(parse_payload_table("downlink_direct") == PayloadTable::DownlinkDirect);
    CHECK(parse_payload_table("Dwell_Limited") == PayloadTable::DwellLimited);
    CHECK(parse_payload_table("Uplink").error().message() ==
          "uplink is not a payload table; expected uplink_repeater, uplink_direct, downlink_repeater, "
          "downlink_direct or dwell_limited");

    CHECK(parse_channel_set("Join") == ChannelSet::Join);
    CHECK(parse_channel_set("default") == ChannelSet::Default);
    CHECK(parse_channel_set("DOWNLINK") == ChannelSet::Downlink);
    CHECK(parse_channel_set("Uplink").error() == ChoiceError{ChoiceError::Kind::ChannelSet, "uplink"});
    CHECK(parse_channel_set("Uplink").error().message() ==
          "uplink is not a channel set; expected join, default or downlink");
}

TEST_CASE("ASCII case folding touches only A to Z") {
    CHECK(ascii_lowercase("AZaz09_-@[`{\xc3\x89") == "azaz09_-@[`{\xc3\x89");
    CHECK(equal_ignoring_ascii_case("EU863-870", "eu863-870"));
    CHECK_FALSE(equal_ignoring_ascii_case("\xc3\x89", "\xc3\xa9"));
    CHECK_FALSE(equal_ignoring_ascii_case("eu868", "eu8680"));
    CHECK_FALSE(equal_ignoring_ascii_case("[", "{"));
}

TEST_CASE("enumeration texts") {
    CHECK(to_text(DataRate::Modulation::Lora) == "lora");
    CHECK(to_text(DataRate::Modulation::Fsk) == "fsk");
    CHECK(to_text(DataRate::Modulation::LrFhss) == "lr_fhss");
    CHECK(to_text(MaskControl::Kind::Group) == "group");
    CHECK(to_text(MaskControl::Kind::Banks) == "banks");
    CHECK(to_text(MaskControl::Kind::PairedBanks) == "paired_banks");
    CHECK(to_text(MaskControl::Kind::All) == "all");
    CHECK(to_text(MaskControl::Kind::Reserved) == "reserved");
    CHECK(to_text(PlanKind::Type::Dynamic) == "dynamic");
    CHECK(to_text(PlanKind::Type::Fixed) == "fixed");
    CHECK(to_text(ChannelList::Mhz800) == "mhz800");
    CHECK(to_text(ChannelList::Mhz900) == "mhz900");
    CHECK(to_text(JoinSequence::Random) == "random");
    CHECK(to_text(JoinSequence::OctetPasses) == "octet_passes");
    CHECK(to_text(PowerReference::Type::Eirp) == "eirp");
    CHECK(to_text(PowerReference::Type::Conducted) == "conducted");
}
