#include "trovik/hal/address.hpp"

namespace trovik::hal::address {
namespace {

bool in_range(std::uint16_t address, bool ten_bit) noexcept { return address <= (ten_bit ? 0x3FF : 0x7F); }

}  // namespace

std::expected<Frame, OutOfRange> frame(std::uint16_t address, bool ten_bit, bool read) noexcept {
    if (!in_range(address, ten_bit)) return std::unexpected(OutOfRange{});
    const std::uint8_t rw = read ? 1 : 0;
    if (!ten_bit) return Frame{{static_cast<std::uint8_t>(address << 1 | rw), 0}, 1};
    return Frame{{static_cast<std::uint8_t>(0xF0 | ((address >> 7) & 0x06) | rw), static_cast<std::uint8_t>(address)},
                 2};
}

std::expected<std::size_t, OutOfRange> frame_len(std::uint16_t address, bool ten_bit) noexcept {
    if (!in_range(address, ten_bit)) return std::unexpected(OutOfRange{});
    return ten_bit ? 2 : 1;
}

std::expected<bool, OutOfRange> is_reserved(std::uint16_t address, bool ten_bit) noexcept {
    if (!in_range(address, ten_bit)) return std::unexpected(OutOfRange{});
    return !ten_bit && (address < kReservedBelow || address >= kReservedFrom);
}

std::expected<bool, OutOfRange> is_general_call(std::uint16_t address, bool ten_bit) noexcept {
    if (!in_range(address, ten_bit)) return std::unexpected(OutOfRange{});
    return !ten_bit && address == 0;
}

}  // namespace trovik::hal::address
