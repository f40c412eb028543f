#include <doctest/doctest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "published.hpp"
#include "trovik/gateway/udp.hpp"

using namespace trovik::gateway;
using namespace trovik::gateway::udp;
using trovik::lora::Decibels;
using trovik::lora::LinkSettings;

namespace {

std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

const Eui gateway_eui{{0xAA, 0x55, 0x5A, 0x00, 0x00, 0x00, 0x00, 0x01}};

// A datagram: version 2, token 0x1234, the kind, the gateway for the kinds
// that carry one, then the body.
std::vector<std::uint8_t> datagram(std::uint8_t kind, std::string_view body, bool with_gateway = true) {
    std::vector<std::uint8_t> out;
    out.reserve(12 + body.size());
    for (const std::uint8_t b : {std::uint8_t{2}, std::uint8_t{0x12}, std::uint8_t{0x34}, kind})
        out.push_back(b);
    if (with_gateway) out.insert(out.end(), gateway_eui.bytes.begin(), gateway_eui.bytes.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::string refusal(std::span<const std::uint8_t> bytes) {
    const auto packet = Packet::parse(bytes);
    REQUIRE_FALSE(packet);
    return packet.error().message();
}

Uplink uplink_of(std::string_view body) {
    const auto uplink = Uplink::from_json(bytes_of(body));
    REQUIRE_MESSAGE(uplink, uplink.error().message());
    return *uplink;
}

Rxpk rxpk_of(std::string_view entry) {
    const auto uplink = uplink_of("{\"rxpk\":[" + std::string(entry) + "]}");
    REQUIRE(uplink.packets.size() == 1);
    return uplink.packets[0];
}

Txpk txpk_from(std::string_view body) {
    const auto txpk = Txpk::from_json(bytes_of(body));
    REQUIRE_MESSAGE(txpk, txpk.error().message());
    return *txpk;
}

Txpk txpk_of(std::string_view object) {
    const auto txpk = Txpk::from_json(bytes_of("{\"txpk\":" + std::string(object) + "}"));
    REQUIRE_MESSAGE(txpk, txpk.error().message());
    return *txpk;
}

}  // namespace

TEST_CASE("the example uplink and downlink encode byte for byte") {
    Rxpk rx;
    rx.frequency_hz = 868100000;
    rx.modulation = LinkSettings(7, 125000);
    rx.crc = CrcStatus::Ok;
    rx.rssi = Decibels(-5700);
    rx.snr = Decibels(950);
    rx.channel = 2;
    rx.timestamp_us = 3512348611;
    rx.payload = {0x40, 0x01, 0x02, 0x03};
    const Packet push{PushData{0x1234, gateway_eui, Uplink{{rx}, {}}}};
    CHECK(push.to_bytes() ==
          datagram(0, R"({"rxpk":[{"chan":2,"codr":"4/5","data":"QAECAw==","datr":"SF7BW125","freq":868.1,)"
                      R"("lsnr":9.5,"modu":"LORA","rfch":0,"rssi":-57,"size":4,"stat":1,"tmst":3512348611}]})"));

    Txpk tx;
    tx.frequency_hz = 869525000;
    tx.modulation = LinkSettings(9, 125000);
    tx.invert_polarity = true;
    tx.without_crc = true;
    tx.timestamp_us = 1000000;
    tx.payload = {0x60, 0x04, 0x03, 0x02, 0x01, 0x00, 0x01, 0x00};
    const Packet pull{PullResp{0x1234, tx}};
    CHECK(pull.to_bytes() ==
          datagram(3,
                   R"({"txpk":{"codr":"4/5","data":"YAQDAgEAAQA=","datr":"SF9BW125","freq":869.525,"imme":false,)"
                   R"("ipol":true,"modu":"LORA","ncrc":true,"powe":14,"rfch":0,"size":8,"tmst":1000000}})",
                   false));
}

// The examples of the Semtech packet forwarder's PROTOCOL.TXT (protocol
// version 2), typed in as published (tests/published).
TEST_CASE("the packet forwarder's published examples") {
    SUBCASE("the rxpk example is refused at its first entry, whose data is URL-safe base64") {
        CHECK(refusal(datagram(0, published("semtech_rxpk.json"))) ==
              "the rxpk payload is not base64: byte 0 is 0x2d, which is not base64");
    }
    SUBCASE("its FSK entry") {
        const Rxpk rx = rxpk_of(R"({"time":"2013-03-31T16:21:17.530974Z","tmst":3512348514,"chan":9,"rfch":1,)"
                                R"("freq":869.1,"stat":1,"modu":"FSK","datr":50000,"rssi":-75,"size":16,)"
                                R"("data":"VEVTVF9QQUNLRVRfMTIzNA=="})");
        CHECK(rx.frequency_hz == 869100000);
        CHECK(std::get<Fsk>(rx.modulation).bitrate_bps == 50000);
        CHECK(rx.payload == bytes_of("TEST_PACKET_1234"));
        CHECK(rx.channel == 9);
        CHECK(rx.rf_chain == 1);
        CHECK(rx.rssi == Decibels(-7500));
        CHECK_FALSE(rx.snr);
        CHECK(rx.crc == CrcStatus::Ok);
        CHECK(rx.time == "2013-03-31T16:21:17.530974Z");
        CHECK(rx.timestamp_us == 3512348514u);
    }
    SUBCASE("its second LoRa entry") {
        const Rxpk rx =
            rxpk_of(R"({"time":"2013-03-31T16:21:17.532038Z","tmst":3316387610,"chan":0,"rfch":0,)"
                    R"("freq":863.00981,"stat":1,"modu":"LORA","datr":"SF10BW125","codr":"4/7",)"
                    R"("rssi":-38,"lsnr":5.5,"size":32,"data":"ysgRl452xNLep9S1NTIg2lomKDxUgn3DJ7DE+b00Ass"})");
        CHECK(rx.frequency_hz == 863009810);
        const auto& link = std::get<LinkSettings>(rx.modulation);
        CHECK(link.spreading_factor() == 10);
        CHECK(link.bandwidth_hz() == 125000);
        CHECK(link.coding_rate_denominator() == 7);
        CHECK(rx.payload.size() == 32);
        CHECK(rx.snr == Decibels(550));
    }
    SUBCASE("the stat example") {
        const Uplink uplink = uplink_of(published("semtech_stat.json"));
        CHECK(uplink.packets.empty());
        REQUIRE(uplink.status);
        const Stat& stat = *uplink.status;
        CHECK(stat.time == "2014-01-12 08:59:28 GMT");
        CHECK(stat.latitude_deg == 46.24);
        CHECK(stat.longitude_deg == 3.2523);
        CHECK(stat.altitude_m == 145);
        CHECK(stat.received == 2);
        CHECK(stat.received_ok == 2);
        CHECK(stat.forwarded == 2);
        CHECK(stat.acknowledged_percent == 100.0);
        CHECK(stat.downlinks == 2);
        CHECK(stat.transmitted == 2);
        CHECK(Uplink{{}, stat}.to_json() ==
              R"({"stat":{"ackr":100.0,"alti":145,"dwnb":2,"lati":46.24,"long":3.2523,"rxfw":2,"rxnb":2,"rxok":2,)"
              R"("time":"2014-01-12 08:59:28 GMT","txnb":2}})");
    }
    SUBCASE("the LoRa txpk example") {
        const Txpk tx = txpk_from(published("semtech_txpk_lora.json"));
        CHECK(tx.immediate);
        CHECK(tx.frequency_hz == 864123456);
        CHECK(std::get<LinkSettings>(tx.modulation).spreading_factor() == 11);
        CHECK(std::get<LinkSettings>(tx.modulation).coding_rate_denominator() == 6);
        CHECK(tx.power_dbm == 14);
        CHECK_FALSE(tx.invert_polarity);
        CHECK(tx.payload.size() == 32);
        CHECK(tx.to_json() ==
              R"({"txpk":{"codr":"4/6","data":"H3P3N2i9qc4yt7rK7ldqoeCVJGBybzPY5h1Dd7P7p8s=","datr":"SF11BW125",)"
              R"("freq":864.123456,"imme":true,"ipol":false,"modu":"LORA","powe":14,"rfch":0,"size":32}})");
    }
    SUBCASE("the FSK txpk example") {
        const Txpk tx = txpk_from(published("semtech_txpk_fsk.json"));
        CHECK(std::get<Fsk>(tx.modulation).bitrate_bps == 50000);
        CHECK(tx.frequency_deviation_hz == 3000u);
        CHECK(tx.power_dbm == 12);
        CHECK(tx.to_json() ==
              R"({"txpk":{"data":"H3P3N2i9qc4yt7rK7ldqoeCVJGBybzPY5h1Dd7P7p8s=","datr":50000,"fdev":3000,)"
              R"("freq":861.3,"imme":true,"modu":"FSK","powe":12,"rfch":0,"size":32}})");
    }
    SUBCASE("the TX_ACK example") {
        const auto packet = Packet::parse(datagram(5, published("semtech_txpk_ack.json")));
        REQUIRE(packet);
        CHECK(std::get<TxAck>(packet->body).tx_status == TxStatus::CollisionPacket);
    }
}

TEST_CASE("the datagram header") {
    CHECK(refusal(std::vector<std::uint8_t>{}) == "a datagram of 0 bytes is shorter than the header");
    CHECK(refusal(std::vector<std::uint8_t>{2, 0, 0}) == "a datagram of 3 bytes is shorter than the header");
    CHECK(refusal(std::vector<std::uint8_t>{1, 0, 0, 9}) == "protocol version 1 is not 2");
    CHECK(refusal(std::vector<std::uint8_t>{2, 0, 0, 6}) == "0x06 is not a packet identifier");
    CHECK(refusal(std::vector<std::uint8_t>{2, 0, 0, 255}) == "0xff is not a packet identifier");
    CHECK(refusal(std::vector<std::uint8_t>{2, 0, 0, 0}) == "a PushData of 4 bytes is missing fields it must carry");
    CHECK(refusal(std::vector<std::uint8_t>{2, 0, 0, 2, 1, 2, 3, 4, 5, 6, 7}) ==
          "a PullData of 11 bytes is missing fields it must carry");
    CHECK(refusal(std::vector<std::uint8_t>{2, 0, 0, 5, 1, 2, 3, 4}) ==
          "a TxAck of 8 bytes is missing fields it must carry");
    CHECK(refusal(datagram(0, "")) ==
          "the payload of a PUSH_DATA is not JSON: EOF while parsing a value at line 1 column 0");
    CHECK(refusal(datagram(3, "", false)) ==
          "the payload of a PULL_RESP is not JSON: EOF while parsing a value at line 1 column 0");

    SUBCASE("acknowledgments and PULL_DATA ignore what follows their fields") {
        auto short_ack = Packet::parse(datagram(1, "", false));
        auto long_ack = Packet::parse(datagram(1, std::string(36, 'x'), false));
        REQUIRE(short_ack);
        REQUIRE(long_ack);
        CHECK(short_ack->kind() == PacketKind::PushAck);
        CHECK(long_ack->token() == 0x1234);
        const auto pull = Packet::parse(datagram(2, "12345678"));
        REQUIRE(pull);
        CHECK(std::get<PullData>(pull->body).gateway == gateway_eui);
        CHECK(pull->to_bytes() == datagram(2, ""));
        const auto pull_ack = Packet::parse(datagram(4, "", false));
        REQUIRE(pull_ack);
        CHECK(pull_ack->kind() == PacketKind::PullAck);
        CHECK(pull_ack->to_bytes() == datagram(4, "", false));
    }
    SUBCASE("an empty or blank TX_ACK is NONE, and NONE is written out") {
        for (const std::string_view body : {"", " \t\n\f\r"}) {
            const auto ack = Packet::parse(datagram(5, body));
            REQUIRE(ack);
            CHECK(std::get<TxAck>(ack->body).tx_status == TxStatus::None);
            CHECK(ack->to_bytes() == datagram(5, R"({"txpk_ack":{"error":"NONE"}})"));
        }
    }
    SUBCASE("a PUSH_DATA with nothing to carry is written, and refused on reading") {
        const Packet empty{PushData{0x1234, gateway_eui, {}}};
        CHECK(empty.to_bytes() == datagram(0, "{}"));
        CHECK(refusal(empty.to_bytes()) == "a PUSH_DATA payload carries neither \"rxpk\" nor \"stat\"");
    }
}

TEST_CASE("the gateway identifier's text") {
    CHECK(gateway_eui.to_hex() == "aa555a0000000001");
    CHECK(Eui::from_hex("aa555a0000000001") == gateway_eui);
    CHECK(Eui::from_hex("AA555A0000000001") == gateway_eui);
    for (const char* bad :
         {"aa555a000000001", "aa555a00000000011", "aa555a00 0000001", "+a555a0000000001", "ga555a0000000001", ""}) {
        CAPTURE(bad);
        CHECK_FALSE(Eui::from_hex(bad));
    }
}

// Every refusal text a body reader gives, each with a body that shows it.
TEST_CASE("every refusal of a body, in one table") {
    struct Case {
        std::uint8_t kind;
        const char* body;
        const char* message;
    };
    const Case cases[] = {
        {0, "{", "the payload of a PUSH_DATA is not JSON: EOF while parsing an object at line 1 column 1"},
        {3, "[1,]", "the payload of a PULL_RESP is not JSON: trailing comma at line 1 column 4"},
        {5, "nul", "the payload of a TX_ACK is not JSON: EOF while parsing a value at line 1 column 3"},
        {0, "[]", "a PUSH_DATA payload is not a JSON object"},
        {3, "1", "a PULL_RESP payload is not a JSON object"},
        {5, "\"x\"", "a TX_ACK payload is not a JSON object"},
        {0, R"({"rxpk":[1]})", "an rxpk entry is not a JSON object"},
        {0, R"({"stat":[]})", "a stat object is not a JSON object"},
        {3, R"({"txpk":true})", "a txpk object is not a JSON object"},
        {5, R"({"txpk_ack":null})", "a txpk_ack object is not a JSON object"},
        {0, R"({"rxpk":{}})", "\"rxpk\" is not an array"},
        {0, R"({"rxpk":[]})", "a PUSH_DATA payload carries neither \"rxpk\" nor \"stat\""},
        {0, R"({})", "a PUSH_DATA payload carries neither \"rxpk\" nor \"stat\""},
        {3, R"({"txp":{}})", "a PULL_RESP payload carries no \"txpk\""},
        {5, R"({})", "a TX_ACK payload carries no \"txpk_ack\""},
        {5, R"({"txpk_ack":{"error":"tx_freq"}})", "tx_freq is not a TX_ACK error"},
        {0, R"({"rxpk":[{"datr":"SF7BW125","data":""}]})", "a rxpk carries no \"freq\""},
        {0, R"({"rxpk":[{"datr":"SF7BW125","freq":"868.1","data":""}]})", "a rxpk carries no \"freq\""},
        {3, R"({"txpk":{"data":""}})", "a txpk carries no \"freq\""},
        {0, R"({"rxpk":[{"datr":"SF7BW125","freq":-1,"data":""}]})", "-1 MHz is not a carrier"},
        {0, R"({"rxpk":[{"datr":"SF7BW125","freq":4294.967296,"data":""}]})", "4294.967296 MHz is not a carrier"},
        {3, R"({"txpk":{"freq":5000,"data":""}})", "5000 MHz is not a carrier"},
        {0, R"({"rxpk":[{"modu":"lora","datr":"SF7BW125","freq":868.1,"data":""}]})", "lora is not a modulation"},
        {0, R"({"rxpk":[{"modu":"FSK","datr":"50000","freq":868.1,"data":""}]})",
         "an FSK rxpk carries no bitrate in \"datr\""},
        {3, R"({"txpk":{"modu":"FSK","freq":868.1,"data":""}})", "an FSK txpk carries no bitrate in \"datr\""},
        {0, R"({"rxpk":[{"freq":868.1,"data":""}]})", "a LoRa rxpk carries no \"datr\""},
        {0, R"({"rxpk":[{"data":""}]})", "a LoRa rxpk carries no \"datr\""},  // the datarate is read first
        {3, R"({"txpk":{"freq":868.1,"datr":125,"data":""}})", "a LoRa txpk carries no \"datr\""},
        {0, R"({"rxpk":[{"datr":"SF7BW62.5","freq":868.1,"data":""}]})", "SF7BW62.5 is not a datarate identifier"},
        {0, R"({"rxpk":[{"datr":"SF7 BW125","freq":868.1,"data":""}]})", "SF7 BW125 is not a datarate identifier"},
        {0, R"({"rxpk":[{"datr":"sf7bw125","freq":868.1,"data":""}]})", "sf7bw125 is not a datarate identifier"},
        {0, R"({"rxpk":[{"datr":"SF7BW","freq":868.1,"data":""}]})", "SF7BW is not a datarate identifier"},
        {0, R"({"rxpk":[{"datr":"SFBW125","freq":868.1,"data":""}]})", "SFBW125 is not a datarate identifier"},
        {0, R"({"rxpk":[{"datr":"SF+BW125","freq":868.1,"data":""}]})", "SF+BW125 is not a datarate identifier"},
        {0, R"({"rxpk":[{"datr":"SF256BW125","freq":868.1,"data":""}]})", "SF256BW125 is not a datarate identifier"},
        {0, R"({"rxpk":[{"datr":"SF7BW4294968","freq":868.1,"data":""}]})",
         "SF7BW4294968 is not a datarate identifier"},
        {0, R"({"rxpk":[{"datr":"SF7BW125","codr":"4/5 ","freq":868.1,"data":""}]})", "4/5  is not a coding rate"},
        {0, R"({"rxpk":[{"datr":"SF7BW125","codr":"4/5/6","freq":868.1,"data":""}]})", "4/5/6 is not a coding rate"},
        {0, R"({"rxpk":[{"datr":"SF7BW125","codr":"3/5","freq":868.1,"data":""}]})", "3/5 is not a coding rate"},
        {0, R"({"rxpk":[{"datr":"SF7BW125","codr":"4/","freq":868.1,"data":""}]})", "4/ is not a coding rate"},
        {0, R"({"rxpk":[{"datr":"SF7BW125","codr":"4/256","freq":868.1,"data":""}]})", "4/256 is not a coding rate"},
        {0, R"({"rxpk":[{"datr":"SF7BW125","codr":"off","freq":868.1,"data":""}]})", "off is not a coding rate"},
        {0, R"({"rxpk":[{"datr":"SF7BW125","freq":868.1}]})", "a rxpk carries no \"data\""},
        {3, R"({"txpk":{"datr":"SF7BW125","freq":868.1,"data":7}})", "a txpk carries no \"data\""},
        {0, R"({"rxpk":[{"datr":"SF7BW125","freq":868.1,"data":"Q"}]})",
         "the rxpk payload is not base64: 1 base64 characters leave a group of one, which encodes nothing"},
        {3, R"({"txpk":{"datr":"SF7BW125","freq":868.1,"data":"QQ=Q"}})",
         "the txpk payload is not base64: padding at byte 2 is before the end"},
        // Of two faulty entries, the first is reported.
        {0, R"({"rxpk":[{"datr":"SF7BW125","freq":-1,"data":""},{"freq":868.1,"data":""}]})",
         "-1 MHz is not a carrier"},
        // A txpk reads its frequency before its modulation; an rxpk the other way round.
        {3, R"({"txpk":{"data":"","modu":"X"}})", "a txpk carries no \"freq\""},
        {0, R"({"rxpk":[{"data":"","modu":"X"}]})", "X is not a modulation"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.body);
        CHECK(refusal(datagram(c.kind, c.body, c.kind != 3)) == c.message);
    }
}

TEST_CASE("the field readings of an rxpk") {
    const auto entry = [](std::string_view fields) {
        return rxpk_of(R"({"datr":"SF7BW125","freq":868.1,"data":"",)" + std::string(fields) + "}");
    };
    CHECK(rxpk_of(R"({"datr":"SF12BW125","freq":868.1,"data":""})").modulation == Modulation{LinkSettings(12, 125000)});
    CHECK(std::get<LinkSettings>(entry(R"("datr":"SF4BW125")").modulation).spreading_factor() == 5);
    CHECK(std::get<LinkSettings>(entry(R"("datr":"SF13BW125")").modulation).spreading_factor() == 12);
    CHECK(std::get<LinkSettings>(entry(R"("datr":"SF07BW+500")").modulation).bandwidth_hz() == 500000);
    const Rxpk zero_bandwidth = entry(R"("datr":"SF7BW0")");
    CHECK(std::get<LinkSettings>(zero_bandwidth.modulation).bandwidth_hz() == 1);
    CHECK(json::write(zero_bandwidth.to_value()).find(R"("datr":"SF7BW0")") != std::string::npos);
    CHECK(std::get<LinkSettings>(entry(R"("codr":"4/6")").modulation).coding_rate_denominator() == 6);
    CHECK(std::get<LinkSettings>(entry(R"("codr":"4/4")").modulation).coding_rate_denominator() == 5);
    CHECK(std::get<LinkSettings>(entry(R"("codr":"4/9")").modulation).coding_rate_denominator() == 8);
    CHECK(std::get<LinkSettings>(entry(R"("codr":45)").modulation).coding_rate_denominator() == 5);
    // A packet forwarder that could not tell the coding rate (a CRC error) writes "OFF".
    CHECK(std::get<LinkSettings>(entry(R"("codr":"OFF")").modulation).coding_rate_denominator() == 5);

    CHECK(entry(R"("freq":868.1)").frequency_hz == 868100000);
    CHECK(entry(R"("freq":4294.967295)").frequency_hz == 4294967295u);
    CHECK(entry(R"("freq":-0.0000001)").frequency_hz == 0);

    struct Crc {
        const char* stat;
        CrcStatus crc;
    };
    for (const Crc& c : {Crc{R"("stat":1)", CrcStatus::Ok}, Crc{R"("stat":-1)", CrcStatus::Failed},
                         Crc{R"("stat":0)", CrcStatus::Absent}, Crc{R"("stat":2)", CrcStatus::Absent},
                         Crc{R"("stat":0.6)", CrcStatus::Ok}, Crc{R"("stat":"1")", CrcStatus::Absent},
                         Crc{R"("x":0)", CrcStatus::Absent}}) {
        CAPTURE(c.stat);
        CHECK(entry(c.stat).crc == c.crc);
    }
    CHECK(entry(R"("rssi":-57.5)").rssi == Decibels(-5800));
    CHECK(entry(R"("rssi":"x")").rssi == Decibels(0));
    CHECK(entry(R"("rssi":4294967295)").rssi == Decibels(-100));  // low 32 bits, signed
    CHECK(entry(R"("rssi":2147483647)").rssi == Decibels(2147483647));
    CHECK(entry(R"("lsnr":-12.25)").snr == Decibels(-1225));
    CHECK(entry(R"("lsnr":1e300)").snr == Decibels(2147483647));
    CHECK_FALSE(entry(R"("lsnr":null)").snr);
    CHECK(entry(R"("chan":2.5)").channel == 3);
    CHECK(entry(R"("chan":300)").channel == 44);
    CHECK(entry(R"("tmst":4294967296)").timestamp_us == 0u);
    CHECK(entry(R"("tmst":-1)").timestamp_us == 4294967295u);
    CHECK(entry(R"("tmms":-1)").gps_millis == UINT64_MAX);
    CHECK(entry(R"("tmms":1e30)").gps_millis == 9223372036854775807u);
    CHECK_FALSE(entry(R"("time":5)").time);
    CHECK(entry(R"("data":"QQ")").payload == bytes_of("A"));
    // The later of two equal keys is the one read.
    CHECK(entry(R"("chan":1,"chan":7)").channel == 7);
}

TEST_CASE("numbers through the stat and packet fields follow the print rules") {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.0, "0.0"},      {868.0, "868.0"}, {9.5, "9.5"},        {-12.75, "-12.75"},
        {1e-5, "0.00001"}, {1e-6, "1e-6"},   {1.5e16, "1.5e+16"}, {9999999999999998.0, "9999999999999998.0"},
        {1e16, "1e+16"},   {46.24, "46.24"}, {-0.0, "-0.0"},      {1.7976931348623157e308, "1.7976931348623157e+308"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.value);
        Stat stat;
        stat.acknowledged_percent = c.value;
        stat.latitude_deg = c.value;
        stat.longitude_deg = c.value;
        const std::string text = json::write(stat.to_value());
        CHECK(text.find("\"ackr\":" + std::string(c.text) + ",") != std::string::npos);
        CHECK(text.find("\"lati\":" + std::string(c.text) + ",\"long\":" + c.text + ",") != std::string::npos);
    }
    // Frequencies are divided into megahertz, so the double nearest the
    // decimal megahertz is printed.
    struct Frequency {
        std::uint32_t hz;
        const char* text;
    };
    for (const Frequency& f :
         {Frequency{868100000, "868.1"}, Frequency{869525000, "869.525"}, Frequency{863009810, "863.00981"},
          Frequency{4294967295u, "4294.967295"}, Frequency{1, "1e-6"}, Frequency{10, "0.00001"}, Frequency{0, "0.0"},
          Frequency{915000000, "915.0"}}) {
        CAPTURE(f.hz);
        Rxpk rx;
        rx.frequency_hz = f.hz;
        const std::string text = json::write(rx.to_value());
        CHECK(text.find("\"freq\":" + std::string(f.text) + ",") != std::string::npos);
        CHECK(rxpk_of(text).frequency_hz == f.hz);
    }
    // Levels in hundredths: RSSI rounded to whole dBm, halves away from zero;
    // SNR as hundredths over 100.
    struct Level {
        std::int32_t hundredths;
        const char* rssi;
        const char* lsnr;
    };
    for (const Level& l :
         {Level{-5750, "-58", "-57.5"}, Level{-5749, "-57", "-57.49"}, Level{50, "1", "0.5"}, Level{49, "0", "0.49"},
          Level{-1225, "-12", "-12.25"}, Level{0, "0", "0.0"}, Level{INT32_MIN, "-21474836", "-21474836.48"}}) {
        CAPTURE(l.hundredths);
        Rxpk rx;
        rx.rssi = Decibels(l.hundredths);
        rx.snr = Decibels(l.hundredths);
        const std::string text = json::write(rx.to_value());
        CHECK(text.find("\"rssi\":" + std::string(l.rssi) + ",") != std::string::npos);
        CHECK(text.find("\"lsnr\":" + std::string(l.lsnr) + ",") != std::string::npos);
    }
}

