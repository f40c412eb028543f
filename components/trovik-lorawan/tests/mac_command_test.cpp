#include <doctest/doctest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/lorawan/mac_command.hpp"

namespace trovik::lorawan {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = LorawanError::Kind;
using namespace mac;
constexpr Direction kUp = Direction::Uplink;
constexpr Direction kDown = Direction::Downlink;

Bytes unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }
std::string hex(std::span<const std::uint8_t> bytes) { return core::text::hex_bytes(bytes); }

Bytes encoded(const MacCommand& command) {
    Bytes out(32);
    const auto size = command.encode(out);
    REQUIRE(size.has_value());
    out.resize(*size);
    return out;
}

struct Row {
    Direction direction;
    const char* hex;
    MacCommand command;
};

const std::array<std::uint8_t, 16> kCounting{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// One row per command and direction: the bytes read into the command, and
// the command written back into the same bytes.
const Row kRows[] = {
    {kUp, "02", LinkCheckReq{}},
    {kDown, "020502", LinkCheckAns{.margin = 5, .gateways = 2}},
    {kDown, "0372070001",
     LinkAdrReq{.data_rate = 7, .tx_power = 2, .channel_mask = 0x0007, .mask_control = 0, .transmissions = 1}},
    {kDown, "03f5ff0f7f",
     LinkAdrReq{.data_rate = 15, .tx_power = 5, .channel_mask = 0x0FFF, .mask_control = 7, .transmissions = 15}},
    {kUp, "0305", LinkAdrAns{.power_ack = true, .data_rate_ack = false, .channel_mask_ack = true}},
    {kDown, "040a", DutyCycleReq{.max_duty_cycle = 10}},
    {kUp, "04", DutyCycleAns{}},
    {kDown, "0553d2ad84", RxParamSetupReq{.rx1_offset = 5, .rx2_data_rate = 3, .frequency_hz = 869525000}},
    {kUp, "0506", RxParamSetupAns{.rx1_offset_ack = true, .rx2_data_rate_ack = true, .channel_ack = false}},
    {kDown, "06", DevStatusReq{}},
    {kUp, "06ff20", DevStatusAns{.battery = 255, .snr_margin = -32}},
    {kUp, "06001f", DevStatusAns{.battery = 0, .snr_margin = 31}},
    {kUp, "06643f", DevStatusAns{.battery = 100, .snr_margin = -1}},
    {kDown, "0703184f8450",
     NewChannelReq{.index = 3, .frequency_hz = 867100000, .max_data_rate = 5, .min_data_rate = 0}},
    {kUp, "0702", NewChannelAns{.data_rate_range_ok = true, .frequency_ok = false}},
    {kDown, "0801", RxTimingSetupReq{.delay = 1}},
    {kUp, "08", RxTimingSetupAns{}},
    {kDown, "0935", TxParamSetupReq{.downlink_dwell = true, .uplink_dwell = true, .max_eirp = 5}},
    {kUp, "09", TxParamSetupAns{}},
    {kDown, "0a02d2ad84", DlChannelReq{.index = 2, .frequency_hz = 869525000}},
    {kUp, "0a02", DlChannelAns{.uplink_frequency_exists = true, .frequency_ok = false}},
    {kUp, "0d", DeviceTimeReq{}},
    {kDown, "0d7856341280", DeviceTimeAns{.seconds = 0x12345678, .fraction = 128}},
    {kDown, "40aa2e389d84",
     RelayConfReq{.enabled = true,
                  .cad_periodicity = 3,
                  .default_channel_index = 1,
                  .second_channel_index = 1,
                  .second_channel_data_rate = 5,
                  .second_channel_ack_offset = 2,
                  .frequency_hz = 869100000}},
    {kUp, "4015",
     RelayConfAns{.cad_periodicity_ack = false,
                  .default_channel_index_ack = true,
                  .second_channel_index_ack = false,
                  .second_channel_data_rate_ack = true,
                  .second_channel_ack_offset_ack = false,
                  .second_channel_frequency_ack = true}},
    {kDown, "41099c60389d84",
     EndDeviceConfReq{.relay_mode = 2,
                      .smart_enable_level = 1,
                      .back_off = 48,
                      .second_channel_index = 1,
                      .second_channel_data_rate = 3,
                      .second_channel_ack_offset = 4,
                      .frequency_hz = 869100000}},
    {kUp, "410b",
     EndDeviceConfAns{.second_channel_ack_offset_ack = true,
                      .second_channel_index_ack = false,
                      .second_channel_data_rate_ack = true,
                      .second_channel_frequency_ack = true}},
    {kDown, "42a2010201", FilterListReq{.index = 3, .action = 1, .eui_len = 2, .eui = {1, 2}}},
    {kDown, "424000", FilterListReq{.index = 0, .action = 2, .eui_len = 0, .eui = {}}},
    {kDown, "42d0070f0e0d0c0b0a09080706050403020100",
     FilterListReq{.index = 15, .action = 2, .eui_len = 16, .eui = kCounting}},
    {kUp, "4205", FilterListAns{.combined_rules_ack = true, .eui_len_ack = false, .action_ack = true}},
    {kDown, "4305a1da1b012602000100000102030405060708090a0b0c0d0e0f",
     UpdateUplinkListReq{.index = 5,
                         .bucket_size = 2,
                         .reload_rate = 33,
                         .dev_addr = 0x26011BDA,
                         .wfcnt = 0x00010002,
                         .root_wor_s_key = kCounting}},
    {kUp, "43", UpdateUplinkListAns{}},
    {kDown, "4417", CtrlUplinkListReq{.action = 1, .index = 7}},
    {kUp, "440178563412", CtrlUplinkListAns{.index_ack = true, .wfcnt = 0x12345678}},
    {kDown, "4586026110e4",
     ConfigureFwdLimitReq{.reset_limit_counters = 1,
                          .join_request_reload_rate = 3,
                          .notify_reload_rate = 4,
                          .global_uplink_reload_rate = 5,
                          .overall_reload_rate = 6,
                          .join_request_bucket_size = 3,
                          .notify_bucket_size = 2,
                          .global_uplink_bucket_size = 1,
                          .overall_bucket_size = 0}},
    {kUp, "45", ConfigureFwdLimitAns{}},
    {kUp, "46da1b0126b90a", NotifyNewEndDeviceReq{.dev_addr = 0x26011BDA, .rssi_dbm = -100, .snr_db = 5}},
};

TEST_CASE("every command reads from its bytes and writes back to them") {
    std::vector<std::string_view> kinds;
    for (const Row& row : kRows) {
        CAPTURE(row.hex);
        const Bytes wire = unhex(row.hex);
        const auto parsed = MacCommand::parse(row.direction, wire);
        REQUIRE(parsed.has_value());
        CHECK(parsed->command == row.command);
        CHECK(parsed->size == wire.size());
        CHECK(parsed->command.cid() == wire[0]);
        CHECK(parsed->command.direction() == row.direction);
        CHECK(hex(encoded(row.command)) == hex(wire));
        // Bytes after the command are not looked at.
        Bytes longer = wire;
        longer.push_back(0xEE);
        CHECK(MacCommand::parse(row.direction, longer)->size == wire.size());
        // Every prefix is too short.
        for (std::size_t n = 1; n < wire.size(); ++n)
            CHECK(MacCommand::parse(row.direction, std::span(wire).first(n)).error() == LorawanError{Kind::TooShort});
        kinds.push_back(row.command.kind());
    }
    std::ranges::sort(kinds);
    const auto [first, last] = std::ranges::unique(kinds);
    kinds.erase(first, last);
    CHECK(kinds.size() == MacCommand::kCount);
}

TEST_CASE("bits the table does not name are ignored when read and written as zero") {
    struct Case {
        Direction direction;
        const char* read;
        const char* written;
    };
    const Case cases[] = {
        {kDown, "0372070081", "0372070001"},  // bit 7 of the redundancy byte
        {kUp, "06ffdf", "06ff1f"},            // bits 7-6 of the margin with bit 5 clear
        {kUp, "06ffe0", "06ff20"},            // and with bit 5 set
        {kUp, "05ff", "0507"},
        {kDown, "04ff", "040f"},
        {kDown, "0df0debc9aff", "0df0debc9aff"},
        {kDown, "44ff", "441f"},
        {kUp, "44ff00000000", "440100000000"},
        {kUp, "46000000000fff", "46000000000f0f"},  // bits 15-12 of the levels
        {kDown, "40ffff00000000", "40ff3f000000"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.read);
        const auto parsed = MacCommand::parse(c.direction, unhex(c.read));
        REQUIRE(parsed.has_value());
        CHECK(hex(encoded(parsed->command)) == c.written);
    }
    CHECK(MacCommand::parse(kDown, unhex("03720700f1"))->command.get_if<LinkAdrReq>()->mask_control == 7);
}

TEST_CASE("the same identifier names another command in each direction, or none") {
    CHECK(MacCommand::parse(kUp, unhex("02"))->command.kind() == "link_check_req");
    CHECK(MacCommand::parse(kDown, unhex("0205")).error() == LorawanError{Kind::TooShort});
    CHECK(MacCommand::parse(kDown, unhex("46da1b0126b90a")).error() == LorawanError{Kind::UnknownMacCommand, 0x46});
    for (int cid : {0x00, 0x01, 0x0B, 0x0C, 0x0E, 0x3F, 0x47, 0xFF})
        for (Direction d : {kUp, kDown}) {
            const Bytes wire{static_cast<std::uint8_t>(cid), 0, 0, 0, 0, 0, 0, 0};
            const auto parsed = MacCommand::parse(d, wire);
            CHECK(parsed.error() == LorawanError{Kind::UnknownMacCommand, static_cast<std::uint8_t>(cid)});
            CHECK_FALSE(MacCommand::blank(static_cast<std::uint8_t>(cid), d).has_value());
        }
    CHECK(MacCommand::parse(kUp, {}).error() == LorawanError{Kind::TooShort});
    CHECK(LorawanError{Kind::UnknownMacCommand, 0x0B}.display() == "lorawan MAC command 0x0b is not known here");
    CHECK(MacCommand::blank(0x03, kDown)->variant().index() == 2);
    CHECK(*MacCommand::blank(0x46, kUp) == MacCommand(NotifyNewEndDeviceReq{}));
}

TEST_CASE("signal levels are carried in their ranges and clamped into them") {
    const auto weakest = MacCommand::parse(kUp, unhex("4604030201ff0f"));
    REQUIRE(weakest.has_value());
    const auto* notify = weakest->command.get_if<NotifyNewEndDeviceReq>();
    CHECK(notify->dev_addr == 0x01020304);
    CHECK(notify->rssi_dbm == -142);
    CHECK(notify->snr_db == 11);
    CHECK(hex(encoded(NotifyNewEndDeviceReq{.dev_addr = 0x01020304, .rssi_dbm = -200, .snr_db = 50})) ==
          "4604030201ff0f");
    CHECK(hex(encoded(NotifyNewEndDeviceReq{.dev_addr = 0, .rssi_dbm = 0, .snr_db = -128})) == "46000000000000");
    CHECK(hex(encoded(DevStatusAns{.battery = 1, .snr_margin = 40})) == "060128");  // masked, not clamped
}

TEST_CASE("a filter rule keeps the most significant sixteen EUI bytes of a longer one") {
    // Seventeen wire bytes 01..11 (least significant first): 01 is dropped.
    const Bytes wire = unhex("4211000102030405060708090a0b0c0d0e0f1011");
    const auto parsed = MacCommand::parse(kDown, wire);
    REQUIRE(parsed.has_value());
    CHECK(parsed->size == 20);
    const auto* rule = parsed->command.get_if<FilterListReq>();
    CHECK(rule->eui_len == 17);
    CHECK(hex(rule->eui) == "11100f0e0d0c0b0a0908070605040302");
    // Such a rule cannot be written back, whatever room there is.
    Bytes none;
    CHECK(parsed->command.encode(none).error() == LorawanError{Kind::Malformed});
    // The EUI length decides how much must be there.
    CHECK(MacCommand::parse(kDown, unhex("42020001")).error() == LorawanError{Kind::TooShort});
    CHECK(MacCommand::parse(kDown, unhex("42")).error() == LorawanError{Kind::TooShort});
    CHECK(hex(encoded(FilterListReq{.index = 0, .action = 0, .eui_len = 2, .eui = {1, 2, 3, 4}})) == "4202000201");
}

TEST_CASE("frequencies that cannot travel are refused after the bytes before them") {
    Bytes out(8, 0xEE);
    const MacCommand odd = NewChannelReq{.index = 9, .frequency_hz = 869525050, .max_data_rate = 5};
    CHECK(odd.encode(out).error() == LorawanError{Kind::Malformed});
    CHECK(hex(std::span(out).first(3)) == "0709ee");
    CHECK(MacCommand(RxParamSetupReq{.frequency_hz = 1677721600}).encode(out).error() == LorawanError{Kind::Malformed});
    CHECK(hex(encoded(RxParamSetupReq{.frequency_hz = 1677721500})) == "0500ffffff");
    CHECK(hex(encoded(DlChannelReq{.index = 1, .frequency_hz = 0})) == "0a01000000");
    CHECK(MacCommand(RelayConfReq{.frequency_hz = 100}).encode(out).has_value());
    CHECK(MacCommand(EndDeviceConfReq{.frequency_hz = 150}).encode(out).error() == LorawanError{Kind::Malformed});
}

TEST_CASE("a buffer too small gives a payload too large, before any frequency is looked at") {
    Bytes four(4);
    CHECK(MacCommand(RxParamSetupReq{.frequency_hz = 1}).encode(four).error() == LorawanError{Kind::PayloadTooLarge});
    const MacCommand pair[] = {LinkAdrAns{.power_ack = true}, DevStatusAns{.battery = 7, .snr_margin = -3}};
    CHECK(encode_all(pair, four).error() == LorawanError{Kind::PayloadTooLarge});
    Bytes five(5);
    CHECK(encode_all(pair, five) == 5u);
    CHECK(hex(five) == "030406073d");
    CHECK(encode_all({}, five) == 0u);
    CHECK(LorawanError{Kind::PayloadTooLarge}.display() == "lorawan payload does not fit a single frame");
}

std::vector<std::string> walk(Direction direction, std::string_view text) {
    const Bytes run = unhex(text);
    std::vector<std::string> seen;
    for (const auto& item : MacCommands(run, direction))
        seen.push_back(item ? std::string(item->kind()) : item.error().display());
    return seen;
}

TEST_CASE("a run is read to its end, the first unknown identifier, or one truncated command") {
    using V = std::vector<std::string>;
    CHECK(walk(kDown, "") == V{});
    CHECK(walk(kDown, "06 0b01 0801") == V{"dev_status_req"});
    CHECK(walk(kDown, "06 037207") == V{"dev_status_req", "lorawan frame is shorter than its header and MIC"});
    CHECK(walk(kUp, "0307 06ff20 02 0d") == V{"link_adr_ans", "dev_status_ans", "link_check_req", "device_time_req"});
    CHECK(walk(kUp, "0307 46") == V{"link_adr_ans", "lorawan frame is shorter than its header and MIC"});
    CHECK(walk(kDown, "0307") == V{"lorawan frame is shorter than its header and MIC"});

    const Bytes run = unhex("06 037207");
    MacCommands commands(run, kDown);
    CHECK(commands.next().value()->kind() == "dev_status_req");
    CHECK(commands.next().value().error() == LorawanError{Kind::TooShort});
    CHECK_FALSE(commands.next().has_value());
    CHECK_FALSE(commands.next().has_value());
}

}  // namespace
}  // namespace trovik::lorawan
