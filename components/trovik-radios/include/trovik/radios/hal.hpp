#pragma once
// The hardware a radio driver talks to, as small interfaces of our own: an
// SPI device that runs one transaction at a time under chip select, digital
// lines in and out, and a delay provider. A Linux board implements them over
// spidev and the GPIO character device, the simulated chips over a model;
// the drivers see no difference.
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

namespace trovik::radios::hal {

// Why an SPI transaction failed, as the SPI controller reports it.
enum class SpiErrorKind : std::uint8_t { Overrun, ModeFault, FrameFormat, ChipSelectFault, Other };
// Why a digital line could not be read or driven.
enum class PinErrorKind : std::uint8_t { Other };

// The kind's name as messages print it ("Overrun", "Other", ...).
std::string_view name(SpiErrorKind kind) noexcept;
std::string_view name(PinErrorKind kind) noexcept;

// One step of an SPI transaction. The spans are borrowed for the call.
struct SpiOperation {
    enum class Kind : std::uint8_t {
        Read,             // clock in `in.size()` bytes; what goes out meanwhile means nothing
        Write,            // clock out `out`
        Transfer,         // clock out `out` while clocking in `in`
        TransferInPlace,  // clock out `in`, overwriting it with what comes back
        Pause,            // wait `pause_ns` with chip select held
    };
    Kind kind = Kind::Write;
    std::span<std::uint8_t> in;
    std::span<const std::uint8_t> out;
    std::uint32_t pause_ns = 0;

    static SpiOperation read(std::span<std::uint8_t> into) noexcept { return {Kind::Read, into, {}, 0}; }
    static SpiOperation write(std::span<const std::uint8_t> bytes) noexcept { return {Kind::Write, {}, bytes, 0}; }
    static SpiOperation transfer(std::span<std::uint8_t> into, std::span<const std::uint8_t> bytes) noexcept {
        return {Kind::Transfer, into, bytes, 0};
    }
    static SpiOperation transfer_in_place(std::span<std::uint8_t> bytes) noexcept {
        return {Kind::TransferInPlace, bytes, {}, 0};
    }
    static SpiOperation pause(std::uint32_t ns) noexcept { return {Kind::Pause, {}, {}, ns}; }
};

class SpiDevice {
public:
    virtual ~SpiDevice() = default;
    // Runs the operations in order with chip select held low from the first
    // to the last.
    virtual std::expected<void, SpiErrorKind> transaction(std::span<SpiOperation> operations) = 0;
};

class OutputPin {
public:
    virtual ~OutputPin() = default;
    virtual std::expected<void, PinErrorKind> set_low() = 0;
    virtual std::expected<void, PinErrorKind> set_high() = 0;
};

class InputPin {
public:
    virtual ~InputPin() = default;
    virtual std::expected<bool, PinErrorKind> is_high() = 0;
    std::expected<bool, PinErrorKind> is_low() {
        const auto high = is_high();
        if (!high) return std::unexpected(high.error());
        return !*high;
    }
};

class Delay {
public:
    virtual ~Delay() = default;
    virtual void delay_ns(std::uint32_t ns) = 0;
    virtual void delay_us(std::uint32_t us) = 0;
};

}  // namespace trovik::radios::hal
