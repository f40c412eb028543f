#include "trovik/codec/quantizer.hpp"

#include <cmath>
#include <string>

#include "trovik/codec/delta.hpp"
#include "trovik/core/number_text.hpp"

namespace trovik::codec {
namespace {

using core::number_text::display;

constexpr const char* bad_scale_prefix = "a quantizer's scale must be a positive, finite number, not ";

// 2^-150 rounds to zero as a float (a tie, to even); anything above it reaches the smallest subnormal.
constexpr double smallest_scale_exclusive = 0x1p-150;

// The largest magnitude a scaled reading may reach: the float nearest 9.2e18
// (9200000267938955264), a margin under 2^63 so the conversion to a signed
// 64-bit sample is exact and in range.
constexpr float sample_limit = 9.2e18f;

}  // namespace

std::expected<Quantizer, BadScale> Quantizer::from_double(double scale) {
    // Written so NaN fails the comparison.
    if (!(scale > smallest_scale_exclusive)) return std::unexpected(BadScale{bad_scale_prefix + display(scale)});
    const auto narrowed = static_cast<float>(scale);
    if (!std::isfinite(narrowed)) return std::unexpected(BadScale{bad_scale_prefix + display(scale)});
    return Quantizer(narrowed);
}

std::expected<void, core::Error> Quantizer::check_scale() const {
    if (!(scale_ > 0.0f) || !std::isfinite(scale_))
        return std::unexpected(core::Error::codec(bad_scale_prefix + display(scale_)));
    return {};
}

std::expected<core::Bytes, core::Error> Quantizer::encode(std::span<const float> readings) const {
    if (auto ok = check_scale(); !ok) return std::unexpected(ok.error());
    std::vector<std::int64_t> samples;
    samples.reserve(readings.size());
    for (std::size_t i = 0; i < readings.size(); ++i) {
        const float reading = readings[i];
        if (!std::isfinite(reading))
            return std::unexpected(core::Error::codec("reading " + std::to_string(i) + " is " + display(reading) +
                                                      ", which cannot be quantized"));
        const float scaled = reading * scale_;
        const float rounded = std::round(scaled);
        if (!std::isfinite(rounded) || std::fabs(rounded) >= sample_limit)
            return std::unexpected(core::Error::codec("reading " + std::to_string(i) + " is " + display(reading) +
                                                      ", too large for a scale of " + display(scale_)));
        samples.push_back(static_cast<std::int64_t>(rounded));
    }
    return encode_deltas(samples);
}

std::expected<std::vector<float>, core::Error> Quantizer::decode(std::span<const std::uint8_t> batch) const {
    if (auto ok = check_scale(); !ok) return std::unexpected(ok.error());
    auto samples = decode_deltas(batch);
    if (!samples) return std::unexpected(samples.error());
    std::vector<float> readings;
    readings.reserve(samples->size());
    for (const std::int64_t sample : *samples)
        readings.push_back(static_cast<float>(sample) / scale_);
    return readings;
}

}  // namespace trovik::codec
