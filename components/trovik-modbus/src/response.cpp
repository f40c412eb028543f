#include "trovik/modbus/response.hpp"

namespace trovik::modbus {

std::vector<bool> Coils::to_vector() const {
    std::vector<bool> out(count_);
    for (std::size_t k = 0; k < count_; ++k)
        out[k] = (*this)[k];
    return out;
}

std::vector<std::uint16_t> Registers::to_vector() const {
    std::vector<std::uint16_t> out(size());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = (*this)[i];
    return out;
}

namespace response {
namespace {

std::unexpected<ModbusError> malformed() {
    return std::unexpected(ModbusError::of(ModbusError::Kind::MalformedResponse));
}

}  // namespace

std::expected<Coils, ModbusError> coils(std::span<const std::uint8_t> pdu, std::size_t count) noexcept {
    // Computed wide, so a count above 2040 never matches a one-byte count.
    if (pdu.size() < 2 || pdu[1] != pdu.size() - 2 || pdu[1] != (count + 7) / 8) return malformed();
    return Coils(pdu.subspan(2), count);
}

std::expected<Registers, ModbusError> registers(std::span<const std::uint8_t> pdu) noexcept {
    if (pdu.size() < 2 || pdu[1] != pdu.size() - 2 || pdu[1] % 2 != 0) return malformed();
    return Registers(pdu.subspan(2));
}

}  // namespace response
}  // namespace trovik::modbus
