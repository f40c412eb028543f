#include "trovik/kit/transform.hpp"

namespace trovik::kit {

Transform Transform::identity() noexcept {
    Transform t;
    for (unsigned i = 0; i < 4; ++i)
        t.elements[5 * i] = 1.0f;
    return t;
}

Transform Transform::multiply(const Transform& other) const noexcept {
    Transform out;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out.elements[static_cast<unsigned>(4 * i + j)] =
                ((at(i, 0) * other.at(0, j) + at(i, 1) * other.at(1, j)) + at(i, 2) * other.at(2, j)) +
                at(i, 3) * other.at(3, j);
    return out;
}

}  // namespace trovik::kit
