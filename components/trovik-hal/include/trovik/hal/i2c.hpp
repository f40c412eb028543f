#pragma once
// What a driver speaks to an I2C bus in: transactions of writes and reads to
// one 7-bit address, carried out with a repeated start between them, and the
// ways a transfer can fail on the wire.
//
//     std::uint8_t reg = 0x00;
//     std::array<std::uint8_t, 2> word{};
//     const Operation ops[] = {Operation::write({&reg, 1}), Operation::read(word)};
//     bus.transaction(0x48, ops);  // a register read: pointer, repeated start, two bytes
//
// Operations borrow their bytes; the caller keeps them alive for the call.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace trovik::hal {

class Operation {
public:
    // Sends `bytes`.
    static constexpr Operation write(std::span<const std::uint8_t> bytes) noexcept {
        return Operation(bytes.data(), bytes.size(), false);
    }
    // Receives exactly `buffer.size()` bytes into `buffer`.
    static constexpr Operation read(std::span<std::uint8_t> buffer) noexcept {
        return Operation(buffer.data(), buffer.size(), true);
    }

    constexpr bool is_read() const noexcept { return read_; }
    constexpr std::size_t size() const noexcept { return size_; }
    // The bytes a write sends, or what a read's buffer holds now.
    constexpr std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }
    // The buffer a read fills; empty for a write.
    std::span<std::uint8_t> buffer() const noexcept {
        // A read was made from a mutable span, so its bytes may be written.
        return read_ ? std::span<std::uint8_t>(const_cast<std::uint8_t*>(data_), size_) : std::span<std::uint8_t>();
    }

private:
    constexpr Operation(const std::uint8_t* data, std::size_t size, bool read) noexcept
        : data_(data), size_(size), read_(read) {}
    const std::uint8_t* data_;
    std::size_t size_;
    bool read_;
};

// The ways a transfer fails on the wire, as I2C controllers report them.
enum class I2cFault : std::uint8_t {
    NoAcknowledgeAddress,
    NoAcknowledgeData,
    NoAcknowledge,  // the controller cannot tell which
    Bus,
    ArbitrationLoss,
    Overrun,
    Other,
};

// "The device did not acknowledge its address", ...
std::string_view fault_text(I2cFault fault) noexcept;
// How a fault is written inside a step: "NoAcknowledge(Address)", "Bus", ...
std::string_view fault_rendering(I2cFault fault) noexcept;
// The name Python code uses for a fault: "NoAcknowledgeAddress", "Bus", ...
std::string_view fault_name(I2cFault fault) noexcept;
// The fault `name` names exactly, case included.
std::optional<I2cFault> fault_named(std::string_view name) noexcept;

}  // namespace trovik::hal
