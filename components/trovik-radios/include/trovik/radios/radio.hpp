#pragma once
// The one radio the rest of the system sees: a chip driver behind one set of
// operations, and one error type whose messages are the ones callers read.
// No locks: the caller gives each operation exclusive use of the radio.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "trovik/radios/radio_config.hpp"
#include "trovik/radios/sx126x/driver.hpp"
#include "trovik/radios/sx126x/error.hpp"

namespace trovik::radios {

class RadioError {
public:
    enum class Kind : std::uint8_t { Sx126x, Register };

    RadioError(sx126x::Error error) noexcept : kind_(Kind::Sx126x), sx126x_(error) {}  // NOLINT: implicit on purpose
    // A register address past the end of a chip's register map.
    static RadioError no_register(std::uint16_t address) noexcept { return RadioError(address); }

    Kind kind() const noexcept { return kind_; }
    const sx126x::Error& sx126x() const noexcept { return sx126x_; }
    std::uint16_t address() const noexcept { return address_; }

    // The inner failure's message, unchanged.
    std::string message() const;

    friend bool operator==(const RadioError&, const RadioError&) = default;

private:
    explicit RadioError(std::uint16_t address) noexcept
        : kind_(Kind::Register), sx126x_(sx126x::Error::of(sx126x::Error::Kind::Spi)), address_(address) {}

    Kind kind_;
    sx126x::Error sx126x_;
    std::uint16_t address_ = 0;
};

class Radio {
public:
    explicit Radio(sx126x::Driver driver) noexcept : chip_(std::move(driver)) {}

    Family family() const noexcept;

    // Resets the chip and runs its start-up, as opening a module does.
    std::expected<void, RadioError> start();

    std::expected<void, RadioError> configure(const RadioConfig& config);
    std::expected<std::uint64_t, RadioError> transmit(std::span<const std::uint8_t> payload);
    std::expected<RxOutcome, RadioError> receive(std::span<std::uint8_t> buffer, std::uint64_t timeout_us);
    std::expected<void, RadioError> listen();
    std::expected<std::optional<RxOutcome>, RadioError> take_frame(std::span<std::uint8_t> buffer);
    std::expected<bool, RadioError> detect(std::uint8_t symbols);
    std::expected<std::uint32_t, RadioError> random();
    std::expected<void, RadioError> standby();
    std::expected<void, RadioError> sleep();

    // One register, at a 16-bit address on the SX126x.
    std::expected<std::uint8_t, RadioError> read_register(std::uint16_t address);
    std::expected<void, RadioError> write_register(std::uint16_t address, std::uint8_t value);

private:
    std::variant<sx126x::Driver> chip_;
};

}  // namespace trovik::radios
