#include <doctest/doctest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <utility>
#include <vector>

#include "trovik/lora/link_budget.hpp"

using namespace trovik::lora;

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::uint32_t kU32Max = std::numeric_limits<std::uint32_t>::max();

Decibels db(std::int32_t hundredths) { return Decibels(hundredths); }

// Checks an integer result against a real value rounded half up. Where the real
// value lies so close to a half that double precision cannot tell which side it
// is on, either neighbour is accepted.
void check_rounded_half_up(std::int64_t actual, double exact, double tolerance) {
    const double below = std::floor(exact);
    const double fraction = exact - below;
    CAPTURE(exact);
    if (std::fabs(fraction - 0.5) > tolerance) {
        CHECK(actual == static_cast<std::int64_t>(std::floor(exact + 0.5)));
    } else {
        CHECK(actual >= static_cast<std::int64_t>(below));
        CHECK(actual <= static_cast<std::int64_t>(below) + 1);
    }
}

// A reproducible spread of 32-bit values over every order of magnitude.
std::vector<std::uint32_t> spread_u32(std::size_t count, std::uint64_t seed) {
    std::vector<std::uint32_t> values;
    std::uint64_t state = seed;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const auto word = static_cast<std::uint32_t>(state >> 32);
        values.push_back(word >> (state >> 27 & 31));
    }
    return values;
}

}  // namespace

TEST_CASE("decibels from a float round halves away from zero and saturate") {
    struct Case {
        double db;
        std::int32_t hundredths;
    };
    const Case cases[] = {
        {14.0, 1400},
        {14.004, 1400},
        {14.005, 1401},  // 1400.5 after the product: away from zero
        {2.15, 215},
        {-0.5, -50},
        {0.125, 13},  // 12.5 exactly: away from zero
        {-0.125, -13},
        {-0.004, 0},
        {1e300, kMax},
        {-1e300, kMin},
        {21474836.47, kMax},
        {-21474836.48, kMin},
        {std::numeric_limits<double>::infinity(), kMax},
        {-std::numeric_limits<double>::infinity(), kMin},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto& c : cases) {
        CAPTURE(c.db);
        CHECK(Decibels::from_db(c.db).hundredths() == c.hundredths);
    }
    CHECK(Decibels::from_db(1e300).to_db() == 21474836.47);
    CHECK(db(-12303).to_db() == -123.03);
}

TEST_CASE("decibels floor to whole decibels toward minus infinity") {
    struct Case {
        std::int32_t hundredths;
        std::int32_t whole;
    };
    const Case cases[] = {{-12303, -124}, {-1, -1}, {-100, -1}, {-101, -2},       {0, 0},
                          {99, 0},        {100, 1}, {1599, 15}, {kMax, 21474836}, {kMin, -21474837}};
    for (const auto& c : cases) {
        CAPTURE(c.hundredths);
        CHECK(db(c.hundredths).floor_db() == c.whole);
    }
}

TEST_CASE("decibel sums and differences saturate instead of wrapping") {
    CHECK((db(kMax) + db(1)).hundredths() == kMax);
    CHECK((db(kMin) - db(1)).hundredths() == kMin);
    CHECK((db(kMin) + db(kMin)).hundredths() == kMin);
    CHECK((db(0) - db(kMin)).hundredths() == kMax);
    CHECK((db(kMax) - db(kMax)).hundredths() == 0);
    CHECK((db(1400) + db(215) - db(50)).hundredths() == 1565);
}

TEST_CASE("the fixed-point base-2 logarithm") {
    using trovik::lora::detail::log2_q40;
    // Powers of two have an all-zero fraction; 0 counts as 1.
    CHECK(log2_q40(0) == 0);
    for (int k = 0; k < 32; ++k) {
        CAPTURE(k);
        CHECK(log2_q40(std::uint32_t{1} << k) == std::uint64_t(k) << 40);
    }
    // Forty truncated fraction bits: never above the true value, and short
    // of it by only a few units of the last bit.
    for (std::uint32_t x : spread_u32(3000, 7)) {
        if (x == 0) continue;
        CAPTURE(x);
        const double ours = static_cast<double>(log2_q40(x)) / 0x1p40;
        CHECK(ours <= std::log2(static_cast<double>(x)) + 1e-12);
        CHECK(ours >= std::log2(static_cast<double>(x)) - 0x1p-37);
    }
}

