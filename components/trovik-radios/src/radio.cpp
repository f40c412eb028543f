#include "trovik/radios/radio.hpp"

#include <type_traits>

#include "trovik/core/text.hpp"

namespace trovik::radios {

namespace {

template <class Driver>
constexpr bool is_sx127x = std::is_same_v<std::decay_t<Driver>, sx127x::Driver>;

// Runs `op` on the driver, turning its failure into a `RadioError`. `op`
// takes either driver; where the two differ it tells them apart by type.
template <class Op>
auto on_driver(std::variant<sx126x::Driver, sx127x::Driver>& chip, Op op) {
    return std::visit(
        [&](auto& driver) {
            auto result = op(driver);
            using Value = typename decltype(result)::value_type;
            using Out = std::expected<Value, RadioError>;
            if (!result) return Out(std::unexpect, result.error());
            if constexpr (std::is_void_v<Value>)
                return Out();
            else
                return Out(std::move(*result));
        },
        chip);
}

}  // namespace

std::string RadioError::message() const {
    switch (kind()) {
        case Kind::Sx126x: return sx126x().message();
        case Kind::Sx127x: return sx127x().message();
        case Kind::Register:
            return "the SX127x has no register at " + core::text::hex_prefixed(address(), 6) + "; its map ends at 0x7F";
    }
    return "";
}

Family Radio::family() const noexcept {
    return std::holds_alternative<sx127x::Driver>(chip_) ? Family::Sx127x : Family::Sx126x;
}

std::expected<void, RadioError> Radio::start() {
    return on_driver(chip_, [](auto& d) { return d.start(); });
}
std::expected<void, RadioError> Radio::configure(const RadioConfig& config) {
    return on_driver(chip_, [&](auto& d) {
        if constexpr (is_sx127x<decltype(d)>) {
            sx127x::Config c;
            c.frequency_hz = config.frequency_hz;
            c.power = sx127x::TxPower::make(d.board().output, config.output_dbm);
            c.link = config.link;
            c.sync_word = config.sync_word;
            c.invert_iq_transmit = config.invert_iq_transmit;
            c.invert_iq_receive = config.invert_iq_receive;
            return d.configure(c);
        } else {
            return d.configure(config);
        }
    });
}
std::expected<std::uint64_t, RadioError> Radio::transmit(std::span<const std::uint8_t> payload) {
    return on_driver(chip_, [&](auto& d) { return d.transmit(payload); });
}
std::expected<RxOutcome, RadioError> Radio::receive(std::span<std::uint8_t> buffer, std::uint64_t timeout_us) {
    return on_driver(chip_, [&](auto& d) { return d.receive(buffer, timeout_us); });
}
std::expected<void, RadioError> Radio::listen() {
    return on_driver(chip_, [](auto& d) { return d.listen(); });
}
std::expected<std::optional<RxOutcome>, RadioError> Radio::take_frame(std::span<std::uint8_t> buffer) {
    return on_driver(chip_, [&](auto& d) { return d.take_frame(buffer); });
}
std::expected<bool, RadioError> Radio::detect(std::uint8_t symbols) {
    return on_driver(chip_, [&](auto& d) {
        if constexpr (is_sx127x<decltype(d)>)
            return d.detect();
        else
            return d.detect(symbols);
    });
}
std::expected<std::uint32_t, RadioError> Radio::random() {
    return on_driver(chip_, [](auto& d) { return d.random(); });
}
std::expected<void, RadioError> Radio::standby() {
    return on_driver(chip_, [](auto& d) { return d.standby(); });
}
std::expected<void, RadioError> Radio::sleep() {
    return on_driver(chip_, [](auto& d) { return d.sleep(); });
}
std::expected<std::uint8_t, RadioError> Radio::read_register(std::uint16_t address) {
    // The SX127x's map ends at 0x7F: bit 7 of its address byte is the write flag.
    if (family() == Family::Sx127x && address > 0x7F) return std::unexpected(RadioError::no_register(address));
    return on_driver(chip_, [&](auto& d) {
        std::uint8_t value[1] = {};
        auto read = [&] {
            if constexpr (is_sx127x<decltype(d)>)
                return d.read_registers(static_cast<std::uint8_t>(address), value);
            else
                return d.read_registers(address, value);
        }();
        using Out = std::expected<std::uint8_t, typename decltype(read)::error_type>;
        return read ? Out(value[0]) : Out(std::unexpect, read.error());
    });
}

std::expected<void, RadioError> Radio::write_register(std::uint16_t address, std::uint8_t value) {
    if (family() == Family::Sx127x && address > 0x7F) return std::unexpected(RadioError::no_register(address));
    return on_driver(chip_, [&](auto& d) {
        const std::uint8_t values[] = {value};
        if constexpr (is_sx127x<decltype(d)>)
            return d.write_registers(static_cast<std::uint8_t>(address), values);
        else
            return d.write_registers(address, values);
    });
}

}  // namespace trovik::radios
