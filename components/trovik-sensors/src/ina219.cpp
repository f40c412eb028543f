#include "trovik/sensors/ina219.hpp"

#include <array>
#include <cstdlib>

#include "trovik/sensors/current_monitor.hpp"
#include "trovik/sensors/driver.hpp"

namespace trovik::sensors::ina219 {

namespace {

constexpr std::array<std::uint32_t, 11> kSettingMicros{84, 148, 276, 532, 1060, 2130, 4260, 8510, 17020, 34050, 68100};

// The power-on configuration with the reset bit set.
constexpr std::uint16_t kReset = 0xB99F;

enum Register : std::uint8_t {
    Configure = 0x00,
    Shunt = 0x01,
    Bus = 0x02,
    Power = 0x03,
    Current = 0x04,
    Calibrate = 0x05
};

}  // namespace

std::uint8_t setting_of(std::uint8_t code) noexcept {
    code &= 0x0F;
    return (code & 0x08) ? code - 5 : code & 3;
}

std::uint8_t code_of(std::uint8_t setting) noexcept { return setting <= 3 ? setting : setting + 5; }

std::uint32_t setting_micros(std::uint8_t setting) noexcept { return kSettingMicros[setting <= 10 ? setting : 10]; }

std::uint32_t adc_conversion_micros(std::uint8_t code) noexcept { return setting_micros(setting_of(code)); }

Configuration Configuration::from_bits(std::uint16_t bits) noexcept {
    return {
        .reset = (bits & 0x8000) != 0,
        .bus_range = static_cast<std::uint8_t>(bits >> 13 & 1),
        .gain = static_cast<std::uint8_t>(bits >> 11 & 3),
        .mode = static_cast<std::uint8_t>(bits & 7),
        .bus_setting = setting_of(static_cast<std::uint8_t>(bits >> 7 & 0x0F)),
        .shunt_setting = setting_of(static_cast<std::uint8_t>(bits >> 3 & 0x0F)),
    };
}

Configuration Configuration::from(const Config& c) noexcept {
    return {
        .reset = c.reset,
        .bus_range = static_cast<std::uint8_t>(c.bus_range & 1),
        .gain = static_cast<std::uint8_t>(c.gain & 3),
        .mode = static_cast<std::uint8_t>(c.mode & 7),
        .bus_setting = setting_of(c.bus_adc),
        .shunt_setting = setting_of(c.shunt_adc),
    };
}

Config Configuration::codes() const noexcept {
    return {reset, bus_range, gain, code_of(bus_setting), code_of(shunt_setting), mode};
}

std::uint16_t Configuration::bits() const noexcept {
    return static_cast<std::uint16_t>((reset ? 0x8000 : 0) | bus_range << 13 | gain << 11 | code_of(bus_setting) << 7 |
                                      code_of(shunt_setting) << 3 | mode);
}

std::uint16_t config_bits(const Config& config) noexcept { return Configuration::from(config).bits(); }

Config config_from_bits(std::uint16_t bits) noexcept { return Configuration::from_bits(bits).codes(); }

std::uint32_t conversion_micros(const Config& config) noexcept {
    const std::uint8_t mode = config.mode & 7;
    std::uint32_t total = 0;
    if (mode & 1) total += adc_conversion_micros(config.shunt_adc);
    if (mode & 2) total += adc_conversion_micros(config.bus_adc);
    return total;
}

std::uint16_t gain_range_millivolts(std::uint8_t code) noexcept { return static_cast<std::uint16_t>(40 << (code & 3)); }

std::uint16_t calibration(std::uint32_t step, std::uint32_t shunt_milliohms) noexcept {
    return static_cast<std::uint16_t>(current_monitor::calibration_quotient(40'960'000, step, shunt_milliohms));
}

std::int16_t shunt_register(std::int32_t microvolts) noexcept { return static_cast<std::int16_t>(microvolts / 10); }

std::uint16_t bus_register(std::uint32_t millivolts) noexcept {
    return static_cast<std::uint16_t>((millivolts / 4) * 8 + 2);
}

std::uint16_t power_register(std::uint32_t microwatts, std::uint32_t step) noexcept {
    return current_monitor::power_register(microwatts, step, 20);
}

namespace driver {

using sensors::driver::poll_until;
using sensors::driver::read_word;
using sensors::driver::write_word;

Ina219::Ina219(hal::I2cBus bus, std::uint8_t address, std::uint32_t shunt_milliohms,
               std::uint32_t current_lsb_microamps, Configuration config) noexcept
    : bus_(bus),
      delay_(bus.delay()),
      shunt_milliohms_(shunt_milliohms),
      step_(current_lsb_microamps),
      address_(address),
      config_(config) {}

DriverResult<void> Ina219::init() {
    if (auto done = write_word(bus_, address_, Configure, kReset); !done) return fail(std::move(done.error()));
    Configuration settings = config_;
    settings.reset = false;  // kept from the caller's configuration, never written
    if (auto done = write_word(bus_, address_, Configure, settings.bits()); !done) return fail(std::move(done.error()));
    const std::uint16_t word = calibration_word();
    if (auto done = write_word(bus_, address_, Calibrate, word); !done) return fail(std::move(done.error()));
    auto back = read_word(bus_, address_, Calibrate);
    if (!back) return fail(std::move(back.error()));
    if (*back != word) return fail(SensorError::Identification);
    initialised_ = true;
    return {};
}

DriverResult<Reading> Ina219::measure() {
    if (!initialised_)
        if (auto done = init(); !done) return std::unexpected(std::move(done.error()));
    Configuration trigger = config_;
    trigger.reset = false;
    trigger.mode = 3;  // one shunt and one bus conversion, then idle
    if (auto done = write_word(bus_, address_, Configure, trigger.bits()); !done) return fail(std::move(done.error()));
    delay_.wait_ns((std::uint64_t{setting_micros(config_.bus_setting)} + setting_micros(config_.shunt_setting)) * 1000);
    auto bus = poll_until(bus_, delay_, address_, Bus, 20, 1'000'000, conversion_ready);
    if (!bus) return std::unexpected(std::move(bus.error()));
    std::array<std::uint16_t, 3> words{};
    const std::array<std::uint8_t, 3> order{Shunt, Current, Power};
    for (std::size_t i = 0; i < order.size(); ++i) {
        auto word = read_word(bus_, address_, order[i]);
        if (!word) return fail(std::move(word.error()));
        words[i] = *word;
    }
    return Reading{step_, static_cast<std::int16_t>(words[0]), *bus, static_cast<std::int16_t>(words[1]), words[2]};
}

}  // namespace driver

namespace sim {

using current_monitor::clamp_signed;
using current_monitor::clamp_unsigned;

hal::sim::WordPart part(std::uint8_t address) { return reporting(address, 100, 3'200'000, 12'000, 500'000); }

hal::sim::WordPart reporting(std::uint8_t address, std::uint32_t shunt_milliohms, std::uint32_t max_microamps,
                             std::uint32_t bus_millivolts, std::int32_t microamps) {
    hal::sim::WordPart part(address);
    // Microvolts across the shunt, then counts of 10 uV.
    const std::int64_t microvolts = std::int64_t{shunt_milliohms} * microamps / 1000;
    part.set(Shunt, clamp_signed(microvolts / 10));
    // The voltage in counts of 4 mV above the three flag bits; conversion ready set.
    part.set(Bus, static_cast<std::uint16_t>(clamp_unsigned(bus_millivolts / 4, 0x1FFF) << 3 | 0x2));
    if (max_microamps != 0) {
        const std::uint32_t step = current_monitor::minimum_current_lsb(max_microamps);
        part.set(Current, clamp_signed(std::int64_t{microamps} / step));
        const std::uint64_t microwatts =
            std::uint64_t{bus_millivolts} * static_cast<std::uint64_t>(std::llabs(microamps)) / 1000;
        part.set(Power, clamp_unsigned(microwatts / (std::uint64_t{step} * 20)));
    }
    return part;
}

}  // namespace sim

}  // namespace trovik::sensors::ina219
