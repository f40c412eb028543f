#include <doctest/doctest.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "trovik/lora/link.hpp"

using trovik::lora::LinkSettings;

namespace {

constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();

__extension__ typedef __int128 i128;

// An exact fraction, kept in lowest terms with a positive denominator.
struct Rational {
    i128 num;
    i128 den;

    Rational(i128 n, i128 d = 1) : num(n), den(d) {
        if (den < 0) num = -num, den = -den;
        i128 a = num < 0 ? -num : num, b = den;
        while (b != 0) {
            i128 t = a % b;
            a = b;
            b = t;
        }
        if (a > 1) num /= a, den /= a;
    }
    friend Rational operator+(Rational a, Rational b) { return {a.num * b.den + b.num * a.den, a.den * b.den}; }
    friend Rational operator*(Rational a, Rational b) { return {a.num * b.num, a.den * b.den}; }
    friend bool operator>(Rational a, Rational b) { return a.num * b.den > b.num * a.den; }
    i128 floor() const { return num >= 0 ? num / den : -((-num + den - 1) / den); }
    i128 ceil() const { return -Rational(-num, den).floor(); }
};

// Time on air as the LoRa modem's datasheet writes it, evaluated exactly:
//   Tsym = 2^SF / BW, DE = 1 when Tsym > 16 ms,
//   Tpreamble = (Npreamble + 4.25) Tsym,
//   Npayload = 8 + max(ceil((8PL - 4SF + 28 + 16CRC - 20IH) / (4(SF - 2DE))) (CR + 4), 0)
// with CR the coding-rate code 1..4 (4/5..4/8), then floored to microseconds.
std::uint64_t datasheet_airtime_us(int sf, int bandwidth_hz, int cr_code, int preamble, bool explicit_header, bool crc,
                                   int payload_len) {
    const Rational symbol(i128{1} << sf, bandwidth_hz);
    const int de = symbol > Rational(16, 1000) ? 1 : 0;
    const int ih = explicit_header ? 0 : 1;
    const Rational blocks(8 * payload_len - 4 * sf + 28 + 16 * (crc ? 1 : 0) - 20 * ih, 4 * (sf - 2 * de));
    const i128 payload_symbols = 8 + std::max<i128>(blocks.ceil() * (cr_code + 4), 0);
    const Rational seconds = (Rational(preamble) + Rational(17, 4) + Rational(payload_symbols)) * symbol;
    return static_cast<std::uint64_t>((seconds * Rational(1000000)).floor());
}

}  // namespace

TEST_CASE("construction clamps spreading factor, bandwidth and coding rate, and nothing else") {
    const LinkSettings low(0, 0);
    CHECK(low.spreading_factor() == 5);
    CHECK(low.bandwidth_hz() == 1);
    CHECK(low.coding_rate_denominator() == 5);
    CHECK(low.preamble_symbols == 8);
    CHECK(low.explicit_header);
    CHECK(low.crc);
    CHECK(LinkSettings(13, 125000).spreading_factor() == 12);
    CHECK(LinkSettings(255, 7).bandwidth_hz() == 7);

    LinkSettings link(7, 125000);
    link.preamble_symbols = 12;
    link.crc = false;
    CHECK(link.with_coding_rate(0).coding_rate_denominator() == 5);
    CHECK(link.with_coding_rate(7).coding_rate_denominator() == 7);
    CHECK(link.with_coding_rate(9).coding_rate_denominator() == 8);
    const LinkSettings slow = link.with_coding_rate(255);
    CHECK(slow.coding_rate_denominator() == 8);
    CHECK(slow.preamble_symbols == 12);
    CHECK_FALSE(slow.crc);
    CHECK(slow.spreading_factor() == 7);
    CHECK(slow.bandwidth_hz() == 125000);
}

