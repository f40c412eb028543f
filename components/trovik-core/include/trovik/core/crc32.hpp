#pragma once
// The common CRC-32 of IEEE 802.3 (and zlib, PNG, Ethernet): reflected
// polynomial 0xEDB88320, register started at all ones and complemented at
// the end. Table-driven, one lookup per byte.
#include <array>
#include <cstdint>
#include <span>

namespace trovik::core {

namespace detail {
constexpr std::array<std::uint32_t, 256> crc32_table() noexcept {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) != 0 ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        t[i] = r;
    }
    return t;
}
inline constexpr std::array<std::uint32_t, 256> kCrc32Table = crc32_table();
}  // namespace detail

// A CRC-32 computed over data given in pieces; `value` is the checksum of
// everything given so far.
class Crc32 {
public:
    constexpr Crc32& update(std::span<const std::uint8_t> data) noexcept {
        for (const std::uint8_t b : data)
            register_ = (register_ >> 8) ^ detail::kCrc32Table[(register_ ^ b) & 0xFF];
        return *this;
    }
    constexpr std::uint32_t value() const noexcept { return ~register_; }

private:
    std::uint32_t register_ = 0xFFFFFFFF;
};

constexpr std::uint32_t crc32(std::span<const std::uint8_t> data) noexcept { return Crc32{}.update(data).value(); }

}  // namespace trovik::core
