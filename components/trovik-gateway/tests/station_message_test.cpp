#include <doctest/doctest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/gateway/station_discovery.hpp"
#include "trovik/gateway/station_message.hpp"

namespace {

namespace station = trovik::gateway::station;
using station::Message;

Message read(std::string_view text) {
    auto message = Message::from_json(text);
    REQUIRE_MESSAGE(message.has_value(), message.error().message());
    return std::move(*message);
}

template <class Kind>
Kind read_as(std::string_view text) {
    const Message message = read(text);
    REQUIRE(std::holds_alternative<Kind>(message.kind));
    return std::get<Kind>(message.kind);
}

std::string refusal(std::string_view text) {
    const auto message = Message::from_json(text);
    REQUIRE_FALSE(message.has_value());
    return message.error().message();
}

std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

}  // namespace

TEST_CASE("an updf is written compactly with its keys in byte order") {
    station::DataUplink m;
    m.mhdr = 0x40;
    m.dev_addr = 0x01020304;
    m.fcnt = 1;
    m.fport = 1;
    m.payload = bytes({0xaa, 0xbb});
    m.mic = 1144201745;
    m.data_rate = 5;
    m.frequency_hz = 868100000;
    m.levels.rssi = -35.0;
    m.levels.snr = 9.5;
    const std::string expected =
        R"({"DR":5,"DevAddr":16909060,"FCnt":1,"FCtrl":0,"FOpts":"","FPort":1,"FRMPayload":"aabb",)"
        R"("Freq":868100000,"MHdr":64,"MIC":1144201745,"msgtype":"updf",)"
        R"("upinfo":{"rctx":0,"rssi":-35.0,"snr":9.5,"xtime":0}})";
    CHECK(Message{m}.to_json() == expected);

    m.fport.reset();
    CHECK(Message{m}.to_json().find(R"("FPort":-1)") != std::string::npos);
}

TEST_CASE("every kind reads back what it wrote, text for text") {
    // One message of each kind, with the fields the Basics Station
    // documentation lists for it, in our compact form.
    const std::string_view texts[] = {
        R"({"features":"rmtsh gps","firmware":"2.0.6","model":"linux","msgtype":"version","package":"",)"
        R"j("protocol":2,"station":"2.0.6(linux/std)"})j",
        R"({"DRs":[[12,125,0],[11,125,0],[10,125,0],[9,125,0],[8,125,0],[7,125,0],[7,250,0],[0,0,0],)"
        R"([-1,0,0],[-1,0,0],[-1,0,0],[-1,0,0],[-1,0,0],[-1,0,0],[-1,0,0],[-1,0,0]],)"
        R"("JoinEui":[[0,18446744073709551615]],"NetID":[1,19],"freq_range":[863000000,870000000],)"
        R"("hwspec":"sx1301/1","max_eirp":16.0,"msgtype":"router_config","region":"EU863"})",
        R"({"DR":5,"DevEui":"1:2:3:4","DevNonce":43981,"Freq":868100000,"JoinEui":"::1","MHdr":0,"MIC":-12,)"
        R"("msgtype":"jreq","upinfo":{"gpstime":1234,"rctx":0,"rssi":-35.0,"snr":9.5,"xtime":68116944405337035}})",
        R"({"DR":0,"DevAddr":-1,"FCnt":65535,"FCtrl":3,"FOpts":"0a0b0c","FPort":-1,"FRMPayload":"","Freq":868300000,)"
        R"("MHdr":128,"MIC":-2147483648,"msgtype":"updf","upinfo":{"rctx":2,"rssi":-120.25,"snr":-7.5,"xtime":9}})",
        R"({"DR":3,"FRMPayload":"e0010203040506","Freq":869525000,"msgtype":"propdf",)"
        R"("upinfo":{"rctx":1,"rssi":0.0,"snr":0.0,"xtime":0}})",
        R"({"DR":3,"DevEui":"0:1::","Freq":869525000,"RX1DR":5,"RX1Freq":868100000,"RX2DR":0,"RX2Freq":869525000,)"
        R"("RxDelay":1,"dC":1,"diid":-5,"gpstime":99,"msgtype":"dnmsg","pdu":"600102030400010002","priority":2,)"
        R"("rctx":0,"xtime":68116944405337035})",
        R"({"DevEui":"::","dC":0,"diid":0,"msgtype":"dnmsg","pdu":"","priority":0})",
        R"({"msgtype":"dnsched","schedule":[{"DR":3,"Freq":869525000,"gpstime":5,"pdu":"0102","priority":0,)"
        R"("rctx":1},{"DR":0,"Freq":0,"pdu":"","priority":255}]})",
        R"({"DevEui":"ffff:ffff:ffff:ffff","diid":7,"gpstime":11,"msgtype":"dntxed","rctx":0,"txtime":1.25,"xtime":42})",
        R"({"gpstime":1234567890000,"msgtype":"timesync","txtime":1250000,"xtime":-3})",
        R"({"msgtype":"timesync"})",
        R"({"msgtype":"getxtime"})",
    };
    for (const std::string_view text : texts) {
        CAPTURE(text);
        CHECK(read(text).to_json() == text);
    }
}

