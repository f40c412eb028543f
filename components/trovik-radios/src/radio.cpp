#include "trovik/radios/radio.hpp"

#include <type_traits>

#include "trovik/core/text.hpp"

namespace trovik::radios {

namespace {

// Runs `op` on the driver, turning its failure into a `RadioError`.
template <class Op>
auto on_driver(std::variant<sx126x::Driver>& chip, Op op) {
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
    switch (kind_) {
        case Kind::Sx126x: return sx126x_.message();
        case Kind::Register:
            return "the SX127x has no register at " + core::text::hex_prefixed(address_, 6) + "; its map ends at 0x7F";
    }
    return "";
}

Family Radio::family() const noexcept { return Family::Sx126x; }

std::expected<void, RadioError> Radio::start() {
    return on_driver(chip_, [](auto& d) { return d.start(); });
}
std::expected<void, RadioError> Radio::configure(const RadioConfig& config) {
    return on_driver(chip_, [&](auto& d) { return d.configure(config); });
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
    return on_driver(chip_, [&](auto& d) { return d.detect(symbols); });
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
    return on_driver(chip_, [&](auto& d) -> std::expected<std::uint8_t, sx126x::Error> {
        std::uint8_t value[1];
        if (auto r = d.read_registers(address, value); !r) return std::unexpected(r.error());
        return value[0];
    });
}
std::expected<void, RadioError> Radio::write_register(std::uint16_t address, std::uint8_t value) {
    return on_driver(chip_, [&](auto& d) {
        const std::uint8_t values[] = {value};
        return d.write_registers(address, values);
    });
}

}  // namespace trovik::radios
