#pragma once
// Link budget of a LoRa link in fixed point: levels and gains are counts of
// hundredths of a decibel, logarithms come from an integer base-2 logarithm,
// so every result is bit-exact on every platform, with or without an FPU.
// The only floating point here is the conversion of `Decibels` to and from a
// float number of decibels, used at the Python boundary.
#include <compare>
#include <cstdint>
#include <limits>
#include <optional>

namespace trovik::lora {

// A level (dBm) or a gain (dB, dBi) in hundredths of a decibel: 14 dBm is
// 1400, -123.03 dBm is -12303. Sums and differences saturate at the 32-bit
// limits instead of wrapping.
class Decibels {
public:
    constexpr Decibels() noexcept = default;
    constexpr explicit Decibels(std::int32_t hundredths) noexcept : hundredths_(hundredths) {}

    // x dB times 100, rounded to the nearest integer with halves away from
    // zero, clamped into the 32-bit range; NaN gives 0.
    static Decibels from_db(double db) noexcept;

    constexpr std::int32_t hundredths() const noexcept { return hundredths_; }
    double to_db() const noexcept { return static_cast<double>(hundredths_) / 100.0; }

    // Whole decibels rounded toward minus infinity (-0.01 dB gives -1), the
    // way a power ceiling is kept below a limit.
    constexpr std::int32_t floor_db() const noexcept {
        std::int32_t whole = hundredths_ / 100;
        return hundredths_ % 100 < 0 ? whole - 1 : whole;
    }

    friend constexpr Decibels operator+(Decibels a, Decibels b) noexcept {
        return Decibels(saturate(std::int64_t{a.hundredths_} + b.hundredths_));
    }
    friend constexpr Decibels operator-(Decibels a, Decibels b) noexcept {
        return Decibels(saturate(std::int64_t{a.hundredths_} - b.hundredths_));
    }
    friend constexpr auto operator<=>(Decibels, Decibels) noexcept = default;

private:
    static constexpr std::int32_t saturate(std::int64_t v) noexcept {
        if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
        if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
        return static_cast<std::int32_t>(v);
    }

    std::int32_t hundredths_ = 0;
};

// Thermal noise power in a channel: -174 dBm/Hz + 10 log10(bandwidth),
// rounded half up to the hundredth. A bandwidth of 0 counts as 1 Hz.
Decibels noise_floor_dbm(std::uint32_t bandwidth_hz) noexcept;

// The signal-to-noise ratio the LoRa demodulator needs: -2.5 dB at SF5 down
// to -20 dB at SF12, in 2.5 dB steps. Spreading factors outside 5..12 are
// clamped into it.
Decibels demodulator_snr_db(std::uint8_t spreading_factor) noexcept;

// Free-space basic transmission loss between isotropic antennas:
// 20 log10(d) + 20 log10(f) + 20 log10(4 pi / c), rounded half up to the
// hundredth. A distance or frequency of 0 counts as 1.
Decibels free_space_loss_db(std::uint32_t distance_m, std::uint32_t frequency_hz) noexcept;

// Radius of the first Fresnel ellipsoid at a point `near_m` from one end and
// `far_m` from the other, in millimetres rounded half up; 0 for a frequency of
// 0 or a path of zero length, 4294967295 when the radius is larger.
std::uint32_t fresnel_radius_mm(std::uint32_t near_m, std::uint32_t far_m, std::uint32_t frequency_hz) noexcept;

// The most conducted power 47 CFR 15.247 allows a 902-928 MHz transmitter
// through an antenna of the given gain. Without a channel count the
// transmitter uses digital modulation (1 W); 25 to 49 hopping channels allow
// 0.25 W, 50 and more 1 W; each dB of antenna gain above 6 dBi costs one dB.
// Fewer than 25 hopping channels give no value: paragraph (b)(2) sets no
// limit for them.
std::optional<Decibels> fcc_max_conducted_dbm(Decibels antenna_gain_dbi,
                                              std::optional<std::uint16_t> hopping_channels) noexcept;

// The gains and losses of a LoRa link, from the transmitting radio to the
// receiving one. Losses are positive numbers that are subtracted. Every sum
// saturates, step by step, left to right as each formula reads.
struct LinkBudget {
    Decibels transmit_power_dbm{0};
    Decibels transmit_antenna_gain_dbi{0};
    Decibels transmit_cable_loss_db{0};
    Decibels receive_antenna_gain_dbi{0};
    Decibels receive_cable_loss_db{0};
    Decibels noise_figure_db{600};

    // transmit power + transmit antenna gain - transmit cable loss.
    Decibels eirp_dbm() const noexcept;
    // EIRP - path loss + receive antenna gain - receive cable loss.
    Decibels received_dbm(Decibels path_loss_db) const noexcept;
    // Noise floor of the bandwidth + noise figure + demodulator SNR.
    Decibels sensitivity_dbm(std::uint8_t spreading_factor, std::uint32_t bandwidth_hz) const noexcept;
    // EIRP + receive antenna gain - receive cable loss - sensitivity.
    Decibels max_path_loss_db(std::uint8_t spreading_factor, std::uint32_t bandwidth_hz) const noexcept;
    // Received power - sensitivity; negative when the path loses more than
    // the link survives.
    Decibels margin_db(std::uint8_t spreading_factor, std::uint32_t bandwidth_hz, Decibels path_loss_db) const noexcept;
    // EIRP ceiling - transmit antenna gain + transmit cable loss: a
    // higher-gain antenna leaves less power for the radio.
    Decibels max_transmit_power_dbm(Decibels eirp_ceiling_dbm) const noexcept;
};

// The integer arithmetic underneath, exposed for its tests.
namespace detail {
// log2 x with 40 fraction bits; 0 counts as 1.
std::uint64_t log2_q40(std::uint32_t x) noexcept;
// log10 x with 64 fraction bits, from log2_q40; 0 counts as 1.
unsigned __int128 log10_q64(std::uint32_t x) noexcept;
// floor(sqrt(x)), exact over the whole 128-bit range.
std::uint64_t isqrt(unsigned __int128 x) noexcept;
}  // namespace detail

}  // namespace trovik::lora
