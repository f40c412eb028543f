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
#include "trovik/radios/sx127x/driver.hpp"
#include "trovik/radios/sx127x/error.hpp"

namespace trovik::radios {

class RadioError {
public:
    enum class Kind : std::uint8_t { Sx126x, Sx127x, Register };

    RadioError(sx126x::Error error) noexcept : error_(error) {}  // NOLINT: implicit on purpose
    RadioError(sx127x::Error error) noexcept : error_(error) {}  // NOLINT: implicit on purpose
    // A register address past the end of a chip's register map.
    static RadioError no_register(std::uint16_t address) noexcept { return RadioError(address); }

    Kind kind() const noexcept { return static_cast<Kind>(error_.index()); }
    // The inner failure; only for the kind that holds it.
    const sx126x::Error& sx126x() const noexcept { return std::get<sx126x::Error>(error_); }
    const sx127x::Error& sx127x() const noexcept { return std::get<sx127x::Error>(error_); }
    std::uint16_t address() const noexcept { return kind() == Kind::Register ? std::get<std::uint16_t>(error_) : 0; }

    // The inner failure's message, unchanged.
    std::string message() const;

    friend bool operator==(const RadioError&, const RadioError&) = default;

private:
    explicit RadioError(std::uint16_t address) noexcept : error_(address) {}

    // In the order of `Kind`.
    std::variant<sx126x::Error, sx127x::Error, std::uint16_t> error_;
};

class Radio {
public:
    explicit Radio(sx126x::Driver driver) noexcept : chip_(std::move(driver)) {}
    explicit Radio(sx127x::Driver driver) noexcept : chip_(std::move(driver)) {}

    Family family() const noexcept;

    // Resets the chip and runs its start-up, as opening a module does.
    std::expected<void, RadioError> start();

    // An SX127x takes the amplifier settings of `output_dbm` for its output
    // and calibrates per band, without the band edges.
    std::expected<void, RadioError> configure(const RadioConfig& config);
    std::expected<std::uint64_t, RadioError> transmit(std::span<const std::uint8_t> payload);
    std::expected<RxOutcome, RadioError> receive(std::span<std::uint8_t> buffer, std::uint64_t timeout_us);
    std::expected<void, RadioError> listen();
    std::expected<std::optional<RxOutcome>, RadioError> take_frame(std::span<std::uint8_t> buffer);
    // An SX127x ignores `symbols` and listens for one CAD period.
    std::expected<bool, RadioError> detect(std::uint8_t symbols);
    std::expected<std::uint32_t, RadioError> random();
    std::expected<void, RadioError> standby();
    std::expected<void, RadioError> sleep();

    // One register, at a 16-bit address on the SX126x and at 0x00 to 0x7F on
    // the SX127x.
    std::expected<std::uint8_t, RadioError> read_register(std::uint16_t address);
    std::expected<void, RadioError> write_register(std::uint16_t address, std::uint8_t value);

private:
    std::variant<sx126x::Driver, sx127x::Driver> chip_;
};

}  // namespace trovik::radios