TEST_CASE("the integer square root is exact over 128 bits") {
    using trovik::lora::detail::isqrt;
    using u128 = unsigned __int128;
    const u128 all_ones = ~u128{0};
    CHECK(isqrt(0) == 0);
    CHECK(isqrt(1) == 1);
    CHECK(isqrt(3) == 1);
    CHECK(isqrt(4) == 2);
    CHECK(isqrt(all_ones) == 0xFFFFFFFFFFFFFFFFull);
    const std::uint64_t roots[] = {
        2, 3, 1000, 0xFFFFFFFFull, 0x100000000ull, 0x123456789ABCDEFull, 0xFFFFFFFFFFFFFFFEull, 0xFFFFFFFFFFFFFFFFull};
    for (std::uint64_t r : roots) {
        CAPTURE(r);
        const u128 square = u128{r} * r;
        CHECK(isqrt(square) == r);
        CHECK(isqrt(square - 1) == r - 1);
        if (r != 0xFFFFFFFFFFFFFFFFull) CHECK(isqrt(square + 2 * u128{r}) == r);  // (r+1)^2 - 1
    }
}

TEST_CASE("noise floor: published values and edges") {
    struct Case {
        std::uint32_t bandwidth_hz;
        std::int32_t dbm;
    };
    const Case cases[] = {{0, -17400},      {1, -17400},      {62500, -12604}, {125000, -12303},
                          {250000, -12002}, {500000, -11701}, {kU32Max, -7767}};
    for (const auto& c : cases) {
        CAPTURE(c.bandwidth_hz);
        CHECK(noise_floor_dbm(c.bandwidth_hz).hundredths() == c.dbm);
    }
}

TEST_CASE("noise floor agrees with -174 dBm/Hz + 10 log10(bandwidth)") {
    std::vector<std::uint32_t> bandwidths = {2,      3,       7,      10,      100,        1000,       7800,
                                             10400,  15600,   20800,  31250,   41700,      203125,     406250,
                                             812500, 1625000, 999999, 1000000, 1000000000, kU32Max - 1};
    const auto spread = spread_u32(3000, 11);
    bandwidths.insert(bandwidths.end(), spread.begin(), spread.end());
    for (std::uint32_t bw : bandwidths) {
        CAPTURE(bw);
        const double exact = 100.0 * (10.0 * std::log10(static_cast<double>(bw == 0 ? 1 : bw)));
        check_rounded_half_up(std::int64_t{noise_floor_dbm(bw).hundredths()} + 17400, exact, 1e-7);
    }
}

TEST_CASE("demodulator SNR steps 2.5 dB per spreading factor and clamps") {
    for (int sf = 0; sf <= 255; ++sf) {
        CAPTURE(sf);
        const int clamped = sf < 5 ? 5 : sf > 12 ? 12 : sf;
        CHECK(demodulator_snr_db(static_cast<std::uint8_t>(sf)).hundredths() == -250 * (clamped - 4));
    }
}

TEST_CASE("free-space loss: published values and edges") {
    CHECK(free_space_loss_db(1000, 868000000).hundredths() == 9122);
    CHECK(free_space_loss_db(1, 1).hundredths() == -14755);
    CHECK(free_space_loss_db(0, 0).hundredths() == -14755);
    CHECK(free_space_loss_db(0, 868000000) == free_space_loss_db(1, 868000000));
    CHECK(free_space_loss_db(kU32Max, kU32Max).hundredths() == 23777);
}

