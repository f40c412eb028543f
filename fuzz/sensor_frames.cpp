// The DS18B20 w1_slave text and scratchpad and the Sensirion word frames.
// Any text the reader accepts is written back by the writer into a text it
// reads as the same scratchpad; a scratchpad read from bytes is rebuilt into
// bytes that read the same; a Sensirion frame reads only when its CRC holds,
// and rebuilds into the same bytes. The SHT3x driver reads a part whose
// replies are the input, and a reading must be exactly the reply's words.
// libFuzzer options: -max_len=256
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "support.hpp"
#include "trovik/core/crc8.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/ds18b20.hpp"
#include "trovik/sensors/sensirion.hpp"
#include "trovik/sensors/sht3x.hpp"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    w1_slave(input);
    scratchpad(input);
    sensirion_frames(input);
    sht3x_driver(input);
    return 0;
}
