// The simulated PCA9685 under any run of transactions, against a plain model
// of the datasheet's register rules written here independently of it; the
// driver against that part: what it loads reads back (less the bits the part
// does not keep), and a channel read changes nothing. Channel settings read
// back through their four bytes.
// libFuzzer options: -max_len=512
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/actuators/pca9685.hpp"
#include "trovik/hal/bus.hpp"

using namespace trovik;
using namespace trovik::actuators::pca9685;

namespace {

// The datasheet's rules, one register at a time.
struct Model {
    std::array<std::uint8_t, 256> r{};
    std::uint8_t pointer = 0;

    Model() {
        r[0] = 0x11;
        r[1] = 0x04;
        r[2] = 0xE2, r[3] = 0xE4, r[4] = 0xE8, r[5] = 0xE0;
        for (int n = 0; n < 16; ++n)
            r[9 + 4 * n] = 0x10;
        r[0xFE] = 0x1E;
    }
    bool running() const {
        for (int n = 0; n < 16; ++n)
            if (!(r[9 + 4 * n] & 0x10)) return true;
        return false;
    }
    void clear_restart_after(int kind) {
        if (kind == 3 || !(r[1] & 0x08)) r[0] &= 0x7F;
    }
    void write(std::uint8_t reg, std::uint8_t v) {
        if (reg == 0) {
            const std::uint8_t old = r[0];
            std::uint8_t restart = old & 0x80;
            if (v & 0x80)
                restart = 0;
            else if (!(old & 0x10) && (v & 0x10) && running())
                restart = 0x80;
            r[0] = static_cast<std::uint8_t>((v & 0x7F) | (old & 0x40) | restart);
        } else if (reg == 1) {
            r[1] = v & 0x1F;
        } else if (reg <= 5) {
            r[reg] = v & 0xFE;
        } else if (reg <= 0x45) {
            const int kind = (reg - 6) % 4;
            r[reg] = kind % 2 ? v & 0x1F : v;
            clear_restart_after(kind);
        } else if (reg >= 0xFA && reg <= 0xFD) {
            const int kind = reg - 0xFA;
            for (int n = 0; n < 16; ++n)
                r[6 + 4 * n + kind] = kind % 2 ? v & 0x1F : v;
            clear_restart_after(kind);
        } else if (reg == 0xFE && (r[0] & 0x10)) {
            r[0xFE] = v < 3 ? 3 : v;
        }
    }
    std::uint8_t read(std::uint8_t reg) const { return reg >= 0xFA && reg <= 0xFD ? 0 : r[reg]; }
    void advance() {
        if (!(r[0] & 0x20)) return;
        pointer = pointer == 0x45 || pointer == 0xFE ? 0 : static_cast<std::uint8_t>(pointer + 1);
    }
};

struct Input {
    std::span<const std::uint8_t> data;
    std::size_t at = 0;
    bool more() const { return at < data.size(); }
    std::uint8_t byte() { return at < data.size() ? data[at++] : 0; }
};

void against_model(Input& in) {
    const hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x40)});
    Model model;
    bool pointed = false;
    for (int op = 0; in.more() && op < 64; ++op) {
        const std::uint8_t head = in.byte();
        const std::size_t length = head & 0x0F;
        if (head & 0x80) {
            std::vector<std::uint8_t> got(length);
            const bool done = bus.read(0x40, got).has_value();
            FUZZ_CHECK(done == pointed);
            if (!done) continue;
            for (std::uint8_t& b : got) {
                FUZZ_CHECK(b == model.read(model.pointer));
                model.advance();
            }
        } else {
            std::vector<std::uint8_t> bytes;
            for (std::size_t i = 0; i <= length; ++i)
                bytes.push_back(in.byte());
            FUZZ_CHECK(bus.write(0x40, bytes));
            model.pointer = bytes[0];
            pointed = true;
            for (std::size_t i = 1; i < bytes.size(); ++i) {
                model.write(model.pointer, bytes[i]);
                model.advance();
            }
        }
        const auto registers = bus.part(0x40)->bytes()->registers;
        FUZZ_CHECK(std::ranges::equal(registers, model.r));
        FUZZ_CHECK(registers[0xFE] >= 3 && registers[1] <= 0x1F);
    }
}

void driven(Input& in) {
    const hal::I2cBus bus = hal::I2cBus::simulated({sim::part(0x40)});
    driver::Pca9685 pca(bus, 0x40, {.frequency_hz = static_cast<std::uint32_t>(in.byte() << 8 | in.byte())});
    for (int op = 0; in.more() && op < 32; ++op) {
        const std::uint8_t what = in.byte();
        const std::uint8_t channel = in.byte() & 0x1F;
        const std::array<std::uint8_t, 4> bytes{in.byte(), in.byte(), in.byte(), in.byte()};
        const Pwm pwm = Pwm::from_bytes(bytes);
        FUZZ_CHECK(pwm.to_bytes() == bytes);
        // What the part keeps of a setting: the count and its flag.
        const Pwm kept{static_cast<std::uint16_t>(pwm.on & 0x1FFF), static_cast<std::uint16_t>(pwm.off & 0x1FFF)};
        switch (what % 5) {
            case 0: {
                const auto done = pca.set_channel(channel, pwm);
                FUZZ_CHECK(done.has_value() == (channel < 16));
                if (done) FUZZ_CHECK(pca.channel(channel) == kept);
                break;
            }
            case 1:
                FUZZ_CHECK(pca.set_all(pwm));
                FUZZ_CHECK(pca.channel(channel & 0x0F) == kept);
                break;
            case 2: FUZZ_CHECK(pca.sleep()); break;
            case 3: FUZZ_CHECK(pca.wake()); break;
            default: {
                const auto before = bus.part(0x40)->bytes()->registers;
                const auto read = pca.channel(channel);
                FUZZ_CHECK(read.has_value() == (channel < 16));
                FUZZ_CHECK(bus.part(0x40)->bytes()->registers == before);
            }
        }
        const auto r = bus.part(0x40)->bytes()->registers;
        if (pca.initialised()) FUZZ_CHECK(r[0xFE] == pca.prescale());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{std::span(data, size)};
    if (in.byte() & 1)
        against_model(in);
    else
        driven(in);
    return 0;
}
