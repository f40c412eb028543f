#pragma once
// Little-endian fields at byte offsets, as every MAVLink payload lays them out.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

namespace trovik::mavlink::wire {

template <class T>
    requires std::is_arithmetic_v<T>
T get(std::span<const std::uint8_t> p, std::size_t at) noexcept {
    using U = std::conditional_t<sizeof(T) == 1, std::uint8_t,
                                 std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                                    std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
    U u = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        u = static_cast<U>(u | static_cast<U>(p[at + i]) << (8 * i));
    return std::bit_cast<T>(u);
}

template <class T>
    requires std::is_arithmetic_v<T>
void put(std::span<std::uint8_t> p, std::size_t at, T value) noexcept {
    using U = std::conditional_t<sizeof(T) == 1, std::uint8_t,
                                 std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                                    std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
    const U u = std::bit_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        p[at + i] = static_cast<std::uint8_t>(u >> (8 * i));
}

}  // namespace trovik::mavlink::wire
