#pragma once
// Sensors without a device: one that invents plausible readings, and one that
// reads back a recorded series.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <vector>

#include "trovik/core/error.hpp"

namespace trovik::sim {

// The seed used when none is given.
inline constexpr std::uint32_t default_seed = 0x9E3779B9u;

// A baseline that drifts by a fixed step per reading, plus bounded noise from
// a seeded xorshift generator, so two sensors made alike read alike.
class SimulatedSensor {
public:
    // The noise counts by its magnitude (NaN stays NaN, and makes every
    // reading NaN); a seed of 0, which xorshift never leaves, becomes 1.
    explicit SimulatedSensor(float baseline, float drift_per_read = 0.0f, float noise = 0.0f,
                             std::optional<std::uint32_t> seed = std::nullopt) noexcept;

    // The next reading: the level plus noise within +-noise; the level then
    // moves by the drift.
    float read() noexcept;

private:
    float level_;
    float drift_per_read_;
    float noise_;
    std::uint32_t rng_;
};

// A recorded series read back in order, once or over and over.
class Replay {
public:
    explicit Replay(std::vector<float> readings, bool repeating = false) noexcept
        : readings_(std::move(readings)), repeating_(repeating) {}

    // The next recorded reading; once a series that does not repeat has run
    // out (or an empty one is read), "resource is closed" on every read.
    std::expected<float, core::Error> read();

private:
    std::vector<float> readings_;
    std::size_t position_ = 0;
    bool repeating_;
};

}  // namespace trovik::sim
