// The simulated SX127x: any sequence of register runs is absorbed without a
// fault. In LoRa standby a plain register reads back what was written and
// the FIFO reads back its bytes; RegVersion always reads 0x12; every sent
// frame fits a LoRa frame; frames heard are taken off the air one at a time;
// the tuning read from the registers is always a link the arithmetic takes.
// libFuzzer options: -max_len=4096
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ranges>
#include <span>
#include <vector>

#include "chip_steps.hpp"
#include "support.hpp"
#include "trovik/radios/hal.hpp"
#include "trovik/radios/sim/chip.hpp"

using namespace trovik::radios;
using namespace trovik::radios::fuzzing;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes read(hal::SpiDevice& spi, std::uint8_t address, std::size_t n) {
    const std::uint8_t header[] = {address};
    Bytes out(n, 0xEE);
    hal::SpiOperation ops[] = {hal::SpiOperation::write(header), hal::SpiOperation::read(out)};
    FUZZ_CHECK(spi.transaction(ops).has_value());
    return out;
}

void write(hal::SpiDevice& spi, const Bytes& bytes) {
    hal::SpiOperation ops[] = {hal::SpiOperation::write(bytes)};
    FUZZ_CHECK(spi.transaction(ops).has_value());
}

// Registers whose reads or writes do more than store: the FIFO, RegOpMode,
// RegIrqFlags, RegRssiValue, RegRssiWideband, RegVersion.
bool plain(std::uint8_t address) {
    return address != 0x00 && address != 0x01 && address != 0x12 && address != 0x1B && address != 0x2C &&
           address != 0x42;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);
    const sim::Chip chip = sim::Chip::sx127x(size % 2 == 0, size % 3 == 0);
    auto spi = chip.spi();
    auto reset = chip.output_line();
    AirCounts counts;

    // Each step: a control byte, a length byte, then that many bytes.
    while (input.size() >= 2) {
        const std::uint8_t control = input[0];
        const std::size_t length = std::min<std::size_t>(input[1], input.size() - 2);
        const Bytes bytes(input.begin() + 2, input.begin() + 2 + static_cast<std::ptrdiff_t>(length));
        input = input.subspan(2 + length);
        if (shared_step(control, bytes, chip, *spi, *reset, counts)) {
            check_after_step(chip, counts);
            continue;
        }
        switch (control % 8) {
            case 0: write(*spi, bytes); break;  // any run, any mode, the write bit or not
            case 1: {
                const Bytes answer = read(*spi, bytes.empty() ? 0 : bytes[0], control >> 3);
                FUZZ_CHECK(answer.size() == static_cast<std::size_t>(control >> 3));
                break;
            }
            case 2: FUZZ_CHECK(read(*spi, 0x42, 1)[0] == 0x12); break;
            case 5: {
                // In LoRa standby a plain register run and the FIFO read back what was written.
                if (bytes.size() < 2) break;
                write(*spi, {0x81, 0x89});
                const auto address = static_cast<std::uint8_t>(bytes[0] & 0x7F);
                const std::size_t n = std::min<std::size_t>(bytes.size() - 1, 0x80 - address);
                const Bytes values(bytes.begin() + 1, bytes.begin() + 1 + static_cast<std::ptrdiff_t>(n));
                if (std::ranges::all_of(std::views::iota(std::size_t{0}, n),
                                        [&](std::size_t i) { return plain(static_cast<std::uint8_t>(address + i)); })) {
                    Bytes run{static_cast<std::uint8_t>(address | 0x80)};
                    run.insert(run.end(), values.begin(), values.end());
                    write(*spi, run);
                    FUZZ_CHECK(read(*spi, address, n) == values);
                }
                write(*spi, {0x81, 0x89});  // the run may have left standby through no register of its own
                write(*spi, {0x8D, bytes[0]});
                Bytes fifo{0x80};
                fifo.insert(fifo.end(), bytes.begin() + 1, bytes.end());
                write(*spi, fifo);
                write(*spi, {0x8D, bytes[0]});
                FUZZ_CHECK(read(*spi, 0x00, bytes.size() - 1) == Bytes(bytes.begin() + 1, bytes.end()));
                break;
            }
        }
        check_after_step(chip, counts);
        FUZZ_CHECK(chip.tuning().frequency_hz <= 1024000000u);
    }
    return 0;
}
