#include "trovik/lora/link_budget.hpp"

#include <array>
#include <bit>
#include <cmath>

namespace trovik::lora {

namespace {

using u128 = unsigned __int128;
using i128 = __int128;

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

// log10 2 with 64 fraction bits (0.30102999566398...).
constexpr std::uint64_t kLog10Of2Q64 = 0x4D104D427DE7FBCCull;

// -174 dBm/Hz: thermal noise at room temperature.
constexpr Decibels kThermalNoiseDensity{-17400};

// 100 x 20 log10(4 pi / 299792458 m/s) + 1/2 = -14754.72167781166, held as
// the integer -14755 plus a 64-bit fraction; adding the half here turns the
// final floor into rounding half up.
constexpr std::int64_t kFreeSpaceWhole = -14755;
constexpr std::uint64_t kFreeSpaceFraction = 0x47401F78A9030EB0ull;

// 4 x 10^6 mm^2/m^2 x 299792458 m/s: with it the quotient is four times the
// squared radius in mm^2, so that one square root and a halving round the
// radius half up without any fraction.
constexpr std::uint64_t kFresnelScale = 1199169832000000ull;

// Required demodulator SNR for SF5 to SF12, hundredths of a dB.
constexpr std::array<std::int32_t, 8> kDemodulatorSnr{-250, -500, -750, -1000, -1250, -1500, -1750, -2000};

constexpr Decibels kFccGainAllowance{600};  // 6 dBi come free
constexpr Decibels kFccOneWatt{3000};       // 30 dBm
constexpr Decibels kFccQuarterWatt{2398};   // 23.98 dBm

}  // namespace

Decibels Decibels::from_db(double db) noexcept {
    double rounded = std::round(db * 100.0);  // std::round takes halves away from zero
    if (std::isnan(rounded)) return Decibels(0);
    if (rounded >= 2147483647.0) return Decibels(kInt32Max);
    if (rounded <= -2147483648.0) return Decibels(std::numeric_limits<std::int32_t>::min());
    return Decibels(static_cast<std::int32_t>(rounded));
}

namespace detail {

std::uint64_t log2_q40(std::uint32_t x) noexcept {
    if (x == 0) x = 1;
    const int k = std::bit_width(x) - 1;
    // The mantissa in [1, 2) with 63 fraction bits. Squaring it doubles its
    // logarithm: a square of 2 or more yields a 1 bit and is halved back.
    std::uint64_t m = std::uint64_t{x} << (63 - k);
    std::uint64_t fraction = 0;
    for (int i = 0; i < 40; ++i) {
        const u128 p = u128{m} * m;
        const bool bit = (p >> 127) != 0;
        m = static_cast<std::uint64_t>(bit ? p >> 64 : p >> 63);
        fraction = (fraction << 1) | (bit ? 1u : 0u);
    }
    return (std::uint64_t(k) << 40) + fraction;
}

unsigned __int128 log10_q64(std::uint32_t x) noexcept { return (u128{log2_q40(x)} * kLog10Of2Q64) >> 40; }

std::uint64_t isqrt(unsigned __int128 x) noexcept {
    // Digit by digit, two bits of x per bit of the root: exact, no division.
    u128 remainder = x;
    u128 root = 0;
    u128 bit = u128{1} << 126;
    while (bit > x)
        bit >>= 2;
    while (bit != 0) {
        if (remainder >= root + bit) {
            remainder -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
        bit >>= 2;
    }
    return static_cast<std::uint64_t>(root);
}

}  // namespace detail

Decibels noise_floor_dbm(std::uint32_t bandwidth_hz) noexcept {
    const u128 scaled = u128{1000} * detail::log10_q64(bandwidth_hz) + (u128{1} << 63);
    const u128 whole = scaled >> 64;
    const auto v = whole > u128(kInt32Max) ? kInt32Max : static_cast<std::int32_t>(whole);
    return Decibels(v) + kThermalNoiseDensity;
}

Decibels demodulator_snr_db(std::uint8_t spreading_factor) noexcept {
    const std::uint8_t sf = spreading_factor < 5 ? 5 : spreading_factor > 12 ? 12 : spreading_factor;
    return Decibels(kDemodulatorSnr[sf - 5]);
}

Decibels free_space_loss_db(std::uint32_t distance_m, std::uint32_t frequency_hz) noexcept {
    const u128 logs = detail::log10_q64(distance_m) + detail::log10_q64(frequency_hz);
    const i128 sum = static_cast<i128>(logs * 2000) + (i128{kFreeSpaceWhole} << 64) + i128{kFreeSpaceFraction};
    const i128 whole = sum >> 64;  // arithmetic shift: toward minus infinity
    return Decibels(whole > kInt32Max ? kInt32Max : static_cast<std::int32_t>(whole));
}

std::uint32_t fresnel_radius_mm(std::uint32_t near_m, std::uint32_t far_m, std::uint32_t frequency_hz) noexcept {
    if (frequency_hz == 0 || (near_m == 0 && far_m == 0)) return 0;
    const std::uint64_t product = std::uint64_t{near_m} * far_m;
    const u128 numerator = u128{product} * kFresnelScale;
    const u128 denominator = (u128{near_m} + far_m) * frequency_hz;
    const std::uint64_t s = detail::isqrt(numerator / denominator);
    const std::uint64_t radius = s / 2 + (s & 1);  // (s + 1) / 2 without overflow
    return radius > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                              : static_cast<std::uint32_t>(radius);
}

std::optional<Decibels> fcc_max_conducted_dbm(Decibels antenna_gain_dbi,
                                              std::optional<std::uint16_t> hopping_channels) noexcept {
    Decibels base = kFccOneWatt;
    if (hopping_channels && *hopping_channels < 50) {
        if (*hopping_channels < 25) return std::nullopt;
        base = kFccQuarterWatt;
    }
    const Decibels excess = antenna_gain_dbi - kFccGainAllowance;
    return excess > Decibels(0) ? base - excess : base;
}

Decibels LinkBudget::eirp_dbm() const noexcept {
    return transmit_power_dbm + transmit_antenna_gain_dbi - transmit_cable_loss_db;
}

Decibels LinkBudget::received_dbm(Decibels path_loss_db) const noexcept {
    return eirp_dbm() - path_loss_db + receive_antenna_gain_dbi - receive_cable_loss_db;
}

Decibels LinkBudget::sensitivity_dbm(std::uint8_t spreading_factor, std::uint32_t bandwidth_hz) const noexcept {
    return noise_floor_dbm(bandwidth_hz) + noise_figure_db + demodulator_snr_db(spreading_factor);
}

Decibels LinkBudget::max_path_loss_db(std::uint8_t spreading_factor, std::uint32_t bandwidth_hz) const noexcept {
    return eirp_dbm() + receive_antenna_gain_dbi - receive_cable_loss_db -
           sensitivity_dbm(spreading_factor, bandwidth_hz);
}

Decibels LinkBudget::margin_db(std::uint8_t spreading_factor, std::uint32_t bandwidth_hz,
                               Decibels path_loss_db) const noexcept {
    return received_dbm(path_loss_db) - sensitivity_dbm(spreading_factor, bandwidth_hz);
}

Decibels LinkBudget::max_transmit_power_dbm(Decibels eirp_ceiling_dbm) const noexcept {
    return eirp_ceiling_dbm - transmit_antenna_gain_dbi + transmit_cable_loss_db;
}

}  // namespace trovik::lora