TEST_CASE("free-space loss agrees with 20 log10(d) + 20 log10(f) + 20 log10(4 pi / c)") {
    const double constant = 20.0 * std::log10(4.0 * std::numbers::pi / 299792458.0);
    CHECK(std::fabs(constant - -147.55) < 0.005);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    const std::uint32_t distances[] = {1, 2, 10, 37, 100, 999, 1000, 12345, 1000000, kU32Max};
    const std::uint32_t frequencies[] = {1,         433175000, 868000000,   868100000, 902300000,
                                         915000000, 923200000, 2400000000u, kU32Max};
    for (auto d : distances)
        for (auto f : frequencies)
            pairs.emplace_back(d, f);
    const auto ds = spread_u32(2000, 3);
    const auto fs = spread_u32(2000, 5);
    for (std::size_t i = 0; i < ds.size(); ++i)
        pairs.emplace_back(ds[i] ? ds[i] : 1, fs[i] ? fs[i] : 1);
    for (auto [d, f] : pairs) {
        CAPTURE(d);
        CAPTURE(f);
        const double exact =
            100.0 * (20.0 * std::log10(static_cast<double>(d)) + 20.0 * std::log10(static_cast<double>(f)) + constant);
        check_rounded_half_up(free_space_loss_db(d, f).hundredths(), exact, 1e-6);
    }
}

TEST_CASE("Fresnel radius: published values and edges") {
    struct Case {
        std::uint32_t near_m, far_m, frequency_hz, radius_mm;
    };
    const Case cases[] = {
        {1000, 1000, 868000000, 13141},
        {500, 1500, 915000000, 11084},
        {1500, 500, 915000000, 11084},
        {0, 1000, 868000000, 0},
        {1000, 0, 868000000, 0},
        {0, 0, 868000000, 0},
        {1000, 1000, 0, 0},
        {kU32Max, kU32Max, 1, kU32Max},
        {kU32Max, kU32Max, kU32Max, 12243212},
    };
    for (const auto& c : cases) {
        CAPTURE(c.near_m);
        CAPTURE(c.far_m);
        CAPTURE(c.frequency_hz);
        CHECK(fresnel_radius_mm(c.near_m, c.far_m, c.frequency_hz) == c.radius_mm);
    }
}

TEST_CASE("Fresnel radius agrees with sqrt(lambda d1 d2 / (d1 + d2)), rounded half up") {
    std::vector<std::uint32_t> distances = {1, 2, 10, 100, 500, 1000, 1500, 10000, 123456, kU32Max};
    std::vector<std::uint32_t> frequencies = {1, 433175000, 868000000, 915000000, 2400000000u, kU32Max};
    std::vector<std::array<std::uint32_t, 3>> triples;
    for (auto n : distances)
        for (auto f : distances)
            for (auto hz : frequencies)
                triples.push_back({n, f, hz});
    const auto a = spread_u32(2000, 13), b = spread_u32(2000, 17), c = spread_u32(2000, 19);
    for (std::size_t i = 0; i < a.size(); ++i)
        triples.push_back({a[i], b[i], c[i] ? c[i] : 1});
    for (auto [near_m, far_m, hz] : triples) {
        if (near_m == 0 && far_m == 0) continue;
        CAPTURE(near_m);
        CAPTURE(far_m);
        CAPTURE(hz);
        const double n = near_m, f = far_m;
        const double wavelength_m = 299792458.0 / hz;
        const double radius_mm = 1000.0 * std::sqrt(wavelength_m * n * f / (n + f));
        const auto ours = fresnel_radius_mm(near_m, far_m, hz);
        if (radius_mm + 0.5 >= 4294967295.0) {
            CHECK(ours == kU32Max);
        } else {
            check_rounded_half_up(ours, radius_mm, 1e-9 * radius_mm + 1e-9);
        }
    }
}

