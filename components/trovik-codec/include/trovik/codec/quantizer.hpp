#pragma once
// Float readings packed to a fixed precision for a metered link: each reading
// is scaled, rounded to an integer and the integers are delta-coded.
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "trovik/core/error.hpp"
#include "trovik/core/message.hpp"

namespace trovik::codec {

// Why a scale was refused at construction:
// "a quantizer's scale must be a positive, finite number, not {}".
struct BadScale {
    std::string message;
};

class Quantizer {
public:
    // Holds `scale` as given; encode and decode refuse one that is not
    // positive and finite.
    explicit constexpr Quantizer(float scale) noexcept : scale_(scale) {}

    // The quantizer for a scale given as a double: it must exceed 2^-150 and
    // round to a finite 32-bit float (possibly subnormal, never 0). The
    // refusal shows the value as given, in plain decimal without an exponent
    // ("0", "-2.5", "NaN", "inf").
    static std::expected<Quantizer, BadScale> from_double(double scale);

    float scale() const noexcept { return scale_; }

    // The delta batch of round(reading × scale) for each reading, in 32-bit
    // arithmetic with halves away from zero. Fails with Codec on the first
    // reading that is NaN or infinite ("reading {} is {}, which cannot be
    // quantized") or whose scaled value is not below 9.2e18 in magnitude
    // ("reading {} is {}, too large for a scale of {}").
    std::expected<core::Bytes, core::Error> encode(std::span<const float> readings) const;

    // Each sample of the batch as the nearest 32-bit float, divided by the scale
    // in 32-bit arithmetic.
    std::expected<std::vector<float>, core::Error> decode(std::span<const std::uint8_t> batch) const;

private:
    std::expected<void, core::Error> check_scale() const;

    float scale_;
};

}  // namespace trovik::codec
