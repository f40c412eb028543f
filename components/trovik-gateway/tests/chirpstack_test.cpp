#include <doctest/doctest.h>

#include <string>

#include "published.hpp"
#include "trovik/gateway/chirpstack.hpp"

using namespace trovik::gateway;
using namespace trovik::gateway::chirpstack;

namespace {

std::string refusal(const std::string& text) {
    const auto event = UplinkEvent::from_json(text);
    REQUIRE_FALSE(event);
    return event.error().message();
}

UplinkEvent event_of(const std::string& text) {
    auto event = UplinkEvent::from_json(text);
    REQUIRE_MESSAGE(event, event.error().message());
    return *event;
}

const std::string device = R"("deviceInfo":{"devEui":"0102030405060708"})";

}  // namespace

// The uplink event example of the ChirpStack v4 documentation
// (Integrations, Event types, "up"), typed in as published (tests/published).
TEST_CASE("the published v4 uplink event") {
    const UplinkEvent event = event_of(published("chirpstack_v4_up.json"));
    CHECK(event.deduplication_id == "3ac7e3c4-4401-4b8d-9386-a5c902f9202d");
    CHECK(event.time == "2022-07-18T09:34:15.775023242+00:00");
    CHECK(event.application_id == "17c82e96-be03-4f38-aef3-f83d48582d97");
    CHECK(event.device_name == "Test device");
    CHECK(event.dev_eui.to_hex() == "0101010101010101");
    CHECK(event.dev_addr == 0x00189440u);
    CHECK(event.data_rate == 1);
    CHECK(event.fport == 1);
    CHECK(event.fcnt == 0);
    CHECK_FALSE(event.adr);
    CHECK_FALSE(event.confirmed);
    CHECK(event.data == std::vector<std::uint8_t>{0xAA});
    REQUIRE(event.receptions.size() == 1);
    CHECK(event.receptions[0].gateway.to_hex() == "0016c001f153a14c");
    CHECK(event.receptions[0].rssi_dbm == -36);
    CHECK(event.receptions[0].snr_db == 10.5f);
    CHECK(event.frequency_hz == 867100000u);
    CHECK(event.best_reception() == &event.receptions[0]);
}

// A ChirpStack v3 event (application server JSON): the device sits at the top
// level as base64 "devEUI", so there is no deviceInfo.devEui to read.
TEST_CASE("a v3 event is refused") {
    CHECK(refusal(published("chirpstack_v3_up.json")) == "the event has no deviceInfo.devEui");
}

TEST_CASE("every refusal of an event, in one table") {
    struct Case {
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {"{}", "the event has no deviceInfo.devEui"},
        {"[1]", "the event is not a JSON object: the top level is not an object"},
        {"nope", "the event is not a JSON object: expected value at line 1 column 2"},
        {R"({"deviceInfo":null})", "the event's deviceInfo is not valid"},
        {R"({"deviceInfo":{"devEui":42}})", "the event has no deviceInfo.devEui"},
        {R"({"deviceInfo":{}})", "the event has no deviceInfo.devEui"},
        {R"({"deviceInfo":{"devEui":"0102"}})", "the event's deviceInfo.devEui is not valid"},
        {"{" + device + R"(,"devAddr":"123456789"})", "the event's devAddr is not valid"},
        {"{" + device + R"(,"devAddr":"-1"})", "the event's devAddr is not valid"},
        {"{" + device + R"(,"devAddr":"0x10"})", "the event's devAddr is not valid"},
        {"{" + device + R"(,"devAddr":""})", "the event's devAddr is not valid"},
        {"{" + device + R"(,"data":"A-=="})", "the event's data is not valid"},
        {"{" + device + R"(,"rxInfo":[5]})", "the event's rxInfo is not valid"},
        {"{" + device + R"(,"rxInfo":[{}]})", "the event's rxInfo.gatewayId is not valid"},
        {"{" + device + R"(,"rxInfo":[{"gatewayId":7}]})", "the event's rxInfo.gatewayId is not valid"},
        {"{" + device + R"(,"rxInfo":[{"gatewayId":"01"}]})", "the event's rxInfo.gatewayId is not valid"},
        {"{" + device + R"(,"rxInfo":[{"gatewayId":"0102030405060708","rssi":-57.5}]})",
         "the event's rxInfo.rssi is not valid"},
        {"{" + device + R"(,"rxInfo":[{"gatewayId":"0102030405060708","rssi":2147483648}]})",
         "the event's rxInfo.rssi is not valid"},
        {"{" + device + R"(,"rxInfo":[{"gatewayId":"0102030405060708","rssi":-2147483649}]})",
         "the event's rxInfo.rssi is not valid"},
        {"{" + device + R"(,"rxInfo":[{"gatewayId":"0102030405060708","rssi":"-5"}]})",
         "the event's rxInfo.rssi is not valid"},
        {"{" + device + R"(,"txInfo":{"frequency":8.681e8}})", "the event's txInfo.frequency is not valid"},
        {"{" + device + R"(,"txInfo":{"frequency":4294967296}})", "the event's txInfo.frequency is not valid"},
        {"{" + device + R"(,"dr":256})", "the event's dr is not valid"},
        {"{" + device + R"(,"fCnt":4294967296})", "the event's fCnt is not valid"},
        {"{" + device + R"(,"fCnt":5.0})", "the event's fCnt is not valid"},
        {"{" + device + R"(,"fCnt":5e0})", "the event's fCnt is not valid"},
        {"{" + device + R"(,"fCnt":-1})", "the event's fCnt is not valid"},
        {"{" + device + R"(,"fCnt":"5"})", "the event's fCnt is not valid"},
        {"{" + device + R"(,"fPort":256})", "the event's fPort is not valid"},
        // The device comes first.
        {R"({"deviceInfo":{"devEui":"x"},"fCnt":-1})", "the event's deviceInfo.devEui is not valid"},
        {"{\"deviceInfo\":" + std::string(200000, '[') + std::string(200000, ']') + "}",
         "the event is not a JSON object: recursion limit exceeded at line 1 column 142"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text.substr(0, 120));
        CHECK(refusal(c.text) == c.message);
    }
}

