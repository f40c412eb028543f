#pragma once
// What the Bosch BME280 and BMP280 share: the same control register and
// oversampling codes, the same reset, status and identity registers, and
// 20-bit codes laid out the same way in the data burst.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "trovik/hal/bus.hpp"
#include "trovik/hal/parts.hpp"
#include "trovik/sensors/driver.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::sensors::bosch {

enum Register : std::uint8_t {
    Calibration = 0x88,
    ChipId = 0xD0,
    Reset = 0xE0,
    CalibrationHumidity = 0xE1,
    CtrlHum = 0xF2,
    Status = 0xF3,
    CtrlMeas = 0xF4,
    ConfigRegister = 0xF5,
    Data = 0xF7,
};

inline constexpr std::uint8_t kResetCommand = 0xB6;

// A `ctrl_meas` register. The codes are kept as given; they are reduced only
// when a register byte is assembled.
struct CtrlMeasFields {
    std::uint8_t temperature = 0;
    std::uint8_t pressure = 0;
    std::uint8_t mode = 0;
    friend bool operator==(const CtrlMeasFields&, const CtrlMeasFields&) = default;
};

// A `config` register: standby and filter codes kept as given, as above.
// How each part reduces its filter code differs.
struct ConfigFields {
    std::uint8_t standby = 0;
    std::uint8_t filter = 0;
    bool spi_3wire = false;
    friend bool operator==(const ConfigFields&, const ConfigFields&) = default;
};

// The low three bits, with 6 and 7 (which the part treats as 16 samples)
// read as 5.
constexpr std::uint8_t oversampling_code(std::uint8_t code) noexcept {
    const std::uint8_t low = code & 7;
    return low > 5 ? 5 : low;
}
// The low two bits, with 2 (forced as well) read as 1.
constexpr std::uint8_t mode_code(std::uint8_t code) noexcept {
    const std::uint8_t low = code & 3;
    return low == 2 ? 1 : low;
}
// Samples averaged at a code taken modulo 8: 0 when the measurement is skipped.
constexpr std::uint8_t oversampling_factor(std::uint8_t code) noexcept {
    const std::uint8_t reduced = oversampling_code(code);
    return reduced == 0 ? 0 : static_cast<std::uint8_t>(1u << (reduced - 1));
}

std::uint8_t ctrl_meas_bits(const CtrlMeasFields& ctrl) noexcept;
CtrlMeasFields ctrl_meas_from_bits(std::uint8_t bits) noexcept;

constexpr bool measuring(std::uint8_t status) noexcept { return (status & 0x08) != 0; }
constexpr bool image_updating(std::uint8_t status) noexcept { return (status & 0x01) != 0; }

// A 20-bit code from its MSB, LSB and XLSB (whose low nibble is not used).
constexpr std::uint32_t code20(std::uint8_t msb, std::uint8_t lsb, std::uint8_t xlsb) noexcept {
    return std::uint32_t{msb} << 12 | std::uint32_t{lsb} << 4 | std::uint32_t{xlsb} >> 4;
}
// The three burst bytes of a 20-bit code; bits above bit 19 are lost.
void put_code20(std::uint32_t code, std::span<std::uint8_t, 3> out) noexcept;

// What a 20-bit code reads when its oversampling is off.
inline constexpr std::uint32_t kSkipped = 0x80000;

// The longest time one forced measurement takes, in microseconds: 1250, plus
// 2300 per temperature sample, plus 2300 per pressure or humidity sample and
// 575 for each of the two that is measured at all.
std::uint32_t max_measurement_micros(std::uint8_t temperature, std::uint8_t pressure, std::uint8_t humidity) noexcept;
// The typical time, by the same rule with 1000, 2000 and 500.
std::uint32_t typical_measurement_micros(std::uint8_t temperature, std::uint8_t pressure,
                                         std::uint8_t humidity) noexcept;

// Little-endian coefficients, as the parts store them.
constexpr std::uint16_t u16le(std::span<const std::uint8_t> b, std::size_t at) noexcept {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
constexpr std::int16_t s16le(std::span<const std::uint8_t> b, std::size_t at) noexcept {
    return static_cast<std::int16_t>(u16le(b, at));
}

// The temperature and pressure coefficients both parts keep from 0x88 on,
// each 16 bits low byte first.
inline constexpr std::size_t kTrimmingBytes = 24;
struct Trimming {
    std::uint16_t dig_T1 = 0;
    std::int16_t dig_T2 = 0, dig_T3 = 0;
    std::uint16_t dig_P1 = 0;
    std::int16_t dig_P2 = 0, dig_P3 = 0, dig_P4 = 0, dig_P5 = 0, dig_P6 = 0, dig_P7 = 0, dig_P8 = 0, dig_P9 = 0;

    static Trimming from_bytes(std::span<const std::uint8_t, kTrimmingBytes> data) noexcept;
    // The bytes a part holding these coefficients returns.
    std::array<std::uint8_t, kTrimmingBytes> to_bytes() const noexcept;
    friend bool operator==(const Trimming&, const Trimming&) = default;
};

// Bosch's reference compensation works in fixed-width signed integers, and
// an unusual calibration overflows its products. These wrap as two's
// complement, as the reference does on the machines it runs on, instead of
// leaving the result undefined.
constexpr std::int32_t wrap32(std::int64_t v) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}
constexpr std::int64_t mul64(std::int64_t a, std::int64_t b) noexcept {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}
constexpr std::int64_t add64(std::int64_t a, std::int64_t b) noexcept {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
constexpr std::int64_t sub64(std::int64_t a, std::int64_t b) noexcept {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}
// Truncating division; the one quotient that overflows wraps.
constexpr std::int64_t div64(std::int64_t a, std::int64_t b) noexcept { return b == -1 ? sub64(0, a) : a / b; }
// Arithmetic shifts, rounding toward minus infinity.
constexpr std::int64_t shr64(std::int64_t a, unsigned n) noexcept { return a >> n; }
constexpr std::int64_t shl64(std::int64_t a, unsigned n) noexcept {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) << n);
}