TEST_CASE("the field readings of a txpk and what a write keeps") {
    const auto object = [](std::string_view fields) {
        return txpk_of(R"({"datr":"SF7BW125","freq":868.1,"data":"",)" + std::string(fields) + "}");
    };
    CHECK(object(R"("x":0)").power_dbm == 14);
    CHECK(object(R"("powe":-2)").power_dbm == -2);
    CHECK(object(R"("powe":200)").power_dbm == -56);
    CHECK_FALSE(object(R"("imme":1)").immediate);
    CHECK(object(R"("ncrc":true)").without_crc);
    CHECK(object(R"("prea":65544)").preamble_symbols == 8u);
    CHECK(object(R"("powe":-2)").to_json().find(R"("powe":-2,)") != std::string::npos);
    CHECK(object(R"("ncrc":false)").to_json().find("ncrc") == std::string::npos);
    const Txpk fsk = object(R"("modu":"FSK","datr":50000,"fdev":25000,"ipol":true)");
    CHECK(fsk.to_json() == R"({"txpk":{"data":"","datr":50000,"fdev":25000,"freq":868.1,"imme":false,)"
                           R"("modu":"FSK","powe":14,"rfch":0,"size":0}})");
    Txpk lora = object(R"("fdev":25000,"prea":12,"tmms":1234,"rfch":1)");
    CHECK(lora.to_json() == R"({"txpk":{"codr":"4/5","data":"","datr":"SF7BW125","freq":868.1,"imme":false,)"
                            R"("ipol":false,"modu":"LORA","powe":14,"prea":12,"rfch":1,"size":0,"tmms":1234}})");
}

