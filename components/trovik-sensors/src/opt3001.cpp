#include "trovik/sensors/opt3001.hpp"

#include "trovik/sensors/driver.hpp"
#include "trovik/sensors/rounding.hpp"

namespace trovik::sensors::opt3001 {

namespace {

enum Register : std::uint8_t {
    Result = 0x00,
    Configure = 0x01,
    LowLimit = 0x02,
    HighLimit = 0x03,
    Manufacturer = 0x7E,
    Device = 0x7F,
};

constexpr std::uint16_t kReady = 0x0080;
constexpr std::uint16_t kLatch = 0x0010;
constexpr std::uint16_t kSingleShot = 0x0200;

}  // namespace

std::uint16_t config_bits(const Config& c) noexcept {
    const std::uint8_t mode = c.mode & 3;
    const std::uint16_t mode_bits = mode == 0 ? 0 : mode == 1 ? 0x0200 : 0x0400;
    return static_cast<std::uint16_t>((c.range_number & 0xF) << 12 | (c.long_conversion ? 0x0800 : 0) | mode_bits |
                                      (c.latched_window ? 0x10 : 0) | (c.active_high ? 0x08 : 0) |
                                      (c.mask_exponent ? 0x04 : 0) | (c.fault_count & 3));
}

Config config_from_bits(std::uint16_t bits) noexcept {
    const std::uint8_t mode = bits >> 9 & 3;
    return {
        .range_number = static_cast<std::uint8_t>(bits >> 12),
        .long_conversion = (bits & 0x0800) != 0,
        .mode = static_cast<std::uint8_t>(mode == 3 ? 2 : mode),
        .overflow = (bits & 0x0100) != 0,
        .conversion_ready = (bits & 0x0080) != 0,
        .flag_high = (bits & 0x0040) != 0,
        .flag_low = (bits & 0x0020) != 0,
        .latched_window = (bits & 0x0010) != 0,
        .active_high = (bits & 0x0008) != 0,
        .mask_exponent = (bits & 0x0004) != 0,
        .fault_count = static_cast<std::uint8_t>(bits & 3),
    };
}

std::optional<std::uint32_t> lsb_milli_lux(std::uint8_t exponent) noexcept {
    if (exponent > 11) return std::nullopt;
    return std::uint32_t{10} << exponent;
}

std::uint16_t raw_from_milli_lux(std::uint32_t milli_lux) noexcept {
    for (std::uint32_t e = 0; e <= 11; ++e) {
        const std::uint32_t mantissa = milli_lux / (std::uint32_t{10} << e);
        if (mantissa < 4096) return static_cast<std::uint16_t>(e << 12 | mantissa);
    }
    return 0xBFFF;
}

std::optional<std::uint32_t> full_scale_milli_lux(std::uint8_t range_number) noexcept {
    if (range_number > 11) return std::nullopt;
    return 4095 * (std::uint32_t{10} << range_number);
}

namespace driver {

using sensors::driver::poll_until;
using sensors::driver::read_word;
using sensors::driver::write_word;

Opt3001::Opt3001(hal::I2cBus bus, std::uint8_t address, bool long_conversion, std::uint8_t range_number) noexcept
    : bus_(bus),
      delay_(bus.delay()),
      address_(address),
      range_number_(range_number),
      long_conversion_(long_conversion) {}

std::uint16_t Opt3001::settings() const noexcept {
    return static_cast<std::uint16_t>((range_number_ & 0xF) << 12 | (long_conversion_ ? 0x0800 : 0) | kLatch);
}

Config Opt3001::configuration() const noexcept {
    Config c;
    c.range_number = range_number_;
    c.long_conversion = long_conversion_;
    return c;
}

DriverResult<void> Opt3001::init() {
    initialised_ = false;
    auto manufacturer = read_word(bus_, address_, Manufacturer);
    if (!manufacturer) return fail(std::move(manufacturer.error()));
    if (*manufacturer != 0x5449) return fail(SensorError::Identification);
    auto device = read_word(bus_, address_, Device);
    if (!device) return fail(std::move(device.error()));
    if (*device != 0x3001) return fail(SensorError::Identification);
    if (auto done = write_word(bus_, address_, Configure, settings()); !done) return fail(std::move(done.error()));
    initialised_ = true;
    return {};
}

DriverResult<std::uint16_t> Opt3001::measure() {
    if (!initialised_)
        if (auto done = init(); !done) return std::unexpected(std::move(done.error()));
    if (auto done = write_word(bus_, address_, Configure, settings() | kSingleShot); !done)
        return fail(std::move(done.error()));
    delay_.delay_ms(conversion_millis(long_conversion_));
    auto ready = poll_until(bus_, delay_, address_, Configure, 100, 10'000'000,
                            [](std::uint16_t word) { return (word & kReady) != 0; });
    if (!ready) return std::unexpected(std::move(ready.error()));
    auto raw = read_word(bus_, address_, Result);
    if (!raw) return fail(std::move(raw.error()));
    return *raw;
}

DriverResult<void> Opt3001::set_limits(std::uint32_t low_milli_lux, std::uint32_t high_milli_lux) {
    if (auto done = write_word(bus_, address_, LowLimit, raw_from_milli_lux(low_milli_lux)); !done)
        return fail(std::move(done.error()));
    if (auto done = write_word(bus_, address_, HighLimit, raw_from_milli_lux(high_milli_lux)); !done)
        return fail(std::move(done.error()));
    return {};
}

}  // namespace driver

namespace sim {

hal::sim::WordPart part(std::uint8_t address) { return reporting(address, 380.0f); }

hal::sim::WordPart reporting(std::uint8_t address, float lux) {
    hal::sim::WordPart part(address);
    part.set(Manufacturer, 0x5449);
    part.set(Device, 0x3001);
    // Automatic range, 800 ms, shut down, latched window, a conversion ready;
    // the four flags are the part's own, whatever a driver writes.
    part.set(Configure, 0xC890);
    part.mark_read_only(Configure, 0x01E0);
    part.set(Result, raw_from_milli_lux(round_half_up(lux, 1000.0f)));
    return part;
}

}  // namespace sim

}  // namespace trovik::sensors::opt3001
