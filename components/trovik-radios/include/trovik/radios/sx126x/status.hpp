#pragma once
// The SX126x status byte: the chip mode in bits 6:4 and the status of the
// last command in bits 3:1. Bits 7 and 0 carry nothing.
#include <cstdint>
#include <string>

namespace trovik::radios::sx126x {

struct ChipMode {
    enum class Kind : std::uint8_t { StandbyRc, StandbyXosc, Fs, Rx, Tx, Other };
    Kind kind = Kind::Other;
    std::uint8_t raw = 0;  // the 3-bit field

    friend bool operator==(ChipMode, ChipMode) noexcept = default;
};

struct CommandStatus {
    enum class Kind : std::uint8_t { DataAvailable, Timeout, ProcessingError, ExecutionFailure, TxDone, Other };
    Kind kind = Kind::Other;
    std::uint8_t raw = 0;  // the 3-bit field

    friend bool operator==(CommandStatus, CommandStatus) noexcept = default;
};

struct Status {
    ChipMode chip_mode;
    CommandStatus command_status;

    static Status decode(std::uint8_t byte) noexcept;

    friend bool operator==(Status, Status) noexcept = default;
};

// Debug forms, as error messages print them: "Rx", "Other(7)", and
// "Status { chip_mode: Rx, command_status: Other(0) }".
std::string debug(ChipMode mode);
std::string debug(CommandStatus status);
std::string debug(Status status);

}  // namespace trovik::radios::sx126x
