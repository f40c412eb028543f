#include <doctest/doctest.h>

#include <cstdint>
#include <vector>

#include "trovik/hal/address.hpp"

using namespace trovik::hal;

TEST_CASE("address frames put the address and the R/W bit on the wire") {
    struct Case {
        std::uint16_t address;
        bool ten_bit;
        bool read;
        std::vector<std::uint8_t> frame;
    };
    const Case cases[] = {
        {0x50, false, true, {0xA1}},    {0x50, false, false, {0xA0}},       {0x00, false, false, {0x00}},
        {0x7F, false, true, {0xFF}},    {0x3FF, true, false, {0xF6, 0xFF}}, {0x3FF, true, true, {0xF7, 0xFF}},
        {0x000, true, true, {0xF1, 0}}, {0x17F, true, false, {0xF2, 0x7F}}, {0x250, true, false, {0xF4, 0x50}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.address);
        CAPTURE(c.ten_bit);
        auto frame = address::frame(c.address, c.ten_bit, c.read);
        REQUIRE(frame);
        CHECK(std::vector<std::uint8_t>(frame->view().begin(), frame->view().end()) == c.frame);
        CHECK(address::frame_len(c.address, c.ten_bit) == c.frame.size());
    }
}

TEST_CASE("reserved and general-call addresses") {
    CHECK(address::is_reserved(7, false) == true);
    CHECK(address::is_reserved(0x78, false) == true);
    CHECK(address::is_reserved(0x7F, false) == true);
    CHECK(address::is_reserved(8, false) == false);
    CHECK(address::is_reserved(0x77, false) == false);
    CHECK(address::is_reserved(0, true) == false);
    CHECK(address::is_reserved(0x3FF, true) == false);
    CHECK(address::is_general_call(0, false) == true);
    CHECK(address::is_general_call(0, true) == false);
    CHECK(address::is_general_call(1, false) == false);
}

TEST_CASE("an address beyond the range asked for is refused by every function") {
    for (auto [address, ten_bit] : {std::pair<std::uint16_t, bool>{0x80, false}, {0x400, true}, {0xFFFF, true}}) {
        CAPTURE(address);
        CHECK(!address::frame(address, ten_bit, false));
        CHECK(!address::frame_len(address, ten_bit));
        CHECK(!address::is_reserved(address, ten_bit));
        CHECK(!address::is_general_call(address, ten_bit));
    }
    CHECK(address::frame_len(0x80, true) == 2u);
    CHECK(address::OutOfRange{}.message() == "I2C address is out of range");
}