TEST_CASE("the defaults and readings of an event") {
    const UplinkEvent smallest = event_of("{" + device + "}");
    CHECK(smallest.fcnt == 0);
    CHECK_FALSE(smallest.fport);
    CHECK_FALSE(smallest.adr);
    CHECK_FALSE(smallest.confirmed);
    CHECK(smallest.data_rate == 0);
    CHECK(smallest.data.empty());
    CHECK(smallest.receptions.empty());
    CHECK(smallest.best_reception() == nullptr);
    CHECK_FALSE(smallest.dev_addr);
    CHECK_FALSE(smallest.frequency_hz);
    CHECK_FALSE(smallest.time);
    CHECK(smallest.deduplication_id.empty());
    CHECK(smallest.application_id.empty());
    CHECK(smallest.device_name.empty());

    const auto with = [](const std::string& fields) { return event_of("{" + device + "," + fields + "}"); };
    CHECK(with(R"("devAddr":"01ab23cd")").dev_addr == 27993037u);
    CHECK(with(R"("devAddr":"+1f")").dev_addr == 31u);
    CHECK(with(R"("devAddr":"000000001")").dev_addr == 1u);
    CHECK_FALSE(with(R"("devAddr":16)").dev_addr);
    CHECK(with(R"("fCnt":4294967295)").fcnt == 4294967295u);
    CHECK(with(R"("fCnt":null)").fcnt == 0);
    CHECK(with(R"("fPort":0)").fport == 0);
    CHECK_FALSE(with(R"("fPort":null)").fport);
    CHECK(with(R"("rxInfo":{"gatewayId":"0102030405060708"})").receptions.empty());
    CHECK(with(R"("rxInfo":[{"gatewayId":"0102030405060708"}])").receptions[0].rssi_dbm == 0);
    CHECK(with(R"("rxInfo":[{"gatewayId":"0102030405060708","rssi":null}])").receptions[0].rssi_dbm == 0);
    CHECK(with(R"("rxInfo":[{"gatewayId":"0102030405060708","rssi":-2147483648}])").receptions[0].rssi_dbm ==
          INT32_MIN);
    CHECK(with(R"("rxInfo":[{"gatewayId":"0102030405060708","snr":"7"}])").receptions[0].snr_db == 0.0f);
    CHECK(static_cast<double>(with(R"("rxInfo":[{"gatewayId":"0102030405060708","snr":7.3}])").receptions[0].snr_db) ==
          7.300000190734863);
    CHECK(with(R"("txInfo":{"frequency":868100000})").frequency_hz == 868100000u);
    CHECK_FALSE(with(R"("txInfo":[1])").frequency_hz);
    CHECK(with(R"("data":"AQID")").data == std::vector<std::uint8_t>{1, 2, 3});
    CHECK(with(R"("data":5)").data.empty());
    CHECK_FALSE(with(R"("adr":"true")").adr);
    CHECK(with(R"("adr":true,"confirmed":true)").confirmed);
}

TEST_CASE("the best reception") {
    const auto best = [](const std::string& snrs) {
        std::string receptions;
        char id = '1';
        for (std::size_t at = 0; at <= snrs.size();) {
            const std::size_t comma = std::min(snrs.find(',', at), snrs.size());
            if (!receptions.empty()) receptions += ',';
            receptions += std::string(R"({"gatewayId":"000000000000000)") + id++ + R"(","snr":)" +
                          snrs.substr(at, comma - at) + "}";
            at = comma + 1;
        }
        const UplinkEvent event = event_of("{" + device + R"(,"rxInfo":[)" + receptions + "]}");
        return event.best_reception()->gateway.to_hex();
    };
    CHECK(best("3,3") == "0000000000000002");
    CHECK(best("9.5,3") == "0000000000000001");
    CHECK(best("0.0,-0.0") == "0000000000000001");
    CHECK(best("-0.0,0.0") == "0000000000000002");
    CHECK(best("-5,-7,-6") == "0000000000000001");
    CHECK(best("1e300,1e300,5") == "0000000000000002");
}

TEST_CASE("the uplink topic") {
    CHECK(uplink_topic("42") == "application/42/device/+/event/up");
    CHECK(uplink_topic("") == "application//device/+/event/up");
    CHECK(uplink_topic("a/+") == "application/a/+/device/+/event/up");
}
