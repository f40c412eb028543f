#include "trovik/sensors/ads1115.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "trovik/sensors/driver.hpp"

namespace trovik::sensors::ads1115 {

namespace {

constexpr std::array<std::uint16_t, 8> kRates{8, 16, 32, 64, 128, 250, 475, 860};
constexpr std::array<std::uint32_t, 6> kFullScale{6'144'000, 4'096'000, 2'048'000, 1'024'000, 512'000, 256'000};

enum Register : std::uint8_t { Conversion = 0x00, Configure = 0x01 };

constexpr std::uint16_t kStart = 0x8000;
constexpr std::uint16_t kGainBits = 0x0E00;
constexpr std::uint16_t kPowerOn = 0x8583;

}  // namespace

std::uint16_t config_bits(const Config& c) noexcept {
    return static_cast<std::uint16_t>((c.start_conversion ? kStart : 0) | (c.mux & 7) << 12 | reduced_gain(c.pga) << 9 |
                                      (c.single_shot ? 0x100 : 0) | (c.data_rate & 7) << 5 |
                                      (c.window_comparator ? 0x10 : 0) | (c.comparator_active_high ? 0x08 : 0) |
                                      (c.comparator_latching ? 0x04 : 0) | (c.comparator_queue & 3));
}

Config config_from_bits(std::uint16_t bits) noexcept {
    return {
        .start_conversion = (bits & kStart) != 0,
        .mux = static_cast<std::uint8_t>(bits >> 12 & 7),
        .pga = reduced_gain(static_cast<std::uint8_t>(bits >> 9)),
        .single_shot = (bits & 0x100) != 0,
        .data_rate = static_cast<std::uint8_t>(bits >> 5 & 7),
        .window_comparator = (bits & 0x10) != 0,
        .comparator_active_high = (bits & 0x08) != 0,
        .comparator_latching = (bits & 0x04) != 0,
        .comparator_queue = static_cast<std::uint8_t>(bits & 3),
    };
}

std::uint16_t samples_per_second(std::uint8_t data_rate) noexcept { return kRates[data_rate & 7]; }

std::uint32_t conversion_micros(std::uint8_t data_rate) noexcept {
    const std::uint32_t rate = samples_per_second(data_rate);
    const std::uint32_t period = (1'000'000 + rate - 1) / rate;
    return period + (period + 9) / 10;
}

std::uint32_t full_scale_microvolts(std::uint8_t pga) noexcept { return kFullScale[reduced_gain(pga)]; }

std::int64_t to_nanovolts(std::uint8_t pga, std::int16_t raw) noexcept {
    return std::int64_t{raw} * (std::int64_t{full_scale_microvolts(pga)} * 1000) / 32768;
}

float to_volts(std::uint8_t pga, std::int16_t raw) noexcept {
    return static_cast<float>(to_nanovolts(pga, raw)) / 1'000'000'000.0f;
}

namespace driver {

using sensors::driver::poll_until;
using sensors::driver::read_word;
using sensors::driver::write_word;

Ads1115::Ads1115(hal::I2cBus bus, std::uint8_t address, std::uint8_t mux, std::uint8_t pga,
                 std::uint8_t data_rate) noexcept
    : bus_(bus),
      delay_(bus.delay()),
      address_(address),
      mux_(mux & 7),
      pga_(reduced_gain(pga)),
      data_rate_(data_rate & 7) {}

Config Ads1115::config() const noexcept {
    Config c;
    c.start_conversion = false;
    c.mux = mux_;
    c.pga = pga_;
    c.data_rate = data_rate_;
    return c;
}

DriverResult<void> Ads1115::init() {
    const std::uint16_t written = config_bits(config());
    if (auto done = write_word(bus_, address_, Configure, written); !done) return fail(std::move(done.error()));
    auto back = read_word(bus_, address_, Configure);
    if (!back) return fail(std::move(back.error()));
    // Bit 15 reads as the converter's state, and gain codes 6 and 7 are the
    // same range as 5: neither is a difference.
    const std::uint16_t gain = std::min<std::uint16_t>(*back & kGainBits, 0x0A00);
    const std::uint16_t seen = static_cast<std::uint16_t>((*back & ~(kStart | kGainBits)) | gain);
    if (seen != (written & ~kStart)) return fail(SensorError::Identification);
    initialised_ = true;
    return {};
}

DriverResult<Sample> Ads1115::sample() {
    if (!initialised_)
        if (auto done = init(); !done) return std::unexpected(std::move(done.error()));
    if (auto done = write_word(bus_, address_, Configure, config_bits(config()) | kStart); !done)
        return fail(std::move(done.error()));
    delay_.delay_us(conversion_micros(data_rate_));
    auto ready = poll_until(bus_, delay_, address_, Configure, 10, 1'000'000,
                            [](std::uint16_t word) { return (word & kStart) != 0; });
    if (!ready) return std::unexpected(std::move(ready.error()));
    auto raw = read_word(bus_, address_, Conversion);
    if (!raw) return fail(std::move(raw.error()));
    return Sample{static_cast<std::int16_t>(*raw), pga_};
}

DriverResult<Sample> Ads1115::sample_input(std::uint8_t mux) {
    const std::uint8_t configured = mux_;
    mux_ = mux & 7;
    initialised_ = false;
    DriverResult<Sample> out = sample();
    mux_ = configured;
    initialised_ = false;
    return out;
}

}  // namespace driver

namespace sim {

hal::sim::WordPart part(std::uint8_t address) { return reporting(address, 2, 1.65f); }

hal::sim::WordPart reporting(std::uint8_t address, std::uint8_t pga, float volts) {
    hal::sim::WordPart part(address);
    part.set(Configure, kPowerOn);
    const float x = volts * 1'000'000.0f / static_cast<float>(full_scale_microvolts(pga)) * 32768.0f;
    std::int16_t code = -32768;
    if (!std::isnan(x))
        code = static_cast<std::int16_t>(x >= 0.0f ? std::fmin(x + 0.5f, 32767.0f) : std::fmax(x - 0.5f, -32768.0f));
    part.set(Conversion, static_cast<std::uint16_t>(code));
    return part;
}

}  // namespace sim

}  // namespace trovik::sensors::ads1115
