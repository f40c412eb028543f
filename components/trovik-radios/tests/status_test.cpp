#include <doctest/doctest.h>

#include <cstdint>
#include <string>

#include "trovik/radios/sx126x/status.hpp"

using namespace trovik::radios::sx126x;

TEST_CASE("the status byte: mode in bits 6:4, command status in bits 3:1, the rest ignored") {
    struct Case {
        std::uint8_t byte;
        const char* debug;
    };
    const Case cases[] = {
        {0x00, "Status { chip_mode: Other(0), command_status: Other(0) }"},
        {0x22, "Status { chip_mode: StandbyRc, command_status: Other(1) }"},
        {0x24, "Status { chip_mode: StandbyRc, command_status: DataAvailable }"},
        {0x26, "Status { chip_mode: StandbyRc, command_status: Timeout }"},
        {0x2C, "Status { chip_mode: StandbyRc, command_status: TxDone }"},
        {0x38, "Status { chip_mode: StandbyXosc, command_status: ProcessingError }"},
        {0x4A, "Status { chip_mode: Fs, command_status: ExecutionFailure }"},
        {0x54, "Status { chip_mode: Rx, command_status: DataAvailable }"},
        {0x6C, "Status { chip_mode: Tx, command_status: TxDone }"},
        {0x7E, "Status { chip_mode: Other(7), command_status: Other(7) }"},
        {0x0E, "Status { chip_mode: Other(0), command_status: Other(7) }"},
        // Bits 7 and 0 change nothing.
        {0xA5, "Status { chip_mode: StandbyRc, command_status: DataAvailable }"},
        {0xFF, "Status { chip_mode: Other(7), command_status: Other(7) }"},
        {0x1F, "Status { chip_mode: Other(1), command_status: Other(7) }"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.byte);
        CHECK(debug(Status::decode(c.byte)) == c.debug);
    }
    CHECK(Status::decode(0x24) == Status::decode(0xA5));
    CHECK(Status::decode(0x54).chip_mode.kind == ChipMode::Kind::Rx);
    CHECK(Status::decode(0x74).chip_mode == ChipMode{ChipMode::Kind::Other, 7});
}
