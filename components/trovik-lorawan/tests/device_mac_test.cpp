#include <doctest/doctest.h>

#include <string>
#include <string_view>
#include <vector>

#include "device_fixture.hpp"
#include "trovik/core/text.hpp"
#include "trovik/lora/region.hpp"
#include "trovik/lorawan/device/end_device.hpp"
#include "trovik/lorawan/relay/state.hpp"

namespace trovik::lorawan::device {
namespace {

using testing::kSession;
namespace plans = lora::plans;
using Bytes = std::vector<std::uint8_t>;

DeviceSettings settings(bool v104 = true, bool adr = true) {
    DeviceSettings s;
    s.min_output_dbm = -9;
    s.max_output_dbm = 22;
    s.version_1_0_4 = v104;
    s.adr = adr;
    return s;
}

EndDevice device(const lora::ChannelPlan& plan = plans::EU868, DeviceSettings s = settings()) {
    return EndDevice::personalized(plan, kSession, s).value();
}

// Commands in hex, spaces between them for the reader.
Delivery process(EndDevice& d, std::string_view hex, std::int8_t snr_db = 0, RelayState* relay = nullptr) {
    Delivery delivery;
    std::string packed(hex);
    std::erase(packed, ' ');
    const Bytes commands = core::text::bytes_from_hex(packed).value();
    d.process_commands(commands, snr_db, delivery, relay);
    return delivery;
}

// The queue as "kind:hex" texts, `o` once, `s` sticky.
std::vector<std::string> queued(const EndDevice& d) {
    std::vector<std::string> out;
    for (const auto& e : d.answers.queued())
        out.push_back((e.kind == AnswerKind::Sticky ? "s:" : "o:") + core::text::hex_bytes(e.encoded()));
    return out;
}
using Texts = std::vector<std::string>;

std::vector<std::size_t> enabled(const EndDevice& d) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < kMaxChannels; ++i)
        if (mask_has(d.channels.enabled, i)) out.push_back(i);
    return out;
}

TEST_CASE("LinkADRReq under 1.0.4 with ADR: all or nothing, one answer per request") {
    EndDevice d = device();
    // DR5, power 1, channels 0 to 2, ChMaskCntl 0, NbTrans 0.
    process(d, "0351070000");
    CHECK((d.data_rate == 5 && d.tx_power_index == 1 && d.transmissions == 1));
    CHECK(enabled(d) == std::vector<std::size_t>{0, 1, 2});
    CHECK(queued(d) == Texts{"o:0307"});

    // Channel 3 was never made: nothing changes.
    EndDevice refused = device();
    process(refused, "0332080000");
    CHECK(queued(refused) == Texts{"o:0306"});
    CHECK((refused.data_rate == 0 && refused.tx_power_index == 0));

    // A block: all on, then only channel 0 at DR3; two answers under 1.0.4, one under 1.0.3.
    for (const bool v104 : {true, false}) {
        EndDevice b = device(plans::EU868, settings(v104));
        process(b, "0300000060 0330010000");
        CHECK(enabled(b) == std::vector<std::size_t>{0});
        CHECK(b.data_rate == 3);
        CHECK(queued(b) == (v104 ? Texts{"o:0307", "o:0307"} : Texts{"o:0307"}));
    }
}

TEST_CASE("LinkADRReq data rate and power 15 keep the current values only under 1.0.4") {
    EndDevice d = device();
    d.data_rate = 2;
    d.tx_power_index = 3;
    process(d, "03ff070001");
    CHECK((d.data_rate == 2 && d.tx_power_index == 3));
    CHECK(queued(d) == Texts{"o:0307"});

    EndDevice old = device(plans::EU868, settings(false));
    process(old, "03ff070001");
    CHECK(queued(old) == Texts{"o:0301"});
    CHECK(old.data_rate == 0);
}

TEST_CASE("LinkADRReq under 1.0.4 without ADR takes each part on its own") {
    EndDevice d = device(plans::EU868, settings(true, false));
    // Mask refused (channel 3 absent), DR4 and power 2 fine.
    process(d, "0342080002");
    CHECK((d.data_rate == 4 && d.tx_power_index == 2 && d.transmissions == 1));
    CHECK(enabled(d) == std::vector<std::size_t>{0, 1, 2});
    CHECK(queued(d) == Texts{"o:0306"});
    // A power the radio cannot reach is refused on its own.
    EndDevice weak = device(plans::EU868, [] {
        DeviceSettings s = settings(true, false);
        s.min_output_dbm = 14;
        return s;
    }());
    process(weak, "0357030003");
    CHECK((weak.data_rate == 5 && weak.tx_power_index == 0 && weak.transmissions == 3));
    CHECK(enabled(weak) == std::vector<std::size_t>{0, 1});
    CHECK(queued(weak) == Texts{"o:0303"});
}

TEST_CASE("the other requests and their answers") {
    EndDevice d = device();
    d.battery = {Battery::Kind::Level, 0};
    // DutyCycleReq 0x1F, RXParamSetupReq (offset 1, DR2, 869525000), DevStatusReq,
    // RXTimingSetupReq 0, TxParamSetupReq (not on EU868), DlChannelReq for channel 1.
    const Delivery got = process(d, "041f 0512d2ad84 06 0800 0935 0a01988d84", -40);
    CHECK(d.max_duty_cycle == 0x0F);
    CHECK((d.rx1_dr_offset == 1 && d.rx2_data_rate == 2 && d.rx2_frequency_hz == 869525000));
    CHECK(d.receive_delay_us == 1000000);
    CHECK(d.channels.slots[1].downlink_hz == 868700000);
    CHECK(queued(d) == Texts{"o:04", "s:0507", "o:060120", "s:08", "s:0a03"});
    CHECK(!got.link_check);

    d.battery = {Battery::Kind::External, 9};
    d.answers.clear();
    process(d, "06 080f", 40);
    CHECK(queued(d) == Texts{"o:06001f", "s:08"});
    CHECK(d.receive_delay_us == 15000000);
}

