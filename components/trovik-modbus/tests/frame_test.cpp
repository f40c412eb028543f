#include <doctest/doctest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/modbus/adu.hpp"
#include "trovik/modbus/crc.hpp"
#include "trovik/modbus/pdu.hpp"
#include "trovik/modbus/request.hpp"
#include "trovik/modbus/response.hpp"

namespace {

using namespace trovik::modbus;
using Bytes = std::vector<std::uint8_t>;

Bytes hex(std::string_view text) { return *trovik::core::text::bytes_from_hex(text); }
Bytes bytes_of(const Adu& adu) { return {adu.as_bytes().begin(), adu.as_bytes().end()}; }
// `body` framed with its CRC, low byte first.
Bytes with_crc(Bytes body) {
    const std::uint16_t crc = crc16(body);
    body.push_back(static_cast<std::uint8_t>(crc));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    return body;
}

}  // namespace

TEST_CASE("the CRC is CRC-16/MODBUS") {
    CHECK(crc16({}) == 0xFFFF);
    const std::string digits = "123456789";
    CHECK(crc16({reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()}) == 0x4B37);
}

TEST_CASE("request builders frame the published examples") {
    const std::vector<bool> ten{true, false, true, true, false, false, true, true, true, false};
    const std::uint16_t two[] = {10, 258};
    const std::uint16_t reply[] = {0x1234, 0xABCD};
    struct Case {
        const char* name;
        Adu adu;
        const char* want;
    };
    const Case cases[] = {
        {"read holding", Pdu::read_holding_registers(0, 10).to_adu(1), "01 03 00 00 00 0A C5 CD"},
        {"coil on", Pdu::write_single_coil(172, true).to_adu(17), "11 05 00 AC FF 00 4E 8B"},
        {"multiple coils", Pdu::write_multiple_coils(19, ten)->to_adu(1), "01 0F 00 13 00 0A 02 CD 01 72 CB"},
        {"multiple registers", Pdu::write_multiple_registers(1, two)->to_adu(1),
         "01 10 00 01 00 02 04 00 0A 01 02 92 30"},
        {"holding reply", Pdu::read_holding_registers_reply(reply)->to_adu(1), "01 03 04 12 34 AB CD 00 20"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        CHECK(bytes_of(c.adu) == hex(c.want));
    }
    CHECK(bytes_of(Pdu::write_single_coil(172, false).to_adu(17)) == with_crc(hex("11 05 00 AC 00 00")));
}

TEST_CASE("value counts bound the builders") {
    using K = ModbusError::Kind;
    CHECK(Pdu::write_multiple_coils(0, std::vector<bool>(1968))->to_adu(1).as_bytes().size() == 255);
    CHECK(Pdu::write_multiple_coils(0, std::vector<bool>(1969)).error().kind == K::ValueCount);
    CHECK(Pdu::write_multiple_coils(0, {}).error().kind == K::ValueCount);
    const std::vector<std::uint16_t> w123(123), w124(124), w125(125), w126(126);
    CHECK(Pdu::write_multiple_registers(0, w123)->to_adu(1).as_bytes().size() == 255);
    CHECK(Pdu::write_multiple_registers(0, w124).error().kind == K::ValueCount);
    CHECK(Pdu::read_input_registers_reply(w125)->to_adu(1).as_bytes().size() == 255);
    CHECK(Pdu::read_input_registers_reply(w126).error().kind == K::ValueCount);
    CHECK(Pdu::raw(0x41, Bytes(252))->to_adu(1).as_bytes().size() == 256);
    CHECK(Pdu::raw(0x41, Bytes(253)).error().kind == K::LongFrame);
    CHECK(Pdu::raw(0xC1, {})->to_adu(1).as_bytes().size() == 4);
}

TEST_CASE("parsing a frame checks its length and CRC, in that order") {
    using K = ModbusError::Kind;
    CHECK(Adu::parse(Bytes(3)).error().kind == K::ShortFrame);
    CHECK(Adu::parse(Bytes(257)).error().kind == K::LongFrame);
    const auto bad = Adu::parse(hex("01 03 00 00 00 0A C5 CE"));
    CHECK(bad.error() == ModbusError::crc_mismatch(0xCDC5, 0xCEC5));
    CHECK(bad.error().message() == "modbus CRC mismatch: expected 0xcdc5, found 0xcec5");
    CHECK(Adu::parse(with_crc({0xF8, 0x03, 0x00}))->unit() == 0xF8);
}

TEST_CASE("an exception reply names a known code") {
    const auto two = Adu::parse(hex("01 83 02 C0 F1"));
    REQUIRE(two);
    CHECK(two->exception() == Exception::IllegalDataAddress);
    CHECK(Bytes(two->pdu().begin(), two->pdu().end()) == hex("83 02"));
    for (std::uint8_t code : {0x00, 0x07, 0x09, 0x0C})
        CHECK_FALSE(Adu::parse(with_crc({0x01, 0x83, code}))->exception());
    CHECK_FALSE(Adu::parse(with_crc({0x01, 0x83}))->exception());
    CHECK_FALSE(Adu::parse(with_crc({0x01, 0x03, 0x02}))->exception());
    CHECK(exception_text(Exception::GatewayTargetFailed) == "gateway target device failed to respond");
    CHECK(exception_code(Exception::MemoryParityError) == 0x08);
}

TEST_CASE("requests are checked field by field") {
    struct Case {
        const char* pdu;
        std::optional<Exception> refused;
    };
    const Case cases[] = {
        {"", Exception::IllegalFunction},
        {"07 00 00 00 01", Exception::IllegalFunction},
        {"01 00 00 00", Exception::IllegalDataValue},
        {"05 00 01 12 34", Exception::IllegalDataValue},
        {"05 00 01 FF 00", std::nullopt},
        {"0F 00 00 00 0A 02 CD 01", std::nullopt},
        {"0F 00 00 00 0A 03 CD 01", Exception::IllegalDataValue},
        {"0F 00 00 00 0A 02 CD 01 00", Exception::IllegalDataValue},
        {"0F 00 00 00 0A", Exception::IllegalDataValue},
        {"10 00 00 00 01 02 12 34", std::nullopt},
        {"10 00 00 00 01 01 12 34", Exception::IllegalDataValue},
        {"01 00 00 07 D0", std::nullopt},
        {"01 00 00 07 D1", Exception::IllegalDataValue},
        {"01 00 00 00 00", Exception::IllegalDataValue},
        {"03 00 00 00 7D", std::nullopt},
        {"03 00 00 00 7E", Exception::IllegalDataValue},
        {"03 00 00 00 01 00", Exception::IllegalDataValue},
        {"06 FF FF AB CD", std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.pdu);
        const Bytes pdu = hex(c.pdu);
        const auto r = Request::parse(pdu);
        if (c.refused)
            CHECK(r.error() == *c.refused);
        else
            CHECK(r.has_value());
    }
    const Bytes coil = hex("05 00 01 FF 00");
    CHECK(Request::parse(coil)->on);
    const Bytes coils = hex("0F 00 13 00 0A 02 CD 01");
    const auto r = Request::parse(coils);
    CHECK(r->start == 19);
    CHECK(r->coils().to_vector() == std::vector<bool>{true, false, true, true, false, false, true, true, true, false});
}

TEST_CASE("replies are read by their byte count") {
    const Bytes pdu = hex("01 02 CD 01");
    CHECK(response::coils(pdu, 10)->to_vector() ==
          std::vector<bool>{true, false, true, true, false, false, true, true, true, false});
    CHECK(response::coils(pdu, 9)->size() == 9);
    CHECK(response::coils(pdu, 16)->size() == 16);
    CHECK_FALSE(response::coils(pdu, 17));
    CHECK_FALSE(response::coils(hex("01 02 FF FF"), 2040 + 8 * 256));
    CHECK(response::registers(pdu)->to_vector() == std::vector<std::uint16_t>{0xCD01});
    CHECK_FALSE(response::registers(hex("03 03 00 01 02")));
    CHECK_FALSE(response::registers(hex("03 04 00 01")));
    CHECK_FALSE(response::registers(hex("83")));
}