TEST_CASE("time on air matches the datasheet formula over every standard link and payload") {
    for (int sf = 7; sf <= 12; ++sf) {
        for (int bandwidth : {125000, 250000, 500000}) {
            for (int cr = 5; cr <= 8; ++cr) {
                for (bool explicit_header : {true, false}) {
                    for (bool crc : {true, false}) {
                        LinkSettings link = LinkSettings(static_cast<std::uint8_t>(sf), bandwidth)
                                                .with_coding_rate(static_cast<std::uint8_t>(cr));
                        link.explicit_header = explicit_header;
                        link.crc = crc;
                        for (int payload = 0; payload <= 255; ++payload) {
                            const std::uint64_t want =
                                datasheet_airtime_us(sf, bandwidth, cr - 4, 8, explicit_header, crc, payload);
                            const std::uint64_t got = link.airtime_us(static_cast<std::uint64_t>(payload));
                            if (got != want) {
                                CAPTURE(sf);
                                CAPTURE(bandwidth);
                                CAPTURE(cr);
                                CAPTURE(explicit_header);
                                CAPTURE(crc);
                                CAPTURE(payload);
                                CHECK(got == want);
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST_CASE("reference links: time on air, off time and messages per hour") {
    struct Case {
        std::uint8_t sf;
        std::uint32_t bandwidth;
        std::uint64_t payload;
        std::uint64_t airtime;
        std::uint64_t off_at_1_percent;
        std::uint64_t per_hour_at_1_percent;
        std::uint64_t per_hour_unrestricted;
    };
    const Case cases[] = {
        {7, 125000, 13, 46336, 4587264, 776, 77693},    {7, 125000, 0, 25856, 2559744, 1392, 139232},
        {12, 125000, 13, 1155072, 114352128, 31, 3116}, {12, 125000, 0, 663552, 65691648, 54, 5425},
        {11, 125000, 13, 577536, 57176064, 62, 6233},   {12, 500000, 13, 288768, 28588032, 124, 12466},
        {9, 125000, 51, 328704, 32541696, 109, 10952},  {8, 500000, 33, 33408, 3307392, 1077, 107758},
        {5, 500000, 0, 1936, 191664, 18595, 1859504},
    };
    for (const Case& c : cases) {
        CAPTURE(c.sf);
        CAPTURE(c.bandwidth);
        CAPTURE(c.payload);
        const LinkSettings link(c.sf, c.bandwidth);
        CHECK(link.airtime_us(c.payload) == c.airtime);
        CHECK(link.min_off_time_us(c.payload, 10) == c.off_at_1_percent);
        CHECK(c.off_at_1_percent == 99 * c.airtime);
        CHECK(link.messages_per_hour(c.payload, 10) == c.per_hour_at_1_percent);
        CHECK(link.messages_per_hour(c.payload, 1000) == c.per_hour_unrestricted);
    }

    LinkSettings implicit(7, 125000);
    implicit.explicit_header = false;
    CHECK(implicit.airtime_us(13) == 41216);
    CHECK(LinkSettings(7, 125000).with_coding_rate(8).airtime_us(13) == 61696);
}

TEST_CASE("an empty payload still takes eight payload symbols") {
    // n = -4 with CRC and explicit header, -40 without either: both floor at 8 symbols.
    const LinkSettings sf12(12, 125000);
    CHECK(sf12.airtime_us(0) == 663552);
    LinkSettings bare = sf12;
    bare.explicit_header = false;
    bare.crc = false;
    CHECK(bare.airtime_us(0) == 663552);
}

TEST_CASE("low data-rate optimisation turns on above 16 ms symbols") {
    struct Case {
        std::uint8_t sf;
        std::uint32_t bandwidth;
        std::uint64_t symbol_us;
        bool on;
    };
    const Case cases[] = {
        {11, 125000, 16384, true}, {12, 250000, 16384, true},
        {12, 500000, 8192, false}, {11, 128000, 16000, false},  // exactly 16 ms stays off
        {10, 62500, 16384, true},  {10, 125000, 8192, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.sf);
        CAPTURE(c.bandwidth);
        const LinkSettings link(c.sf, c.bandwidth);
        CHECK(link.symbol_time_us() == c.symbol_us);
        CHECK(link.low_data_rate_optimization() == c.on);
    }
}

TEST_CASE("a zero preamble is kept and saves eight symbols") {
    LinkSettings link(7, 125000);
    const std::uint64_t standard = link.airtime_us(13);
    link.preamble_symbols = 0;
    CHECK(link.preamble_symbols == 0);
    CHECK(standard - link.airtime_us(13) == 8 * 1024);
}

TEST_CASE("duty-cycle limits at and beyond their ends") {
    const LinkSettings link(7, 125000);
    CHECK(link.min_off_time_us(13, 0) == u64_max);
    CHECK(link.min_off_time_us(13, 1000) == 0);
    CHECK(link.min_off_time_us(13, 5000) == 0);
    CHECK(link.min_off_time_us(13, 10) == 99 * link.airtime_us(13));
    CHECK(link.min_off_time_us(13, 500) == link.airtime_us(13));
    CHECK(link.messages_per_hour(13, 0) == 0);
    CHECK(link.messages_per_hour(13, 5000) == link.messages_per_hour(13, 1000));
}

TEST_CASE("results too large for 64 bits saturate instead of wrapping") {
    // The longest frame on the slowest link.
    CHECK(LinkSettings(12, 0).airtime_us(u64_max) == u64_max);
    CHECK(LinkSettings(12, 0).min_off_time_us(u64_max, 10) == u64_max);

    // An airtime that fits but whose owed silence does not: the silence
    // saturates and the hour holds no such frame, rather than a wrapped cost
    // letting some through.
    const LinkSettings link(7, 500000);
    const std::uint64_t payload = 1000000000000000;
    const std::uint64_t airtime = link.airtime_us(payload);
    CHECK(airtime < u64_max / 2);
    CHECK(airtime > u64_max / 999);
    CHECK(link.min_off_time_us(payload, 1) == u64_max);
    CHECK(link.messages_per_hour(payload, 1) == 0);
    CHECK(link.messages_per_hour(payload, 1000) == 0);

    // A link so fast the frame rounds down to no time at all still counts
    // each frame as one microsecond.
    const LinkSettings fastest(5, 4294967295u);
    CHECK(fastest.airtime_us(0) == 0);
    CHECK(fastest.messages_per_hour(0, 1) == 3600000000);
    CHECK(fastest.messages_per_hour(0, 1000) == 3600000000);
}
