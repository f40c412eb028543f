#pragma once
// The Texas Instruments ADS1115 16-bit converter: its configuration register,
// gain and rate tables, the driver that converts one input on demand, and
// simulated parts.
#include <cstdint>

#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::ads1115 {

struct Config {
    bool start_conversion = true;
    std::uint8_t mux = 0;
    std::uint8_t pga = 2;
    bool single_shot = true;
    std::uint8_t data_rate = 4;
    bool window_comparator = false;
    bool comparator_active_high = false;
    bool comparator_latching = false;
    std::uint8_t comparator_queue = 3;
    friend bool operator==(const Config&, const Config&) = default;
};

// Gain codes 6 and 7 select the same range as 5.
constexpr std::uint8_t reduced_gain(std::uint8_t pga) noexcept {
    pga &= 7;
    return pga > 5 ? 5 : pga;
}

std::uint16_t config_bits(const Config& config) noexcept;
Config config_from_bits(std::uint16_t bits) noexcept;

std::uint16_t samples_per_second(std::uint8_t data_rate) noexcept;
// One period of the rate, rounded up, plus ten percent of it rounded up: the
// datasheet allows the rate to run that much slow.
std::uint32_t conversion_micros(std::uint8_t data_rate) noexcept;
std::uint32_t full_scale_microvolts(std::uint8_t pga) noexcept;
// raw x full scale / 32768, exact in integers, truncated toward zero.
std::int64_t to_nanovolts(std::uint8_t pga, std::int16_t raw) noexcept;
float to_volts(std::uint8_t pga, std::int16_t raw) noexcept;

namespace driver {

struct Sample {
    std::int16_t raw;
    std::uint8_t pga;  // reduced
};

class Ads1115 {
public:
    Ads1115(hal::I2cBus bus, std::uint8_t address, std::uint8_t mux, std::uint8_t pga, std::uint8_t data_rate) noexcept;

    // Writes the configuration and checks it reads back.
    DriverResult<void> init();
    DriverResult<Sample> sample();
    // Converts another input once; the configured input is put back and the
    // driver left uninitialised whatever the outcome, so the next `sample`
    // writes the configured input again.
    DriverResult<Sample> sample_input(std::uint8_t mux);

    // The configuration the driver writes, start bit clear.
    Config config() const noexcept;
    bool initialised() const noexcept { return initialised_; }

private:
    hal::I2cBus bus_;
    hal::BusDelay delay_;
    std::uint8_t address_;
    std::uint8_t mux_;
    std::uint8_t pga_;
    std::uint8_t data_rate_;
    bool initialised_ = false;
};

}  // namespace driver

namespace sim {

// 1.65 V, half a 3.3 V supply, at the +-2.048 V range.
hal::sim::WordPart part(std::uint8_t address);
// The code for `volts` at the gain, held at the end codes past the range.
hal::sim::WordPart reporting(std::uint8_t address, std::uint8_t pga, float volts);

}  // namespace sim

}  // namespace trovik::sensors::ads1115
