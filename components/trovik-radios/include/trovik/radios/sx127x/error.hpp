#pragma once
// Why an SX127x operation failed, with the message each failure reads as.
#include <cstddef>
#include <cstdint>
#include <string>

#include "trovik/radios/hal.hpp"

namespace trovik::radios::sx127x {

struct Error {
    enum class Kind : std::uint8_t {
        Spi,                // an SPI transaction failed
        Pin,                // driving NRESET failed
        NoChip,             // RegVersion read something other than 0x12
        Bandwidth,          // a bandwidth the chip lacks, or lacks at this carrier
        SpreadingFactor,    // below SF6
        Sf6Header,          // SF6 with an explicit header
        Frequency,          // a carrier whose frequency word does not fit 24 bits
        AmplifierMismatch,  // power settings built for the other amplifier output
        PayloadLength,      // a frame of 0 or more than 255 bytes to send
        BufferTooSmall,     // a received frame longer than the caller's buffer
        NotConfigured,      // an operation that needs a configuration, without one
        Calibration,        // the image calibration kept running
        NoInterrupt,        // the driver's deadline passed with no interrupt
    };

    Kind kind;
    hal::SpiErrorKind spi = hal::SpiErrorKind::Other;
    hal::PinErrorKind pin = hal::PinErrorKind::Other;
    std::uint32_t value = 0;  // the version byte, bandwidth, spreading factor or frequency
    std::size_t length = 0;

    static Error of(Kind kind) noexcept { return Error{kind}; }
    static Error spi_failed(hal::SpiErrorKind k) noexcept { return {.kind = Kind::Spi, .spi = k}; }
    static Error pin_failed(hal::PinErrorKind k) noexcept { return {.kind = Kind::Pin, .pin = k}; }
    static Error no_chip(std::uint8_t version) noexcept { return {.kind = Kind::NoChip, .value = version}; }
    static Error bandwidth(std::uint32_t hz) noexcept { return {.kind = Kind::Bandwidth, .value = hz}; }
    static Error spreading_factor(std::uint8_t sf) noexcept { return {.kind = Kind::SpreadingFactor, .value = sf}; }
    static Error frequency(std::uint32_t hz) noexcept { return {.kind = Kind::Frequency, .value = hz}; }
    static Error payload_length(std::size_t n) noexcept { return {.kind = Kind::PayloadLength, .length = n}; }
    static Error buffer_too_small(std::size_t n) noexcept { return {.kind = Kind::BufferTooSmall, .length = n}; }

    std::string message() const;

    friend bool operator==(const Error&, const Error&) = default;
};

}  // namespace trovik::radios::sx127x
