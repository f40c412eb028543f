#pragma once
// A 4x4 homogeneous transform in 32-bit floats, row-major.
#include <array>

namespace trovik::kit {

struct Transform {
    // Element index 4*row + column. The upper-left 3x3 block rotates; elements
    // 3, 7 and 11 translate; the kit's transforms keep the last row 0, 0, 0, 1.
    std::array<float, 16> elements{};

    static Transform identity() noexcept;

    // self x other: the transform that applies `other` first, then this one.
    // Each element sums its four products left to right, so a NaN anywhere
    // spreads along its row and column exactly as the arithmetic says.
    Transform multiply(const Transform& other) const noexcept;

    float at(int row, int column) const noexcept { return elements[static_cast<unsigned>(4 * row + column)]; }

    friend bool operator==(const Transform&, const Transform&) = default;
};

}  // namespace trovik::kit
