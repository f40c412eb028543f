#pragma once
// Data length codes: the four bits a frame carries for its length. Codes 0
// to 8 are the length itself; CAN FD spends 9 to 15 on its longer lengths.
#include <array>
#include <cstdint>

namespace trovik::can {

inline constexpr std::uint64_t kClassicMaxLen = 8;
inline constexpr std::uint64_t kFdMaxLen = 64;

// The length each code stands for, by code.
inline constexpr std::array<std::uint8_t, 16> kDlcLengths{0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};

// The code that holds `len` bytes: a length between two CAN FD lengths gets
// the code of the larger, and anything past 48 gets 15.
constexpr std::uint8_t len_to_dlc(std::uint64_t len) noexcept {
    std::uint8_t dlc = 0;
    while (dlc < 15 && kDlcLengths[dlc] < len)
        ++dlc;
    return dlc;
}

// The length a code stands for; only the low four bits of `dlc` count.
constexpr std::uint8_t dlc_to_len(std::uint8_t dlc) noexcept { return kDlcLengths[dlc & 0x0F]; }

// Whether a CAN FD frame can carry exactly `len` bytes.
constexpr bool is_fd_len(std::uint64_t len) noexcept { return len <= kFdMaxLen && kDlcLengths[len_to_dlc(len)] == len; }

}  // namespace trovik::can
