#include "trovik/sensors/driver.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace trovik::sensors {

std::string_view message(SensorError error) noexcept {
    switch (error) {
        case SensorError::Checksum: return "sensor checksum mismatch";
        case SensorError::UndefinedCode: return "sensor register field holds an undefined code";
        case SensorError::Identification: return "sensor identification mismatch";
    }
    return "sensor identification mismatch";
}

std::string DriverError::message() const {
    struct Text {
        std::string operator()(const hal::BusError& e) const { return e.message(); }
        std::string operator()(SensorError e) const { return std::string(sensors::message(e)); }
        std::string operator()(Timeout) const { return "the part did not finish its conversion in time"; }
    };
    return std::visit(Text{}, cause);
}

namespace driver {

std::expected<std::uint16_t, hal::BusError> read_word(const hal::I2cBus& bus, std::uint8_t address, std::uint8_t reg) {
    const std::array<std::uint8_t, 1> pointer{reg};
    std::array<std::uint8_t, 2> word{};
    if (auto done = bus.write_read(address, pointer, word); !done) return std::unexpected(std::move(done.error()));
    return static_cast<std::uint16_t>(word[0] << 8 | word[1]);
}

hal::BusResult write_word(const hal::I2cBus& bus, std::uint8_t address, std::uint8_t reg, std::uint16_t value) {
    const std::array<std::uint8_t, 3> bytes{reg, static_cast<std::uint8_t>(value >> 8),
                                            static_cast<std::uint8_t>(value)};
    return bus.write(address, bytes);
}

void wait_micros(const hal::BusDelay& delay, std::uint64_t micros) {
    // The largest whole number of microseconds a 32-bit nanosecond count holds.
    constexpr std::uint64_t longest = 4'294'967;
    while (micros > longest) {
        delay.delay_ns(static_cast<std::uint32_t>(longest * 1000));
        micros -= longest;
    }
    delay.delay_ns(static_cast<std::uint32_t>(micros * 1000));
}

hal::BusResult I2cRegisters::write_register(std::uint8_t reg, std::uint8_t value) const {
    const std::array<std::uint8_t, 2> bytes{reg, value};
    return bus.write(address, bytes);
}

hal::BusResult I2cRegisters::read_registers(std::uint8_t reg, std::span<std::uint8_t> out) const {
    const std::array<std::uint8_t, 1> pointer{reg};
    return bus.write_read(address, pointer, out);
}

}  // namespace driver
}  // namespace trovik::sensors
