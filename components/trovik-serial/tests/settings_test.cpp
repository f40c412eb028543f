#include <doctest/doctest.h>

#include <cstdint>
#include <string>

#include "trovik/serial/settings.hpp"

using trovik::serial::Parity;
using trovik::serial::Settings;

TEST_CASE("character timing") {
    const struct {
        std::uint32_t baud;
        Parity parity;
        bool two_stop_bits;
        std::uint64_t bits, nanos, eight_bytes_micros;
    } cases[] = {
        {9600, Parity::None, false, 10, 1'041'667, 8334}, {19200, Parity::Even, false, 11, 572'917, 4584},
        {115200, Parity::None, false, 10, 86'806, 695},   {9600, Parity::Odd, true, 12, 1'250'000, 10000},
        {9600, Parity::None, true, 11, 1'145'834, 9167},  {1, Parity::Even, true, 12, 12'000'000'000, 96'000'000},
    };
    for (const auto& c : cases) {
        const Settings s{c.baud, c.parity, c.two_stop_bits};
        CAPTURE(c.baud);
        CHECK(s.bits_per_character() == c.bits);
        CHECK(s.character_nanos() == c.nanos);
        CHECK(s.transfer_micros(8) == c.eight_bytes_micros);
        CHECK(s.transfer_micros(0) == 0);
    }
    CHECK(Settings{9600, Parity::None, false}.transfer_micros(1) == 1042);
    // Past 2^64 - 1 microseconds the time saturates.
    CHECK(Settings{1, Parity::Even, true}.transfer_micros(UINT64_MAX) == UINT64_MAX);
}

TEST_CASE("settings are checked speed first, then parity, then stop bits") {
    const struct {
        std::uint32_t baud;
        const char* parity;
        std::uint8_t stop_bits;
        const char* message;
    } cases[] = {
        {0, "None", 1, "the speed must be above zero"},
        {0, "Mark", 3, "the speed must be above zero"},
        {9600, "Mark", 3, "parity \"Mark\" is not None, Even, or Odd"},
        {9600, "none", 1, "parity \"none\" is not None, Even, or Odd"},
        {9600, "a\"b\\\n", 1, "parity \"a\\\"b\\\\\\n\" is not None, Even, or Odd"},
        {9600, "Odd", 3, "3 stop bits is not 1 or 2"},
        {9600, "Odd", 0, "0 stop bits is not 1 or 2"},
    };
    for (const auto& c : cases) {
        const auto s = Settings::make(c.baud, c.parity, c.stop_bits);
        REQUIRE_FALSE(s.has_value());
        CHECK(s.error().message() == c.message);
    }
    CHECK(Settings::make(9600, "Even", 2) == Settings{9600, Parity::Even, true});
    CHECK(Settings::make(300, "None", 1) == Settings{300, Parity::None, false});
}
