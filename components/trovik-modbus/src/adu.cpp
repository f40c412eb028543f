#include "trovik/modbus/adu.hpp"

#include <algorithm>

#include "trovik/modbus/crc.hpp"

namespace trovik::modbus {

std::expected<Adu, ModbusError> Adu::parse(std::span<const std::uint8_t> bytes) noexcept {
    if (bytes.size() < kMinLen) return std::unexpected(ModbusError::of(ModbusError::Kind::ShortFrame));
    if (bytes.size() > kMaxLen) return std::unexpected(ModbusError::of(ModbusError::Kind::LongFrame));
    const std::size_t body = bytes.size() - 2;
    const std::uint16_t computed = crc16(bytes.first(body));
    const auto carried = static_cast<std::uint16_t>(bytes[body] | bytes[body + 1] << 8);
    if (computed != carried) return std::unexpected(ModbusError::crc_mismatch(computed, carried));
    Adu adu;
    std::ranges::copy(bytes, adu.bytes_.begin());
    adu.len_ = bytes.size();
    return adu;
}

Adu Adu::frame(std::uint8_t unit, std::span<const std::uint8_t> pdu) noexcept {
    Adu adu;
    adu.bytes_[0] = unit;
    std::ranges::copy(pdu, adu.bytes_.begin() + 1);
    const std::size_t body = pdu.size() + 1;
    const std::uint16_t crc = crc16({adu.bytes_.data(), body});
    adu.bytes_[body] = static_cast<std::uint8_t>(crc);
    adu.bytes_[body + 1] = static_cast<std::uint8_t>(crc >> 8);
    adu.len_ = body + 2;
    return adu;
}

std::optional<Exception> Adu::exception() const noexcept {
    const auto p = pdu();
    if (p.size() < 2 || !(p[0] & function::kExceptionBit)) return std::nullopt;
    return exception_from_code(p[1]);
}

}  // namespace trovik::modbus
