// The Bosch BME280 and BMP280: compensation of any burst against any
// calibration stays within its clamps and never overflows (the sanitizers
// watch every product), trimming bytes and bursts read back through their
// inverses, the register codecs read back the codes the part uses, and both
// drivers against a part whose registers are the input return exactly the
// compensation of the burst those registers hold.
// libFuzzer options: -max_len=320
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "support.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/bme280.hpp"
#include "trovik/sensors/bmp280.hpp"

using namespace trovik;
using namespace trovik::sensors;

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> take(std::span<const std::uint8_t> data, std::size_t& at) {
    std::array<std::uint8_t, N> out{};
    for (auto& b : out)
        b = at < data.size() ? data[at++] : 0;
    return out;
}

void codecs(std::uint8_t bits) {
    const auto ctrl = bosch::ctrl_meas_from_bits(bits);
    FUZZ_CHECK(bosch::ctrl_meas_from_bits(bosch::ctrl_meas_bits(ctrl)) == ctrl);
    FUZZ_CHECK(ctrl.temperature <= 5 && ctrl.pressure <= 5 && ctrl.mode != 2);
    const auto bme = bme280::config_from_bits(bits);
    FUZZ_CHECK(bme280::config_from_bits(bme280::config_bits(bme)) == bme);
    FUZZ_CHECK(bmp280::config_bits(bmp280::config_from_bits(bits)) == (bits & 0xFD));
    FUZZ_CHECK(bme280::ctrl_hum_from_bits(bme280::ctrl_hum_bits(bits)) == bme280::ctrl_hum_bits(bits));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    std::size_t at = 0;
    const auto block = take<bme280::kCalibrationBytes>(input, at);
    const auto humidity = take<bme280::kHumidityCalibrationBytes>(input, at);
    const auto burst = take<bme280::kBurstBytes>(input, at);
    const auto settings = take<4>(input, at);
    codecs(settings[0]);

    const auto bme = bme280::Calibration::from_blocks(block, humidity);
    const bme280::Raw raw = bme280::raw_from_burst(burst);
    FUZZ_CHECK(bme280::raw_from_burst(bme280::burst_from_raw(raw)) == raw);
    const bme280::Measurement m = bme.compensate(raw);
    FUZZ_CHECK(m.temperature >= -4000 && m.temperature <= 8500);
    FUZZ_CHECK(m.pressure >= 3'000'000 && m.pressure <= 11'000'000);
    FUZZ_CHECK(m.humidity <= 102'400);

    const std::span<const std::uint8_t, bmp280::kCalibrationBytes> trimming(block.data(), bmp280::kCalibrationBytes);
    const auto bmp = bmp280::Calibration::from_bytes(trimming);
    FUZZ_CHECK(std::ranges::equal(bmp.to_bytes(), trimming));
    const std::span<const std::uint8_t, bmp280::kBurstBytes> short_burst(burst.data(), bmp280::kBurstBytes);
    (void)bmp.compensate(bmp280::raw_from_burst(short_burst));

    // The rest of the input is the part's register file.
    std::array<std::uint8_t, 256> registers{};
    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(std::min(at, size)),
                std::min<std::size_t>(size - std::min(at, size), 256), registers.begin());
    const bool bme_part = (settings[1] & 1) != 0;
    registers[bosch::ChipId] = bme_part ? bme280::kChipId : bmp280::kChipId;
    hal::I2cBus bus = hal::I2cBus::simulated({hal::sim::I2cPart(0x76).holding(0, registers)});
    if (bme_part) {
        bme280::driver::Bme280 sensor(bus, 0x76, settings[2], settings[3], settings[2] >> 4, settings[3] >> 4);
        const auto got = sensor.measure();
        if (got) {
            const auto cal = *sensor.calibration();
            std::array<std::uint8_t, bme280::kBurstBytes> held{};
            std::copy_n(bus.part(0x76)->bytes()->registers.begin() + bosch::Data, held.size(), held.begin());
            FUZZ_CHECK(*got == cal.compensate(bme280::raw_from_burst(held)));
        }
    } else {
        bmp280::driver::Bmp280 sensor(bus, 0x76, settings[2], settings[3], settings[2] >> 4);
        const auto got = sensor.measure();
        if (got) {
            std::array<std::uint8_t, bmp280::kBurstBytes> held{};
            std::copy_n(bus.part(0x76)->bytes()->registers.begin() + bosch::Data, held.size(), held.begin());
            FUZZ_CHECK(*got == sensor.calibration()->compensate(bmp280::raw_from_burst(held)));
        }
    }
    return 0;
}
