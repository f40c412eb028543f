#include "trovik/sensors/ina226.hpp"

#include <array>
#include <cstdlib>

#include "trovik/sensors/current_monitor.hpp"
#include "trovik/sensors/driver.hpp"

namespace trovik::sensors::ina226 {

namespace {

constexpr std::array<std::uint16_t, 8> kSamples{1, 4, 16, 64, 128, 256, 512, 1024};
constexpr std::array<std::uint32_t, 8> kMicros{140, 204, 332, 588, 1100, 2116, 4156, 8244};

enum Register : std::uint8_t {
    Configure = 0x00,
    Shunt = 0x01,
    Bus = 0x02,
    Power = 0x03,
    Current = 0x04,
    Calibrate = 0x05,
    Mask = 0x06,
    Limit = 0x07,
    Manufacturer = 0xFE,
    Die = 0xFF,
};

constexpr std::uint16_t kReset = 0xC127;
constexpr std::uint16_t kReadyFlag = 0x0008;

struct Flag {
    bool MaskEnable::*field;
    std::uint16_t bit;
};
constexpr std::array<Flag, 11> kFlags{{
    {&MaskEnable::shunt_over_limit, 0x8000},
    {&MaskEnable::shunt_under_limit, 0x4000},
    {&MaskEnable::bus_over_limit, 0x2000},
    {&MaskEnable::bus_under_limit, 0x1000},
    {&MaskEnable::power_over_limit, 0x0800},
    {&MaskEnable::conversion_ready, 0x0400},
    {&MaskEnable::alert_function_flag, 0x0010},
    {&MaskEnable::conversion_ready_flag, 0x0008},
    {&MaskEnable::math_overflow, 0x0004},
    {&MaskEnable::alert_active_high, 0x0002},
    {&MaskEnable::alert_latch, 0x0001},
}};

constexpr std::uint8_t fold_mode(std::uint8_t mode) noexcept {
    mode &= 7;
    return mode == 4 ? 0 : mode;
}

}  // namespace

Config reduced(const Config& c) noexcept {
    return {c.reset, static_cast<std::uint8_t>(c.averaging & 7), static_cast<std::uint8_t>(c.bus_conversion_time & 7),
            static_cast<std::uint8_t>(c.shunt_conversion_time & 7), fold_mode(c.mode)};
}

std::uint16_t config_to_register(const Config& config) noexcept {
    const Config c = reduced(config);
    return static_cast<std::uint16_t>((c.reset ? 0x8000 : 0) | 0x4000 | c.averaging << 9 | c.bus_conversion_time << 6 |
                                      c.shunt_conversion_time << 3 | c.mode);
}

Config config_from_register(std::uint16_t raw) noexcept {
    return {(raw & 0x8000) != 0, static_cast<std::uint8_t>(raw >> 9 & 7), static_cast<std::uint8_t>(raw >> 6 & 7),
            static_cast<std::uint8_t>(raw >> 3 & 7), fold_mode(static_cast<std::uint8_t>(raw))};
}

std::uint16_t averaging_samples(std::uint8_t code) noexcept { return kSamples[code & 7]; }
std::uint32_t conversion_micros(std::uint8_t code) noexcept { return kMicros[code & 7]; }

std::uint32_t update_micros(const Config& config) noexcept {
    const std::uint8_t mode = config.mode & 7;
    std::uint32_t t = 0;
    if (measures_shunt(mode)) t += conversion_micros(config.shunt_conversion_time);
    if (measures_bus(mode)) t += conversion_micros(config.bus_conversion_time);
    return t * averaging_samples(config.averaging);
}

std::uint16_t MaskEnable::to_register() const noexcept {
    std::uint16_t raw = 0;
    for (const Flag& f : kFlags)
        if (this->*f.field) raw |= f.bit;
    return raw;
}

MaskEnable MaskEnable::from_register(std::uint16_t raw) noexcept {
    MaskEnable mask;
    for (const Flag& f : kFlags)
        mask.*f.field = (raw & f.bit) != 0;
    return mask;
}

std::optional<std::string_view> active_alert_function(const MaskEnable& m) noexcept {
    if (m.shunt_over_limit) return "ShuntOverLimit";
    if (m.shunt_under_limit) return "ShuntUnderLimit";
    if (m.bus_over_limit) return "BusOverLimit";
    if (m.bus_under_limit) return "BusUnderLimit";
    if (m.power_over_limit) return "PowerOverLimit";
    return std::nullopt;
}

std::expected<DieId, SensorError> identify(std::uint16_t manufacturer_id, std::uint16_t die) noexcept {
    if (manufacturer_id != kManufacturer || (die & 0xFFF0) != 0x2260)
        return std::unexpected(SensorError::Identification);
    return die_id(die);
}

std::uint16_t calibration(std::uint32_t step, std::uint32_t shunt_milliohms) noexcept {
    const std::uint32_t q = current_monitor::calibration_quotient(5'120'000, step, shunt_milliohms);
    return static_cast<std::uint16_t>(q > 0x7FFF ? 0x7FFF : q);
}

std::int16_t shunt_register(std::int32_t nanovolts) noexcept { return static_cast<std::int16_t>(nanovolts / 2500); }
std::uint16_t bus_register(std::uint32_t microvolts) noexcept { return static_cast<std::uint16_t>(microvolts / 1250); }

std::uint16_t power_register(std::uint32_t microwatts, std::uint32_t step) noexcept {
    return current_monitor::power_register(microwatts, step, 25);
}

std::int16_t current_register_from_shunt(std::int16_t shunt, std::uint16_t calibration) noexcept {
    return static_cast<std::int16_t>(std::int32_t{shunt} * std::int32_t{calibration} / 2048);
}

std::uint16_t power_register_from_current(std::int16_t current, std::uint16_t bus) noexcept {
    const std::uint32_t magnitude = static_cast<std::uint32_t>(std::abs(std::int32_t{current}));
    return static_cast<std::uint16_t>(magnitude * (bus & 0x7FFFu) / 20000);
}

namespace driver {

using sensors::driver::poll_until;
using sensors::driver::read_word;
using sensors::driver::wait_micros;
using sensors::driver::write_word;

Ina226::Ina226(hal::I2cBus bus, std::uint8_t address, std::uint32_t shunt_milliohms,
               std::uint32_t current_lsb_microamps, const Config& config) noexcept
    : bus_(bus),
      delay_(bus.delay()),
      shunt_milliohms_(shunt_milliohms),
      step_(current_lsb_microamps),
      config_(reduced(config)),
      address_(address) {}

std::uint16_t Ina226::settings(std::uint8_t mode) const noexcept {
    Config c = config_;
    c.reset = false;  // kept from the caller's configuration, never written
    c.mode = mode;
    return config_to_register(c);
}

DriverResult<void> Ina226::init() {
    if (auto done = write_word(bus_, address_, Configure, kReset); !done) return fail(std::move(done.error()));
    auto manufacturer = read_word(bus_, address_, Manufacturer);
    if (!manufacturer) return fail(std::move(manufacturer.error()));
    auto die = read_word(bus_, address_, Die);
    if (!die) return fail(std::move(die.error()));
    auto id = identify(*manufacturer, *die);
    if (!id) return fail(id.error());
    if (auto done = write_word(bus_, address_, Configure, settings(config_.mode)); !done)
        return fail(std::move(done.error()));
    const std::uint16_t word = calibration_word();
    if (auto done = write_word(bus_, address_, Calibrate, word); !done) return fail(std::move(done.error()));
    auto back = read_word(bus_, address_, Calibrate);
    if (!back) return fail(std::move(back.error()));
    if (*back != word) return fail(SensorError::Identification);
    identity_ = *id;
    return {};
}

DriverResult<Reading> Ina226::measure() {
    if (!identity_)
        if (auto done = init(); !done) return std::unexpected(std::move(done.error()));
    if (auto done = write_word(bus_, address_, Configure, settings(3)); !done) return fail(std::move(done.error()));
    // At the longest times and 1024 samples this is nearly 17 s: more than
    // one 32-bit count of nanoseconds, so it is waited in stretches.
    wait_micros(delay_, std::uint64_t{conversion_micros(config_.bus_conversion_time) +
                                      conversion_micros(config_.shunt_conversion_time)} *
                            averaging_samples(config_.averaging));
    auto mask = poll_until(bus_, delay_, address_, Mask, 20, 1'000'000,
                           [](std::uint16_t word) { return (word & kReadyFlag) != 0; });
    if (!mask) return std::unexpected(std::move(mask.error()));
    std::array<std::uint16_t, 4> words{};
    const std::array<std::uint8_t, 4> order{Shunt, Bus, Current, Power};
    for (std::size_t i = 0; i < order.size(); ++i) {
        auto word = read_word(bus_, address_, order[i]);
        if (!word) return fail(std::move(word.error()));
        words[i] = *word;
    }
    return Reading{step_,    static_cast<std::int16_t>(words[0]),
                   words[1], static_cast<std::int16_t>(words[2]),
                   words[3], (*mask & 0x0004) != 0};
}

DriverResult<void> Ina226::set_alert(const MaskEnable& mask, std::uint16_t limit) {
    if (auto done = write_word(bus_, address_, Limit, limit); !done) return fail(std::move(done.error()));
    if (auto done = write_word(bus_, address_, Mask, mask.to_register()); !done) return fail(std::move(done.error()));
    return {};
}

}  // namespace driver

namespace sim {

using current_monitor::clamp_signed;
using current_monitor::clamp_unsigned;

hal::sim::WordPart part(std::uint8_t address) { return reporting(address, 100, 3'200'000, 12'000'000, 500'000); }

hal::sim::WordPart reporting(std::uint8_t address, std::uint32_t shunt_milliohms, std::uint32_t max_microamps,
                             std::uint32_t bus_microvolts, std::int32_t microamps) {
    hal::sim::WordPart part(address);
    // The flags are the part's own: a driver writing the register (an alert
    // set-up) never clears conversion ready, so conversions keep completing.
    part.set(Mask, kReadyFlag);
    part.mark_read_only(Mask, 0x001C);
    part.set(Manufacturer, kManufacturer);
    part.set(Die, 0x2260);
    // Nanovolts across the shunt over 2.5 uV counts, formed in 64 bits: a
    // large shunt and current must not wrap into a reading of the other sign.
    part.set(Shunt, clamp_signed(std::int64_t{shunt_milliohms} * microamps / 2500));
    part.set(Bus, clamp_unsigned(bus_microvolts / 1250, 0x7FFF));
    if (max_microamps != 0) {
        const std::uint32_t step = current_monitor::minimum_current_lsb(max_microamps);
        part.set(Current, clamp_signed(std::int64_t{microamps} / step));
        const std::uint64_t microwatts =
            std::uint64_t{bus_microvolts} * static_cast<std::uint64_t>(std::llabs(microamps)) / 1'000'000;
        part.set(Power, clamp_unsigned(microwatts / (std::uint64_t{step} * 25)));
    }
    return part;
}

}  // namespace sim

}  // namespace trovik::sensors::ina226
