// The TI sensor register codecs and drivers: every configuration and flag
// register parsed from the input assembles back to itself (up to the bits the
// part ignores), the OPT3001 result encoding reads back within one step, and
// the four drivers run against simulated parts whose registers are the input,
// where a reading must be exactly the registers it came from.
// libFuzzer options: -max_len=64
#include <cstddef>
#include <cstdint>
#include <span>

#include "support.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/ads1115.hpp"
#include "trovik/sensors/ina219.hpp"
#include "trovik/sensors/ina226.hpp"
#include "trovik/sensors/opt3001.hpp"

using namespace trovik;
using namespace trovik::sensors;

namespace {

class Input {
public:
    explicit Input(std::span<const std::uint8_t> data) : data_(data) {}
    std::uint8_t byte() { return at_ < data_.size() ? data_[at_++] : 0; }
    std::uint16_t word() { return static_cast<std::uint16_t>(byte() << 8 | byte()); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(word()) << 16 | word(); }

private:
    std::span<const std::uint8_t> data_;
    std::size_t at_ = 0;
};

void codecs(std::uint16_t w, std::uint32_t m) {
    const ina219::Configuration c219 = ina219::Configuration::from_bits(w);
    FUZZ_CHECK(ina219::Configuration::from_bits(c219.bits()) == c219);
    FUZZ_CHECK(ina219::config_bits(ina219::config_from_bits(w)) == c219.bits());
    FUZZ_CHECK((c219.bits() & 0xC000) == (w & 0x8000));

    const ina226::Config c226 = ina226::config_from_register(w);
    FUZZ_CHECK(ina226::config_from_register(ina226::config_to_register(c226)) == c226);
    FUZZ_CHECK(ina226::MaskEnable::from_register(w).to_register() == (w & 0xFC1F));

    const ads1115::Config cads = ads1115::config_from_bits(w);
    const std::uint16_t gain = (w & 0x0E00) > 0x0A00 ? 0x0A00 : (w & 0x0E00);
    FUZZ_CHECK(ads1115::config_bits(cads) == ((w & ~0x0E00) | gain));

    const opt3001::Config copt = opt3001::config_from_bits(w);
    const std::uint16_t mode = (w & 0x0600) == 0x0600 ? 0x0400 : (w & 0x0600);
    FUZZ_CHECK(opt3001::config_bits(copt) == ((w & ~0x07E0) | mode));

    if ((w >> 12) <= 11)  // a value exactly representable reads back unchanged
        FUZZ_CHECK(opt3001::milli_lux(opt3001::raw_from_milli_lux(opt3001::milli_lux(w))) == opt3001::milli_lux(w));
    const std::uint16_t raw = opt3001::raw_from_milli_lux(m);
    if (m < 83'886'080) {
        FUZZ_CHECK(opt3001::milli_lux(raw) <= m);
        FUZZ_CHECK(m - opt3001::milli_lux(raw) < (10u << (raw >> 12)));
    } else {
        FUZZ_CHECK(raw == 0xBFFF);
    }
}

hal::sim::WordPart part_from(Input& in, std::uint8_t address, std::span<const std::uint8_t> registers) {
    hal::sim::WordPart part(address);
    for (std::uint8_t r : registers) {
        part.set(r, in.word());
        part.mark_read_only(r, in.word());
    }
    return part;
}

void drivers(Input& in) {
    const std::uint8_t regs219[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05};
    const std::uint8_t regs226[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFE, 0xFF};
    const std::uint8_t regs_ads[] = {0x00, 0x01};
    const std::uint8_t regs_opt[] = {0x00, 0x01, 0x7E, 0x7F};
    hal::I2cBus bus = hal::I2cBus::simulated({part_from(in, 0x40, regs219), part_from(in, 0x41, regs226),
                                              part_from(in, 0x48, regs_ads), part_from(in, 0x44, regs_opt)});
    const auto word = [&](std::uint8_t address, std::uint8_t reg) { return bus.part(address)->words()->word(reg); };

    ina219::driver::Ina219 a(bus, 0x40, in.u32(), in.u32(), ina219::Configuration::from_bits(in.word()));
    if (auto r = a.measure()) {
        FUZZ_CHECK(static_cast<std::uint16_t>(r->shunt) == word(0x40, 0x01));
        FUZZ_CHECK(static_cast<std::uint16_t>(r->current) == word(0x40, 0x04));
        FUZZ_CHECK(r->power == word(0x40, 0x03));
        FUZZ_CHECK(ina219::conversion_ready(r->bus));
    }
    ina226::driver::Ina226 b(bus, 0x41, in.u32(), in.u32(), ina226::config_from_register(in.word()));
    if (auto r = b.measure()) {
        FUZZ_CHECK(b.identity().has_value());
        FUZZ_CHECK(r->bus == word(0x41, 0x02));
        FUZZ_CHECK(r->math_overflow == ((word(0x41, 0x06) & 0x4) != 0));
    }
    ads1115::driver::Ads1115 c(bus, 0x48, in.byte(), in.byte(), in.byte());
    if (auto r = c.sample_input(in.byte())) FUZZ_CHECK(static_cast<std::uint16_t>(r->raw) == word(0x48, 0x00));
    FUZZ_CHECK(!c.initialised());
    opt3001::driver::Opt3001 d(bus, 0x44, (in.byte() & 1) != 0, in.byte());
    if (auto r = d.measure()) FUZZ_CHECK(*r == word(0x44, 0x00));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in({data, size});
    const std::uint16_t w = in.word();
    codecs(w, in.u32());
    drivers(in);
    return 0;
}