TEST_CASE("the message envelope is strict") {
    CHECK(refusal("[1,2]") == "the message is not a JSON object");
    CHECK(refusal("null") == "the message is not a JSON object");
    CHECK(refusal("42") == "the message is not a JSON object");
    CHECK(refusal(R"({"MHdr":1})") == "the message names no kind");
    CHECK(refusal(R"({"msgtype":7})") == "the message names no kind");
    CHECK(refusal("").starts_with("the message is not JSON: "));
    CHECK(refusal("{").starts_with("the message is not JSON: "));
    // Kinds match exactly; anything else is kept by name alone.
    CHECK(read_as<station::OtherKind>(R"({"msgtype":"JREQ","DevEui":5})").msgtype == "JREQ");
    CHECK(read(R"({"msgtype":"hello","x":1})").to_json() == R"({"msgtype":"hello"})");
}

TEST_CASE("identifiers and byte fields are required where the kind needs them") {
    struct Case {
        std::string_view text;
        std::string_view error;
    };
    const Case cases[] = {
        {R"({"msgtype":"jreq","DevEui":"::1"})", "JoinEui is not an identifier"},
        {R"({"msgtype":"jreq","JoinEui":1,"DevEui":"::1"})", "JoinEui is not an identifier"},
        {R"({"msgtype":"jreq","JoinEui":"x","DevEui":"y"})", "JoinEui is not an identifier"},
        {R"({"msgtype":"jreq","JoinEui":"1","DevEui":"0123456789abcdef"})", "DevEui is not an identifier"},
        {R"({"msgtype":"dnmsg"})", "DevEui is not an identifier"},
        {R"({"msgtype":"dntxed","DevEui":null})", "DevEui is not an identifier"},
        {R"({"msgtype":"updf","FRMPayload":"0a0"})", "FRMPayload is not whole bytes"},
        {R"({"msgtype":"updf","FRMPayload":"0g"})", "FRMPayload is not hexadecimal"},
        {R"({"msgtype":"updf","FRMPayload":"+f"})", "FRMPayload is not hexadecimal"},
        {R"({"msgtype":"updf","FRMPayload":"\u00e9"})", "FRMPayload is not hexadecimal"},
        {R"({"msgtype":"updf","FOpts":"0","FRMPayload":"0"})", "FOpts is not whole bytes"},
        {R"({"msgtype":"updf","FOpts":"zz"})", "FOpts is not hexadecimal"},
        {R"({"msgtype":"propdf","FRMPayload":"abc"})", "FRMPayload is not whole bytes"},
        {R"({"msgtype":"dnmsg","DevEui":"::1","pdu":"x1"})", "pdu is not hexadecimal"},
        {R"({"msgtype":"dnsched","schedule":[{"pdu":"123"}]})", "pdu is not whole bytes"},
        {R"({"msgtype":"dnsched","schedule":[1]})", "a scheduled frame is not a JSON object"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        CHECK(refusal(c.text) == c.error);
    }
    const auto jreq =
        read_as<station::JoinRequest>(R"({"msgtype":"jreq","JoinEui":"1","DevEui":"01-02-03-04-05-06-07-08"})");
    CHECK(jreq.join_eui == 1);
    CHECK(jreq.dev_eui == 0x0102030405060708);
    const auto updf = read_as<station::DataUplink>(R"({"msgtype":"updf","FRMPayload":"0aFF","FOpts":null})");
    CHECK(updf.payload == bytes({0x0a, 0xff}));
    CHECK(updf.fopts.empty());
    CHECK(read_as<station::DataUplink>(R"({"msgtype":"updf","FRMPayload":7})").payload.empty());
    CHECK(read_as<station::Schedule>(R"({"msgtype":"dnsched","schedule":{}})").schedule.empty());
}

TEST_CASE("numbers read leniently: rounded, saturated, then cut to their width") {
    struct Case {
        std::string_view json;
        std::int64_t dr;
    };
    const Case rates[] = {{"5", 5},     {"260", 4},  {"5.5", 6},  {"-0.5", 255},  {"2.5", 3},
                          {"\"5\"", 0}, {"null", 0}, {"true", 0}, {"1e300", 255}, {"-2.5", 253}};
    for (const auto& c : rates) {
        CAPTURE(c.json);
        const auto m = read_as<station::ProprietaryUplink>(std::string(R"({"msgtype":"propdf","DR":)") +
                                                           std::string(c.json) + "}");
        CHECK(m.data_rate == c.dr);
    }
    const auto updf = read_as<station::DataUplink>(
        R"({"msgtype":"updf","FCnt":65537,"MIC":4294967295,"DevAddr":2147483648,"upinfo":{"xtime":18446744073709551615,"rctx":-1e300}})");
    CHECK(updf.fcnt == 1);
    CHECK(updf.mic == -1);
    CHECK(updf.dev_addr == INT32_MIN);
    CHECK(updf.levels.xtime == INT64_MAX);
    CHECK(updf.levels.rctx == INT64_MIN);
    CHECK(read_as<station::DataUplink>(R"({"msgtype":"updf","MIC":-1})").mic == -1);

    // FPort: -1 (or any negative, or a non-number) is no port.
    CHECK(read_as<station::DataUplink>(R"({"msgtype":"updf","FPort":-1})").fport == std::nullopt);
    CHECK(read_as<station::DataUplink>(R"({"msgtype":"updf","FPort":-7})").fport == std::nullopt);
    CHECK(read_as<station::DataUplink>(R"({"msgtype":"updf","FPort":"1"})").fport == std::nullopt);
    CHECK(read_as<station::DataUplink>(R"({"msgtype":"updf","FPort":257})").fport == 1);

    // MHdr, or Mhdr when MHdr is not a number.
    CHECK(read_as<station::JoinRequest>(R"({"msgtype":"jreq","JoinEui":"::","DevEui":"::","Mhdr":7})").mhdr == 7);
    CHECK(read_as<station::JoinRequest>(R"({"msgtype":"jreq","JoinEui":"::","DevEui":"::","Mhdr":7,"MHdr":9})").mhdr ==
          9);
    CHECK(
        read_as<station::JoinRequest>(R"({"msgtype":"jreq","JoinEui":"::","DevEui":"::","Mhdr":7,"MHdr":"9"})").mhdr ==
        7);

    // timesync txtime is whole microseconds; dntxed txtime is seconds.
    CHECK(read_as<station::TimeSync>(R"({"msgtype":"timesync","txtime":1.5})").txtime == 2);
    CHECK(read_as<station::Transmitted>(R"({"msgtype":"dntxed","DevEui":"::","txtime":1.25})").txtime == 1.25);
}

TEST_CASE("doubles that are not finite are written as null and read back as zero") {
    station::Transmitted m;
    m.txtime = std::numeric_limits<double>::quiet_NaN();
    const std::string text = Message{m}.to_json();
    CHECK(text.find(R"("txtime":null)") != std::string::npos);
    CHECK(read_as<station::Transmitted>(text).txtime == 0.0);

    station::ProprietaryUplink p;
    p.levels.rssi = -INFINITY;
    p.levels.snr = INFINITY;
    const auto back = read_as<station::ProprietaryUplink>(Message{p}.to_json());
    CHECK(back.levels.rssi == 0.0);
    CHECK(back.levels.snr == 0.0);

    station::RouterConfig c;
    c.max_eirp = NAN;
    CHECK(Message{c}.to_json().find(R"("max_eirp":null)") != std::string::npos);
}

TEST_CASE("a router_config reads its tables as a station would") {
    const auto c = read_as<station::RouterConfig>(
        R"({"msgtype":"router_config","DRs":[[7,125,0],[-1,0,0],"x",[12,125,1],[8,125,true],[7,4294968],[7,4294967296],[7],[256,125]],)"
        R"("freq_range":[863000000],"JoinEui":[[1,2,3],[-5,2.7],"x",[1],[1e30,"y"]],"NetID":[1,"x",4294967297]})");
    REQUIRE(c.data_rates.size() == 9);
    CHECK(c.data_rates[0] == station::DataRate{7, 125000, false});
    CHECK_FALSE(c.data_rates[1]);
    CHECK_FALSE(c.data_rates[2]);
    CHECK(c.data_rates[3] == station::DataRate{12, 125000, true});
    CHECK(c.data_rates[4] == station::DataRate{8, 125000, false});
    CHECK(c.data_rates[5] == station::DataRate{7, 4294967295u, false});
    CHECK_FALSE(c.data_rates[6]);
    CHECK_FALSE(c.data_rates[7]);
    CHECK_FALSE(c.data_rates[8]);
    CHECK(c.freq_min == 863000000);
    CHECK(c.freq_max == 0);
    REQUIRE(c.join_eui_ranges.size() == 2);
    CHECK(c.join_eui_ranges[0] == station::JoinRange{1, 2});
    CHECK(c.join_eui_ranges[1] == station::JoinRange{0, 2});
    CHECK(c.net_id == std::vector<std::uint32_t>{1, 1});

    const std::string written = Message{c}.to_json();
    CHECK(written.find(R"("DRs":[[7,125,0],[-1,0,0],[-1,0,0],[12,125,1],[8,125,0],[7,4294967,0],[-1,0,0],)") !=
          std::string::npos);

    const auto empty = read_as<station::RouterConfig>(R"({"msgtype":"router_config","NetID":[],"freq_range":"x"})");
    CHECK(empty.net_id == std::vector<std::uint32_t>{});
    CHECK(empty.freq_min == 0);
    CHECK(Message{empty}.to_json().find(R"("NetID":[])") != std::string::npos);
    const auto absent = read_as<station::RouterConfig>(R"({"msgtype":"router_config","NetID":5})");
    CHECK_FALSE(absent.net_id);
    CHECK(Message{absent}.to_json().find(R"("NetID":null)") != std::string::npos);
}

TEST_CASE("a dnmsg window needs both of its numbers") {
    const auto m = read_as<station::Downlink>(
        R"({"msgtype":"dnmsg","DevEui":"::1","RX1DR":3,"RX2DR":0,"RX2Freq":"x","DR":1,"Freq":2})");
    CHECK_FALSE(m.rx1);
    CHECK_FALSE(m.rx2);
    CHECK(m.ping_slot == station::Window{1, 2});
    const std::string text = Message{m}.to_json();
    CHECK(text.find("RX1") == std::string::npos);
    CHECK(text.find("RX2") == std::string::npos);
}

TEST_CASE("a heard frame becomes the uplink message that reports it") {
    std::vector<std::uint8_t> join(23, 0);
    for (std::size_t i = 1; i <= 8; ++i)
        join[i] = static_cast<std::uint8_t>(i);  // JoinEUI 08-07-...-01 on the wire
    join[9] = 0xef;
    join[17] = 0x34;
    join[18] = 0x12;
    join[19] = 0xff;
    join[20] = join[21] = join[22] = 0xff;
    const station::Levels levels{1, 2, 3, -40.5, 7.25};
    auto heard = Message::heard(join, 5, 868100000, levels);
    REQUIRE(heard);
    const auto& jreq = std::get<station::JoinRequest>(heard->kind);
    CHECK(jreq.join_eui == 0x0807060504030201);
    CHECK(jreq.dev_eui == 0xef);
    CHECK(jreq.dev_nonce == 0x1234);
    CHECK(jreq.mic == -1);
    CHECK(jreq.levels.rssi == -40.5);
    CHECK(jreq.levels.gpstime == 3);

    join.pop_back();
    CHECK(Message::heard(join, 0, 0, {}).error().message() == "a join request carries 18 bytes, not 17");

    // Header 40, DevAddr 01020304 sent as 04 03 02 01, FCtrl, FCnt 0x0102.
    std::vector<std::uint8_t> data{0x40, 0x04, 0x03, 0x02, 0x01, 0x00, 0x02, 0x01, 0x11, 0x22, 0x33, 0x44};
    auto updf = Message::heard(data, 0, 0, {});
    REQUIRE(updf);
    auto d = std::get<station::DataUplink>(updf->kind);
    CHECK(d.dev_addr == 0x01020304);
    CHECK(d.fcnt == 0x0102);
    CHECK(d.mic == 0x44332211);
    CHECK_FALSE(d.fport);
    CHECK(d.payload.empty());

    data.insert(data.begin() + 8, 0x07);  // a port and no payload
    d = std::get<station::DataUplink>(Message::heard(data, 0, 0, {})->kind);
    CHECK(d.fport == 7);
    CHECK(d.payload.empty());
    data.insert(data.begin() + 9, {0xaa, 0xbb});
    d = std::get<station::DataUplink>(Message::heard(data, 0, 0, {})->kind);
    CHECK(d.payload == bytes({0xaa, 0xbb}));

    std::vector<std::uint8_t> short_data(11, 0);
    short_data[0] = 0x80;
    CHECK(Message::heard(short_data, 0, 0, {}).error().message() == "a data frame carries 7 bytes of header, not 6");

    std::vector<std::uint8_t> options(14, 0);
    options[0] = 0x40;
    options[5] = 0x03;
    CHECK(Message::heard(options, 0, 0, {}).error().message() == "a frame naming 3 bytes of options carries 9 in all");
    options.push_back(0);
    options[8] = 0xa;
    d = std::get<station::DataUplink>(Message::heard(options, 0, 0, {})->kind);
    CHECK(d.fopts == bytes({0xa, 0, 0}));
    CHECK_FALSE(d.fport);

    const std::vector<std::uint8_t> proprietary{0xe0, 1, 2, 3, 4};
    const auto p = Message::heard(proprietary, 9, 10, {});
    CHECK(std::get<station::ProprietaryUplink>(p->kind).payload == proprietary);
    for (int kind : {1, 3, 5, 6}) {
        const std::vector<std::uint8_t> frame{static_cast<std::uint8_t>(kind << 5), 0, 0, 0, 0};
        CHECK(Message::heard(frame, 0, 0, {}).error().message() ==
              "a station does not send a frame of kind " + std::to_string(kind) + " up");
    }
    const std::vector<std::uint8_t> four{0xe0, 0, 0, 0};
    CHECK(Message::heard(four, 0, 0, {}).error().message() ==
          "a frame of 4 bytes is shorter than a header and an integrity code");
    CHECK(Message::heard({}, 0, 0, {}).error().message() ==
          "a frame of 0 bytes is shorter than a header and an integrity code");
}

TEST_CASE("the discovery request and the endpoint's answer") {
    CHECK(station::Discovery{1}.to_json() == R"({"router":"::1"})");
    CHECK(station::Discovery{0}.to_json() == R"({"router":"::"})");
    CHECK(station::Discovery::from_json(R"({"router":"1"})")->router == 1);
    CHECK(station::Discovery::from_json(R"({"router":"00-00-00-00-00-00-00-01","x":2})")->router == 1);
    for (std::string_view text : {R"({"router":1})", R"({"router":"x"})", "{}", "[]", R"("::1")"}) {
        CAPTURE(text);
        CHECK(station::Discovery::from_json(text).error().message() == "router is not an identifier");
    }
    const auto not_json = station::Discovery::from_json("{");
    REQUIRE_FALSE(not_json);
    CHECK(not_json.error().message().find("line 1 column") != std::string::npos);
    CHECK_FALSE(not_json.error().message().starts_with("the message"));

    station::Router refused{1, std::nullopt, std::nullopt, "unknown"};
    CHECK(refused.to_json() == R"({"error":"unknown","router":"::1"})");
    station::Router accepted{0x0102030405060708, 0xff, "wss://example.org:6039/router", std::nullopt};
    CHECK(accepted.to_json() == R"({"muxs":"::ff","router":"102:304:506:708","uri":"wss://example.org:6039/router"})");
    CHECK(station::Router{}.to_json() == "{}");

    const auto back = station::Router::from_json(accepted.to_json());
    REQUIRE(back);
    CHECK(back->router == 0x0102030405060708);
    CHECK(back->muxs == 0xff);
    CHECK(back->uri == "wss://example.org:6039/router");
    CHECK_FALSE(back->error);
    const auto odd = station::Router::from_json(R"({"router":"x","muxs":5,"uri":1,"error":"e"})");
    CHECK_FALSE(odd->router);
    CHECK_FALSE(odd->muxs);
    CHECK_FALSE(odd->uri);
    CHECK(odd->error == "e");
    const auto nothing = station::Router::from_json("[]");
    CHECK_FALSE(nothing->router);
    CHECK_FALSE(nothing->error);
    CHECK_FALSE(station::Router::from_json("nope"));
}