TEST_CASE("link budget: sensitivity, maximum path loss and margin") {
    LinkBudget budget;
    budget.transmit_power_dbm = db(1400);
    CHECK(budget.noise_figure_db.hundredths() == 600);
    CHECK(budget.sensitivity_dbm(7, 125000).hundredths() == -12453);
    CHECK(budget.sensitivity_dbm(12, 125000).hundredths() == -13703);
    CHECK(budget.max_path_loss_db(12, 125000).hundredths() == 15103);
    CHECK(budget.margin_db(12, 125000, db(14000)).hundredths() == 1103);
    CHECK(budget.margin_db(12, 125000, db(16000)).hundredths() == -897);
    // Out-of-range settings behave as the nearest valid ones.
    CHECK(budget.sensitivity_dbm(0, 0) == budget.sensitivity_dbm(5, 1));
    CHECK(budget.sensitivity_dbm(200, 125000) == budget.sensitivity_dbm(12, 125000));

    LinkBudget antennas;
    antennas.transmit_power_dbm = db(1400);
    antennas.transmit_antenna_gain_dbi = db(215);
    antennas.transmit_cable_loss_db = db(50);
    antennas.receive_antenna_gain_dbi = db(300);
    antennas.receive_cable_loss_db = db(120);
    CHECK(antennas.eirp_dbm().hundredths() == 1565);
    CHECK(antennas.max_transmit_power_dbm(db(1600)).hundredths() == 1435);
    CHECK(antennas.received_dbm(db(10000)).hundredths() == 1565 - 10000 + 300 - 120);
    CHECK(antennas.max_path_loss_db(12, 125000).hundredths() == 1565 + 300 - 120 + 13703);
    // The margin is the distance between the path loss and the most the link survives.
    const Decibels most = antennas.max_path_loss_db(9, 250000);
    CHECK(antennas.margin_db(9, 250000, most).hundredths() == 0);
    CHECK(antennas.margin_db(9, 250000, most - db(1234)).hundredths() == 1234);
}

TEST_CASE("link budget sums saturate step by step, left to right") {
    LinkBudget budget;
    budget.transmit_power_dbm = Decibels::from_db(1e300);
    CHECK(budget.transmit_power_dbm.to_db() == 21474836.47);
    budget.transmit_antenna_gain_dbi = db(500);
    budget.transmit_cable_loss_db = db(100);
    // 1e300 + 5 saturates first, then the cable loss comes off the ceiling.
    CHECK(budget.eirp_dbm().hundredths() == kMax - 100);
    budget.receive_antenna_gain_dbi = db(300);
    budget.receive_cable_loss_db = db(200);
    CHECK(budget.received_dbm(db(kMin)).hundredths() == kMax - 200);
    CHECK(budget.max_path_loss_db(12, 125000).hundredths() == kMax);
    CHECK(budget.margin_db(12, 125000, db(0)).hundredths() == kMax);

    LinkBudget quiet;
    quiet.transmit_power_dbm = db(kMin);
    quiet.transmit_antenna_gain_dbi = db(-100);
    quiet.transmit_cable_loss_db = db(-100);
    CHECK(quiet.eirp_dbm().hundredths() == kMin + 100);
    // The received power pins at the floor; taking off the (negative)
    // sensitivity then lifts it back.
    CHECK(quiet.received_dbm(db(kMax)).hundredths() == kMin);
    CHECK(quiet.margin_db(12, 125000, db(kMax)).hundredths() == kMin + 13703);
    CHECK(quiet.max_transmit_power_dbm(db(kMax)).hundredths() == kMax - 100);

    LinkBudget noisy;
    noisy.noise_figure_db = db(kMin);
    CHECK(noisy.sensitivity_dbm(12, 125000).hundredths() == kMin);
}

TEST_CASE("FCC conducted-power limit for 902-928 MHz transmitters") {
    struct Case {
        double gain_dbi;
        std::optional<std::uint16_t> channels;
        std::optional<std::int32_t> dbm;
    };
    const Case cases[] = {
        {6.0, std::nullopt, 3000},
        {0.0, std::nullopt, 3000},
        {-10.0, std::nullopt, 3000},
        {8.5, std::nullopt, 2750},
        {6.01, std::nullopt, 2999},
        {3.0, 25, 2398},
        {8.0, 49, 2198},
        {3.0, 24, std::nullopt},
        {10.0, 0, std::nullopt},
        {3.0, 50, 3000},
        {9.0, 65535, 2700},
        {-1e300, std::nullopt, 3000},
        {1e300, std::nullopt, 3000 - (kMax - 600)},
    };
    for (const auto& c : cases) {
        CAPTURE(c.gain_dbi);
        CAPTURE(c.channels.value_or(0));
        const auto limit = fcc_max_conducted_dbm(Decibels::from_db(c.gain_dbi), c.channels);
        REQUIRE(limit.has_value() == c.dbm.has_value());
        if (limit) CHECK(limit->hundredths() == *c.dbm);
    }
}
