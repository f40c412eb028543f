#include "trovik/sim/sensor.hpp"

#include "trovik/kit/pose.hpp"

namespace trovik::sim {

namespace {
// 2^-32: maps the generator's 32 bits onto [0, 1].
constexpr float unit_scale = 2.3283064e-10f;
}  // namespace

SimulatedSensor::SimulatedSensor(float baseline, float drift_per_read, float noise,
                                 std::optional<std::uint32_t> seed) noexcept
    : level_(baseline),
      drift_per_read_(drift_per_read),
      noise_(kit::magnitude(noise)),
      rng_(seed.value_or(default_seed)) {
    if (rng_ == 0) rng_ = 1;
}

float SimulatedSensor::read() noexcept {
    float n = 0.0f;
    if (noise_ != 0.0f) {  // NaN noise draws too, and spreads
        std::uint32_t x = rng_;
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        rng_ = x;
        // The conversion rounds, so u can reach exactly 1.
        float u = static_cast<float>(x) * unit_scale;
        n = noise_ * ((u + u) - 1.0f);
    }
    float reading = level_ + n;
    level_ = drift_per_read_ + level_;
    return reading;
}

std::expected<float, core::Error> Replay::read() {
    if (position_ >= readings_.size()) {
        // Left where it is, so every later read fails the same way.
        if (readings_.empty() || !repeating_) return std::unexpected(core::Error::closed());
        position_ = 0;
    }
    return readings_[position_++];
}

}  // namespace trovik::sim