TEST_CASE("NewChannelReq makes and deletes channels past the defaults, never on a fixed plan") {
    EndDevice d = device();
    process(d, "0701184f8450");  // channel 1 is a default one
    process(d, "0703184f8450");  // channel 3 at 867100000, DR0 to DR5
    CHECK(queued(d) == Texts{"o:0700", "o:0703"});
    CHECK(d.channels.slots[3] == ChannelSlot{true, 867100000, 867100000, 0, 5});
    CHECK(mask_has(d.channels.enabled, 3));
    // A frequency below 100 MHz is refused; the data rates 0..5 are fine.
    process(d, "070401000050");
    process(d, "070300000000");  // delete channel 3
    CHECK(!d.channels.slots[3].present);
    CHECK(!mask_has(d.channels.enabled, 3));
    CHECK(queued(d) == Texts{"o:0700", "o:0703", "o:0702", "o:0703"});

    EndDevice us = device(plans::US915);
    process(us, "0703184f8450 0a01988d84 0935");
    CHECK(queued(us).empty());
}

TEST_CASE("TxParamSetupReq on a plan that takes it") {
    EndDevice d = device(plans::AS923);
    REQUIRE(plans::AS923.tx_param_setup);
    process(d, "090d");
    CHECK(d.max_eirp_dbm == 30);
    CHECK((!d.uplink_dwell_time && !d.downlink_dwell_time));
    process(d, "0930");
    CHECK((d.max_eirp_dbm == 8 && d.uplink_dwell_time && d.downlink_dwell_time));
    CHECK(queued(d) == Texts{"s:09", "s:09"});
}

TEST_CASE("an unknown command ends the processing; answers and results before it stay") {
    EndDevice d = device();
    const Delivery got = process(d, "06 0b 0800 020a03");
    CHECK(queued(d) == Texts{"o:06ff00"});
    CHECK(d.receive_delay_us == 1000000);
    CHECK(!got.link_check);

    // Results are filled, a later one overwrites an earlier one; a truncated
    // LinkADRReq after a block still lets the block be applied.
    EndDevice e = device();
    const Delivery results = process(e, "020a03 0d7856341280 020b04 0351070000 0351");
    CHECK(results.link_check == std::pair<std::uint8_t, std::uint8_t>{11, 4});
    CHECK(results.device_time == std::pair<std::uint32_t, std::uint8_t>{0x12345678, 128});
    CHECK(queued(e) == Texts{"o:0307"});
    CHECK(e.data_rate == 5);
}

TEST_CASE("EndDeviceConfReq sets how the device uses a relay") {
    EndDevice d = device();
    // Activation 1, second channel index 1, ack offset code 6: refused.
    process(d, "41 04 8600 d2ad84");
    CHECK(queued(d) == Texts{"s:4107"});
    CHECK(d.relay.activation == DeviceRelay::Activation::DeviceControlled);
    CHECK(!d.relay.relaying);

    // Index 0: accepted, no second channel, relaying on.
    d.answers.clear();
    process(d, "41 05 000e d2ad84");
    CHECK(queued(d) == Texts{"s:410f"});
    CHECK(d.relay.activation == DeviceRelay::Activation::Enabled);
    CHECK(
        (d.relay.relaying && !d.relay.automatic_relaying && d.relay.smart_enable_level == 1 && d.relay.back_off == 7));
    CHECK(!d.relay.second_channel);

    // Index 1, offset code 1, DR3 at 869100000: the second channel, its ack 200 kHz up.
    d.answers.clear();
    process(d, "41 08 9900 389d84");
    CHECK(queued(d) == Texts{"s:410f"});
    REQUIRE(d.relay.second_channel);
    CHECK(*d.relay.second_channel == lora::RelayChannel{869100000, 869300000, 3});
    CHECK(d.relay.activation == DeviceRelay::Activation::Dynamic);
    // Index 2 with an activation: nothing changes.
    d.answers.clear();
    process(d, "41 0c 0001 389d84");
    CHECK(queued(d) == Texts{"s:410b"});
    CHECK(d.relay.activation == DeviceRelay::Activation::Dynamic);
    // Activation 0 drops everything, whatever the index.
    d.answers.clear();
    process(d, "41 00 8001 000000");
    CHECK(queued(d) == Texts{"s:410f"});
    CHECK((d.relay.activation == DeviceRelay::Activation::Disabled && !d.relay.relaying && !d.relay.second_channel));
}

TEST_CASE("relay configuration requests reach a relay's state, and are ignored without one") {
    EndDevice d = device();
    process(d, "4401 450000000000");
    CHECK(queued(d).empty());
    // A relay trusting no device yet: the list has nothing at index 1, and
    // the limits are set.
    auto relay = RelayState::fresh(relay::XtalAccuracy::Ppm40, relay::CadToRx::Symbols8);
    process(d, "4401 450000000000", 0, &relay);
    CHECK(queued(d) == Texts{"o:440000000000", "o:45"});
}

TEST_CASE("a full queue drops further answers") {
    EndDevice d = device();
    std::string many;
    for (int i = 0; i < 70; ++i)
        many += "04" + std::string(i % 2 ? "00" : "01");
    process(d, many);
    CHECK(d.answers.count == Answers::kMaxEntries);
    CHECK(d.max_duty_cycle == 0);
}

}  // namespace
}  // namespace trovik::lorawan::device
