#include "trovik/kit/drivers.hpp"

namespace trovik::kit {

namespace {

// steps[previous][new], states written A·2 + B.
constexpr std::int8_t steps[4][4] = {
    {0, +1, -1, 0},
    {-1, 0, 0, +1},
    {+1, 0, 0, -1},
    {0, -1, +1, 0},
};

}  // namespace

int Quadrature::update(bool a, bool b) noexcept {
    std::uint8_t now = state_of(a, b);
    int step = steps[state_][now];
    state_ = now;
    count_ += step;
    return step;
}

}  // namespace trovik::kit