TEST_CASE("TX_ACK bodies") {
    const auto status = [](std::string_view body) {
        const auto s = tx_status_from_json(bytes_of(body));
        REQUIRE_MESSAGE(s, s.error().message());
        return *s;
    };
    CHECK(status(R"({"txpk_ack":{}})") == TxStatus::None);
    CHECK(status(R"({"txpk_ack":{"error":5}})") == TxStatus::None);
    CHECK(status(R"({"txpk_ack":{"error":"TX_FREQ"}})") == TxStatus::TxFreq);
    for (std::uint8_t i = 0; i < 8; ++i) {
        const auto s = static_cast<TxStatus>(i);
        CHECK(tx_status_named(tx_status_name(s)) == s);
        CHECK(status(tx_status_to_json(s)) == s);
    }
    CHECK_FALSE(tx_status_named("none"));
}

TEST_CASE("a round trip through the wire keeps what the format carries") {
    Rxpk rx;
    rx.frequency_hz = 902300000;
    rx.modulation = LinkSettings(10, 500000).with_coding_rate(8);
    rx.payload = {1, 2, 3, 4, 5};
    rx.crc = CrcStatus::Failed;
    rx.rssi = Decibels(-11900);
    rx.snr = Decibels(-725);
    rx.channel = 63;
    rx.rf_chain = 1;
    rx.gps_millis = 1234567890123;
    rx.time = "2024-01-01T00:00:00.000001Z";
    Stat stat;
    stat.time = "2024-01-01 00:00:00 GMT";
    stat.altitude_m = -12;
    stat.received = 4294967295u;
    const Packet push{PushData{0xBEEF, gateway_eui, Uplink{{rx, rx}, stat}}};
    const auto back = Packet::parse(push.to_bytes());
    REQUIRE(back);
    const auto& data = std::get<PushData>(back->body);
    CHECK(data.token == 0xBEEF);
    CHECK(data.gateway == gateway_eui);
    REQUIRE(data.uplink.packets.size() == 2);
    const Rxpk& got = data.uplink.packets[1];
    CHECK(got.frequency_hz == rx.frequency_hz);
    CHECK(got.modulation == rx.modulation);
    CHECK(got.payload == rx.payload);
    CHECK(got.crc == rx.crc);
    CHECK(got.rssi == rx.rssi);
    CHECK(got.snr == rx.snr);
    CHECK(got.channel == rx.channel);
    CHECK(got.rf_chain == rx.rf_chain);
    CHECK(got.gps_millis == rx.gps_millis);
    CHECK_FALSE(got.timestamp_us);
    CHECK(got.time == rx.time);
    REQUIRE(data.uplink.status);
    CHECK(data.uplink.status->altitude_m == -12);
    CHECK(data.uplink.status->received == 4294967295u);
    CHECK_FALSE(data.uplink.status->latitude_deg);
    CHECK(back->to_bytes() == push.to_bytes());
}

TEST_CASE("JSON nested far beyond the reader's limit is refused with a text") {
    const std::string deep = "{\"rxpk\":" + std::string(200000, '[') + std::string(200000, ']') + "}";
    const std::string message = refusal(datagram(0, deep));
    CHECK(message.starts_with("the payload of a PUSH_DATA is not JSON: recursion limit exceeded at line 1 column "));
}