// Finds the smallest code in 0..top whose value is at or past `target` in the
// direction the value runs (falling when it is smaller at `top` than at 0);
// a target out of reach ends at 0 or `top`. How the simulations find the raw
// codes that compensate to a chosen reading.
template <class Value>
std::uint32_t search_code(std::uint32_t top, std::int64_t target, Value value) {
    const bool falling = value(top) < value(0);
    std::uint32_t lo = 0;
    std::uint32_t hi = top;
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        const std::int64_t at = value(mid);
        if (falling ? target >= at : target <= at)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// Sets `raw.*field` to the code `search_code` finds, the other codes of
// `raw` held as they are; `value` compensates a whole set of raw codes.
template <class Raw, class Field, class Value>
void find_code(Raw& raw, Field Raw::*field, std::uint32_t top, std::int64_t target, Value value) {
    raw.*field = static_cast<Field>(search_code(top, target, [&](std::uint32_t code) -> std::int64_t {
        Raw at = raw;
        at.*field = static_cast<Field>(code);
        return value(at);
    }));
}

}  // namespace trovik::sensors::bosch

namespace trovik::sensors::bosch::driver {

// Soft reset, 2 ms, a wait for the calibration copy to finish (status bit 0,
// at most 20 reads 1 ms apart), then the identity check.
DriverResult<void> reset_and_identify(const sensors::driver::I2cRegisters& regs, const hal::BusDelay& delay,
                                      std::uint8_t chip_id);
// One forced measurement: `ctrl_meas` written, the longest conversion time
// waited, the status polled until bit 3 clears (at most 20 reads 1 ms apart),
// then the data burst read into `out`.
DriverResult<void> forced_burst(const sensors::driver::I2cRegisters& regs, const hal::BusDelay& delay,
                                std::uint8_t ctrl_meas, std::uint32_t wait_micros, std::span<std::uint8_t> out);
// Reads `out.size()` bytes from `reg` on.
DriverResult<void> read_block(const sensors::driver::I2cRegisters& regs, std::uint8_t reg, std::span<std::uint8_t> out);
DriverResult<void> write(const sensors::driver::I2cRegisters& regs, std::uint8_t reg, std::uint8_t value);
// `ctrl_meas` with both oversampling codes (already reduced) and a mode.
constexpr std::uint8_t ctrl_meas(std::uint8_t temperature, std::uint8_t pressure, std::uint8_t mode) noexcept {
    return static_cast<std::uint8_t>(temperature << 5 | pressure << 2 | mode);
}

// One forced measurement compensated: `init` runs first when no calibration
// is held (and must leave one when it succeeds), then the `Burst` data bytes
// are read and decoded by `decode` into the calibration's raw codes.
template <std::size_t Burst, class Calibration, class Init, class Decode>
auto measure_forced(const sensors::driver::I2cRegisters& regs, const hal::BusDelay& delay,
                    const std::optional<Calibration>& calibration, Init init, std::uint8_t ctrl,
                    std::uint32_t wait_micros, Decode decode)
    -> DriverResult<decltype(calibration->compensate(decode(std::declval<std::span<const std::uint8_t, Burst>>())))> {
    if (!calibration)
        if (auto done = init(); !done) return std::unexpected(std::move(done.error()));
    std::array<std::uint8_t, Burst> burst{};
    if (auto done = forced_burst(regs, delay, ctrl, wait_micros, burst); !done)
        return std::unexpected(std::move(done.error()));
    return calibration->compensate(decode(std::span<const std::uint8_t, Burst>(burst)));
}

}  // namespace trovik::sensors::bosch::driver

namespace trovik::sensors::bosch::sim {

// A part as both chips power up with a measurement waiting: its identity,
// status 0 (idle, calibration copied), each calibration block at its
// register, and the data burst.
struct Block {
    std::uint8_t reg;
    std::span<const std::uint8_t> bytes;
};
hal::sim::I2cPart part(std::uint8_t address, std::uint8_t chip_id, std::span<const Block> blocks,
                       std::span<const std::uint8_t> burst);

}  // namespace trovik::sensors::bosch::sim
