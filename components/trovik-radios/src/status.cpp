#include "trovik/radios/sx126x/status.hpp"

namespace trovik::radios::sx126x {

namespace {

ChipMode mode_of(std::uint8_t raw) noexcept {
    using K = ChipMode::Kind;
    switch (raw) {
        case 2: return {K::StandbyRc, raw};
        case 3: return {K::StandbyXosc, raw};
        case 4: return {K::Fs, raw};
        case 5: return {K::Rx, raw};
        case 6: return {K::Tx, raw};
        default: return {K::Other, raw};
    }
}

CommandStatus command_status_of(std::uint8_t raw) noexcept {
    using K = CommandStatus::Kind;
    switch (raw) {
        case 2: return {K::DataAvailable, raw};
        case 3: return {K::Timeout, raw};
        case 4: return {K::ProcessingError, raw};
        case 5: return {K::ExecutionFailure, raw};
        case 6: return {K::TxDone, raw};
        default: return {K::Other, raw};
    }
}

std::string other(std::uint8_t raw) { return "Other(" + std::to_string(raw) + ")"; }

}  // namespace

Status Status::decode(std::uint8_t byte) noexcept {
    return {mode_of(static_cast<std::uint8_t>((byte >> 4) & 0x07)),
            command_status_of(static_cast<std::uint8_t>((byte >> 1) & 0x07))};
}

std::string debug(ChipMode mode) {
    switch (mode.kind) {
        case ChipMode::Kind::StandbyRc: return "StandbyRc";
        case ChipMode::Kind::StandbyXosc: return "StandbyXosc";
        case ChipMode::Kind::Fs: return "Fs";
        case ChipMode::Kind::Rx: return "Rx";
        case ChipMode::Kind::Tx: return "Tx";
        case ChipMode::Kind::Other: break;
    }
    return other(mode.raw);
}

std::string debug(CommandStatus status) {
    switch (status.kind) {
        case CommandStatus::Kind::DataAvailable: return "DataAvailable";
        case CommandStatus::Kind::Timeout: return "Timeout";
        case CommandStatus::Kind::ProcessingError: return "ProcessingError";
        case CommandStatus::Kind::ExecutionFailure: return "ExecutionFailure";
        case CommandStatus::Kind::TxDone: return "TxDone";
        case CommandStatus::Kind::Other: break;
    }
    return other(status.raw);
}

std::string debug(Status status) {
    return "Status { chip_mode: " + debug(status.chip_mode) + ", command_status: " + debug(status.command_status) +
           " }";
}

}  // namespace trovik::radios::sx126x
