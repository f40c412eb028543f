#pragma once
// Why an SX126x operation failed, with the message each failure reads as.
#include <cstddef>
#include <cstdint>
#include <string>

#include "trovik/radios/hal.hpp"
#include "trovik/radios/sx126x/status.hpp"

namespace trovik::radios::sx126x {

struct Error {
    enum class Kind : std::uint8_t {
        Spi,                // an SPI transaction failed
        Pin,                // reading BUSY or driving NRESET failed
        Busy,               // BUSY stayed high past the time allowed
        NoChip,             // start-up read a chip mode other than STDBY_RC
        Bandwidth,          // the link's bandwidth is none of the ten
        Llcc68Limit,        // the LLCC68 lacks this spreading factor at this bandwidth
        Frequency,          // a carrier whose frequency word does not fit 32 bits
        AmplifierMismatch,  // power settings built for the other amplifier
        PayloadTooLong,     // more than 255 bytes to send
        BufferTooSmall,     // an answer or a frame longer than the caller's buffer
        NotConfigured,      // an operation that needs a configuration, without one
        TxTimeout,          // the chip's own transmit timeout fired
        NoInterrupt,        // the driver's deadline passed with no interrupt
    };

    Kind kind;
    hal::SpiErrorKind spi = hal::SpiErrorKind::Other;
    hal::PinErrorKind pin = hal::PinErrorKind::Other;
    Status status{};
    std::uint32_t bandwidth_hz = 0;
    std::uint32_t frequency_hz = 0;
    std::uint8_t spreading_factor = 0;
    std::size_t length = 0;

    static Error of(Kind kind) noexcept { return Error{kind}; }
    static Error spi_failed(hal::SpiErrorKind k) noexcept { return {.kind = Kind::Spi, .spi = k}; }
    static Error pin_failed(hal::PinErrorKind k) noexcept { return {.kind = Kind::Pin, .pin = k}; }
    static Error no_chip(Status s) noexcept { return {.kind = Kind::NoChip, .status = s}; }
    static Error bandwidth(std::uint32_t hz) noexcept { return {.kind = Kind::Bandwidth, .bandwidth_hz = hz}; }
    static Error llcc68_limit(std::uint8_t sf, std::uint32_t hz) noexcept {
        return {.kind = Kind::Llcc68Limit, .bandwidth_hz = hz, .spreading_factor = sf};
    }
    static Error frequency(std::uint32_t hz) noexcept { return {.kind = Kind::Frequency, .frequency_hz = hz}; }
    static Error payload_too_long(std::size_t n) noexcept { return {.kind = Kind::PayloadTooLong, .length = n}; }
    static Error buffer_too_small(std::size_t n) noexcept { return {.kind = Kind::BufferTooSmall, .length = n}; }

    std::string message() const;

    friend bool operator==(const Error&, const Error&) = default;
};

}  // namespace trovik::radios::sx126x
