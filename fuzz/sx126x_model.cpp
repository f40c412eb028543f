// The simulated SX126x: any sequence of SPI transactions is absorbed without
// a fault. What goes into the buffer or a register reads back unchanged,
// every status byte has bits 7 and 0 clear, every sent frame fits a LoRa
// frame, and frames heard are taken off the air one at a time.
// libFuzzer options: -max_len=4096
#include <algorithm>
#include <cstddef>
#include <cstdint>
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

Bytes query(hal::SpiDevice& spi, const Bytes& command, std::size_t answer_len) {
    Bytes answer(answer_len, 0xEE);
    hal::SpiOperation ops[] = {hal::SpiOperation::write(command), hal::SpiOperation::read(answer)};
    FUZZ_CHECK(spi.transaction(ops).has_value());
    return answer;
}

void command(hal::SpiDevice& spi, const Bytes& bytes) {
    hal::SpiOperation ops[] = {hal::SpiOperation::write(bytes)};
    FUZZ_CHECK(spi.transaction(ops).has_value());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);
    const sim::Chip chip = sim::Chip::sx126x({});
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
            case 0: command(*spi, bytes); break;
            case 1: {
                // A query: the bytes, then an answer as long as the next byte says.
                const Bytes answer = query(*spi, bytes, control >> 3);
                FUZZ_CHECK(answer.size() == static_cast<std::size_t>(control >> 3));
                break;
            }
            case 2: {
                const std::uint8_t status = query(*spi, {0xC0}, 1)[0];
                FUZZ_CHECK((status & 0x81) == 0);
                break;
            }
            case 5: {
                // The buffer and the registers outside the noise window read back what was written.
                if (bytes.size() < 2) break;
                Bytes write{0x0E, bytes[0]};
                write.insert(write.end(), bytes.begin() + 1, bytes.end());
                command(*spi, write);
                FUZZ_CHECK(query(*spi, {0x1E, bytes[0], 0x00}, bytes.size() - 1) ==
                           Bytes(bytes.begin() + 1, bytes.end()));
                const std::uint16_t address = static_cast<std::uint16_t>(0x0900 + bytes[0]);
                Bytes reg{0x0D, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
                reg.insert(reg.end(), bytes.begin() + 1, bytes.end());
                command(*spi, reg);
                FUZZ_CHECK(query(*spi, {0x1D, reg[1], reg[2], 0x00}, bytes.size() - 1) ==
                           Bytes(bytes.begin() + 1, bytes.end()));
                break;
            }
        }
        check_after_step(chip, counts);
    }
    return 0;
}
