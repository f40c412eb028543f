#include "trovik/sensors/bosch.hpp"

#include <array>
#include <utility>

namespace trovik::sensors::bosch {

std::uint8_t ctrl_meas_bits(const CtrlMeasFields& ctrl) noexcept {
    return static_cast<std::uint8_t>(oversampling_code(ctrl.temperature) << 5 | oversampling_code(ctrl.pressure) << 2 |
                                     mode_code(ctrl.mode));
}

CtrlMeasFields ctrl_meas_from_bits(std::uint8_t bits) noexcept {
    return {
        .temperature = oversampling_code(static_cast<std::uint8_t>(bits >> 5)),
        .pressure = oversampling_code(static_cast<std::uint8_t>(bits >> 2)),
        .mode = mode_code(bits),
    };
}

void put_code20(std::uint32_t code, std::span<std::uint8_t, 3> out) noexcept {
    out[0] = static_cast<std::uint8_t>(code >> 12);
    out[1] = static_cast<std::uint8_t>(code >> 4);
    out[2] = static_cast<std::uint8_t>(code << 4);
}

Trimming Trimming::from_bytes(std::span<const std::uint8_t, kTrimmingBytes> data) noexcept {
    Trimming c;
    c.dig_T1 = u16le(data, 0);
    c.dig_T2 = s16le(data, 2);
    c.dig_T3 = s16le(data, 4);
    c.dig_P1 = u16le(data, 6);
    std::int16_t* pressure[] = {&c.dig_P2, &c.dig_P3, &c.dig_P4, &c.dig_P5, &c.dig_P6, &c.dig_P7, &c.dig_P8, &c.dig_P9};
    for (std::size_t i = 0; i < 8; ++i)
        *pressure[i] = s16le(data, 8 + 2 * i);
    return c;
}

std::array<std::uint8_t, kTrimmingBytes> Trimming::to_bytes() const noexcept {
    const std::uint16_t words[] = {
        dig_T1,
        static_cast<std::uint16_t>(dig_T2),
        static_cast<std::uint16_t>(dig_T3),
        dig_P1,
        static_cast<std::uint16_t>(dig_P2),
        static_cast<std::uint16_t>(dig_P3),
        static_cast<std::uint16_t>(dig_P4),
        static_cast<std::uint16_t>(dig_P5),
        static_cast<std::uint16_t>(dig_P6),
        static_cast<std::uint16_t>(dig_P7),
        static_cast<std::uint16_t>(dig_P8),
        static_cast<std::uint16_t>(dig_P9),
    };
    std::array<std::uint8_t, kTrimmingBytes> out{};
    for (std::size_t i = 0; i < 12; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(words[i]);
        out[2 * i + 1] = static_cast<std::uint8_t>(words[i] >> 8);
    }
    return out;
}

namespace {

std::uint32_t measurement_micros(std::uint8_t t, std::uint8_t p, std::uint8_t h, std::uint32_t base,
                                 std::uint32_t per_sample, std::uint32_t extra) noexcept {
    std::uint32_t micros = base + per_sample * oversampling_factor(t);
    for (const std::uint8_t code : {p, h})
        if (const std::uint32_t factor = oversampling_factor(code); factor != 0) micros += per_sample * factor + extra;
    return micros;
}

}  // namespace

std::uint32_t max_measurement_micros(std::uint8_t temperature, std::uint8_t pressure, std::uint8_t humidity) noexcept {
    return measurement_micros(temperature, pressure, humidity, 1250, 2300, 575);
}

std::uint32_t typical_measurement_micros(std::uint8_t temperature, std::uint8_t pressure,
                                         std::uint8_t humidity) noexcept {
    return measurement_micros(temperature, pressure, humidity, 1000, 2000, 500);
}

}  // namespace trovik::sensors::bosch

namespace trovik::sensors::bosch::driver {

namespace {

// Reads the status until none of `busy` is set: at most 20 reads, 1 ms after
// each that finds it busy.
DriverResult<void> wait_until_clear(const sensors::driver::I2cRegisters& regs, const hal::BusDelay& delay,
                                    std::uint8_t busy) {
    for (int i = 0; i < 20; ++i) {
        std::array<std::uint8_t, 1> status{};
        if (auto done = regs.read_registers(Status, status); !done) return fail(std::move(done.error()));
        if ((status[0] & busy) == 0) return {};
        delay.delay_ns(1'000'000);
    }
    return fail(Timeout{});
}

}  // namespace

DriverResult<void> read_block(const sensors::driver::I2cRegisters& regs, std::uint8_t reg,
                              std::span<std::uint8_t> out) {
    if (auto done = regs.read_registers(reg, out); !done) return fail(std::move(done.error()));
    return {};
}

DriverResult<void> write(const sensors::driver::I2cRegisters& regs, std::uint8_t reg, std::uint8_t value) {
    if (auto done = regs.write_register(reg, value); !done) return fail(std::move(done.error()));
    return {};
}

DriverResult<void> reset_and_identify(const sensors::driver::I2cRegisters& regs, const hal::BusDelay& delay,
                                      std::uint8_t chip_id) {
    if (auto done = write(regs, Reset, kResetCommand); !done) return done;
    delay.delay_ns(2'000'000);
    if (auto done = wait_until_clear(regs, delay, 0x01); !done) return done;
    std::array<std::uint8_t, 1> id{};
    if (auto done = read_block(regs, ChipId, id); !done) return done;
    if (id[0] != chip_id) return fail(SensorError::Identification);
    return {};
}

DriverResult<void> forced_burst(const sensors::driver::I2cRegisters& regs, const hal::BusDelay& delay,
                                std::uint8_t ctrl_meas, std::uint32_t wait_micros, std::span<std::uint8_t> out) {
    if (auto done = write(regs, CtrlMeas, ctrl_meas); !done) return done;
    sensors::driver::wait_micros(delay, wait_micros);
    if (auto done = wait_until_clear(regs, delay, 0x08); !done) return done;
    return read_block(regs, Data, out);
}

}  // namespace trovik::sensors::bosch::driver

namespace trovik::sensors::bosch::sim {

hal::sim::I2cPart part(std::uint8_t address, std::uint8_t chip_id, std::span<const Block> blocks,
                       std::span<const std::uint8_t> burst) {
    const std::array<std::uint8_t, 1> id{chip_id};
    const std::array<std::uint8_t, 1> status{0x00};
    hal::sim::I2cPart part = hal::sim::I2cPart(address).holding(ChipId, id).holding(Status, status);
    for (const Block& block : blocks)
        part = std::move(part).holding(block.reg, block.bytes);
    return std::move(part).holding(Data, burst);
}

}  // namespace trovik::sensors::bosch::sim
