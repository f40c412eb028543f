// The DS18B20 w1_slave text and scratchpad, the Sensirion word frames, and
// the HDC1080 and TMP117 registers. Any text the reader accepts is written
// back by the writer into a text it reads as the same scratchpad; a
// scratchpad read from bytes is rebuilt into bytes that read the same; a
// Sensirion frame (SHT3x measurement, SCD4x measurement and serial number)
// reads only when all its CRCs hold, and rebuilds into the same bytes; the
// HDC1080 and TMP117 configuration registers read back to the bits they
// define. The SHT3x, SCD4x, HDC1080 and TMP117 drivers read parts whose
// replies or registers are the input: a reading must be exactly the part's
// words, and each failure the one the part's answers call for.
// libFuzzer options: -max_len=256
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "support.hpp"
#include "trovik/core/crc8.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/ds18b20.hpp"
#include "trovik/sensors/hdc1080.hpp"
#include "trovik/sensors/scd4x.hpp"
#include "trovik/sensors/sensirion.hpp"
#include "trovik/sensors/sht3x.hpp"
#include "trovik/sensors/tmp117.hpp"

using namespace trovik;
using namespace trovik::sensors;

namespace {

void w1_slave(std::span<const std::uint8_t> data) {
    const auto parsed = ds18b20::parse_w1_slave(fuzz::as_text(data));
    if (!parsed) return;
    const std::string text = ds18b20::w1_slave_text(*parsed);
    FUZZ_CHECK(ds18b20::parse_w1_slave(text) == parsed);
    // Its first nine pieces are a scratchpad a part sends.
    FUZZ_CHECK(ds18b20::Scratchpad::parse(parsed->to_bytes()) == parsed);
}

void scratchpad(std::span<const std::uint8_t> data) {
    if (data.size() < 9) return;
    const auto bytes = data.first<9>();
    const auto parsed = ds18b20::Scratchpad::parse(bytes);
    const bool crc = core::maxim_crc8(bytes.first<8>()) == bytes[8];
    const bool config = bytes[4] == 0x1F || bytes[4] == 0x3F || bytes[4] == 0x5F || bytes[4] == 0x7F;
    FUZZ_CHECK(parsed.has_value() == (crc && config));
    if (!parsed) return;
    const auto rebuilt = parsed->to_bytes();
    // The fields a part sends come back; the reserved bytes are the part's own.
    FUZZ_CHECK(std::equal(rebuilt.begin(), rebuilt.begin() + 5, bytes.begin()));
    FUZZ_CHECK(ds18b20::Scratchpad::parse(rebuilt) == parsed);
}

void sensirion_frames(std::span<const std::uint8_t> data) {
    if (data.size() < 6) return;
    const auto m = sht3x::Measurement::parse(data.first<6>());
    const bool good =
        core::sensirion_crc8(data.first<2>()) == data[2] && core::sensirion_crc8(data.subspan<3, 2>()) == data[5];
    FUZZ_CHECK(m.has_value() == good);
    if (m) {
        const auto back = m->to_bytes();
        FUZZ_CHECK(std::equal(back.begin(), back.end(), data.begin()));
    }
    const auto word = sensirion::word(data.first<3>());
    if (word) FUZZ_CHECK(sensirion::word_frame(*word) == (sensirion::WordFrame{data[0], data[1], data[2]}));
}

void sht3x_driver(std::span<const std::uint8_t> data) {
    if (data.size() < 10) return;
    // The status reply, then the measurement reply, straight from the input.
    const auto status = data.first<3>();
    const auto measurement = data.subspan<3, 6>();
    const auto repeatability = static_cast<sht3x::Repeatability>(data[9] % 3);
    hal::sim::CommandPart part(0x44, 2);
    const std::uint8_t read_status[2] = {0xF3, 0x2D};
    part.answer(read_status, status);
    const std::uint16_t command = sht3x::single_shot(repeatability, false);
    const std::uint8_t single[2] = {static_cast<std::uint8_t>(command >> 8), static_cast<std::uint8_t>(command)};
    part.answer(single, measurement);
    const hal::I2cBus bus = hal::I2cBus::simulated({std::move(part)});
    sht3x::driver::Sht3x sht(bus, 0x44, repeatability);
    const auto reading = sht.measure();
    FUZZ_CHECK(sht.last_status().has_value() == sht3x::Status::parse(status).has_value());
    if (!sht.last_status()) {
        FUZZ_CHECK(!reading);
        return;
    }
    FUZZ_CHECK(reading.has_value() == sht3x::Measurement::parse(measurement).has_value());
    if (reading)
        FUZZ_CHECK(reading->to_bytes() ==
                   (std::array<std::uint8_t, 6>{measurement[0], measurement[1], measurement[2], measurement[3],
                                                measurement[4], measurement[5]}));
}

std::uint16_t word_at(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<std::uint16_t>(data[at] << 8 | data[at + 1]);
}

bool crcs_hold(std::span<const std::uint8_t> frame) {
    for (std::size_t i = 0; i + 3 <= frame.size(); i += 3)
        if (core::sensirion_crc8(frame.subspan(i, 2)) != frame[i + 2]) return false;
    return true;
}

void scd4x_frames(std::span<const std::uint8_t> data) {
    if (data.size() < 9) return;
    const auto frame = data.first<9>();
    const std::array<std::uint8_t, 9> bytes{frame[0], frame[1], frame[2], frame[3], frame[4],
                                            frame[5], frame[6], frame[7], frame[8]};
    const bool good = crcs_hold(frame);
    const auto serial = scd4x::serial_number(frame);
    FUZZ_CHECK(serial.has_value() == good);
    if (serial) {
        FUZZ_CHECK(*serial < (std::uint64_t{1} << 48));
        FUZZ_CHECK(scd4x::serial_number_frame(*serial) == bytes);
    }
    const auto m = scd4x::Measurement::parse(frame);
    FUZZ_CHECK(m.has_value() == good);
    if (m) FUZZ_CHECK(m->to_bytes() == bytes);
}

void scd4x_driver(std::span<const std::uint8_t> data) {
    if (data.size() < 21) return;
    // The serial-number, data-ready and measurement replies, straight from the input.
    const auto serial_reply = data.first<9>();
    const auto ready_reply = data.subspan<9, 3>();
    const auto measurement_reply = data.subspan<12, 9>();
    hal::sim::CommandPart part(scd4x::kAddress, 2);
    part.answer(scd4x::command_frame(scd4x::kSerialNumber), serial_reply);
    part.answer(scd4x::command_frame(scd4x::kDataReady), ready_reply);
    part.answer(scd4x::command_frame(scd4x::kReadMeasurement), measurement_reply);
    const hal::I2cBus bus = hal::I2cBus::simulated({std::move(part)});
    scd4x::driver::Scd4x scd(bus);
    const auto reading = scd.measure();
    const auto serial = scd4x::serial_number(serial_reply);
    FUZZ_CHECK(scd.serial() == (serial ? std::optional(*serial) : std::nullopt));
    if (!serial) {
        FUZZ_CHECK(reading == std::unexpected(DriverError{SensorError::Checksum}));
        return;
    }
    const auto ready = sensirion::word(ready_reply);
    if (!ready) {
        FUZZ_CHECK(reading == std::unexpected(DriverError{SensorError::Checksum}));
    } else if (!scd4x::data_ready(*ready)) {
        FUZZ_CHECK(reading == std::unexpected(DriverError{Timeout{}}));
        FUZZ_CHECK(bus.waited_micros() == 501'000 + 60 * 101'000);
    } else {
        const auto expected = scd4x::Measurement::parse(measurement_reply);
        if (expected)
            FUZZ_CHECK(reading == *expected);
        else
            FUZZ_CHECK(reading == std::unexpected(DriverError{SensorError::Checksum}));
    }
}

void ti_registers(std::span<const std::uint8_t> data) {
    if (data.size() < 2) return;
    const std::uint16_t bits = word_at(data, 0);
    const auto hdc = hdc1080::Configuration::from_bits(bits);
    FUZZ_CHECK(hdc.has_value() == ((bits >> 8 & 3) != 3));
    // Bit 14 and the low byte are not fields.
    if (hdc) FUZZ_CHECK(hdc->bits() == (bits & 0xBF00));
    const auto tmp = tmp117::config_from_bits(bits);
    std::uint16_t defined = bits & 0xFFFE;
    if ((bits >> 10 & 3) == 2) defined &= 0xF3FF;  // the second code for continuous reads as the first
    FUZZ_CHECK(tmp117::config_bits(tmp) == defined);
    const auto raw = tmp117::temperature_from_bytes(data.first<2>());
    FUZZ_CHECK(tmp117::temperature_bytes(raw) == (std::array<std::uint8_t, 2>{data[0], data[1]}));
    FUZZ_CHECK(tmp117::raw_from_micro_celsius(tmp117::micro_celsius(raw)) == raw);
}

void hdc1080_driver(std::span<const std::uint8_t> data) {
    if (data.size() < 8) return;
    hal::sim::WordPart part(hdc1080::kAddress);
    part.set(0xFE, word_at(data, 0));
    part.set(0xFF, word_at(data, 2));
    part.set(0x00, word_at(data, 4));
    part.set(0x01, word_at(data, 6));
    const hal::I2cBus bus = hal::I2cBus::simulated({part});
    hdc1080::driver::Hdc1080 hdc(bus, hdc1080::Configuration{});
    const auto reading = hdc.measure();
    const bool ours = word_at(data, 0) == 0x5449 && word_at(data, 2) == 0x1050;
    FUZZ_CHECK(hdc.initialised() == ours);
    const std::uint16_t configured = bus.part(hdc1080::kAddress)->words()->word(0x02);
    if (!ours) {
        FUZZ_CHECK(reading == std::unexpected(DriverError{SensorError::Identification}));
        FUZZ_CHECK(configured == 0);
        return;
    }
    FUZZ_CHECK(configured == 0x1000);
    FUZZ_CHECK(reading == (hdc1080::Measurement{word_at(data, 4), word_at(data, 6)}));
    FUZZ_CHECK(bus.waited_micros() == 12'850);
}

void tmp117_driver(std::span<const std::uint8_t> data) {
    if (data.size() < 9) return;
    const std::uint16_t id = word_at(data, 0);
    const std::uint16_t unlock = word_at(data, 2);
    const std::uint16_t config = word_at(data, 4);
    const std::uint16_t temperature = word_at(data, 6);
    hal::sim::WordPart part(0x48);
    part.set(0x0F, id);
    part.set(0x04, unlock);
    part.set(0x01, config);
    part.mark_read_only(0x01, 0xF000);
    part.set(0x00, temperature);
    const hal::I2cBus bus = hal::I2cBus::simulated({part});
    tmp117::driver::Tmp117 tmp(bus, 0x48, data[8]);
    const auto reading = tmp.measure();
    if (tmp117::device_id(id) != tmp117::kDeviceId) {
        FUZZ_CHECK(reading == std::unexpected(DriverError{SensorError::Identification}));
        FUZZ_CHECK(!tmp.revision());
        return;
    }
    if (tmp117::eeprom_unlock_busy(unlock)) {
        FUZZ_CHECK(reading == std::unexpected(DriverError{Timeout{}}));
        FUZZ_CHECK(!tmp.revision());
        return;
    }
    FUZZ_CHECK(tmp.revision() == tmp117::revision(id));
    if (tmp117::data_ready(config))
        FUZZ_CHECK(reading == static_cast<std::int16_t>(temperature));
    else
        FUZZ_CHECK(reading == std::unexpected(DriverError{Timeout{}}));
    // The part's flags never clear here: every read shows them.
    const auto alerts = tmp.alerts();
    FUZZ_CHECK(alerts && alerts->high == tmp117::high_alert(config) && alerts->low == tmp117::low_alert(config));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    w1_slave(input);
    scratchpad(input);
    sensirion_frames(input);
    sht3x_driver(input);
    scd4x_frames(input);
    scd4x_driver(input);
    ti_registers(input);
    hdc1080_driver(input);
    tmp117_driver(input);
    return 0;
}
