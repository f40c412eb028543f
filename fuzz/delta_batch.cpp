// Delta-coded sample batches: any batch that decodes re-encodes, at most as
// long, to a batch of the same samples; any series of samples round-trips;
// the quantizer reads a batch exactly when the batch decodes.
// libFuzzer options: -max_len=2048
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/codec/delta.hpp"
#include "trovik/codec/quantizer.hpp"

using namespace trovik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);

    const auto samples = codec::decode_deltas(input);
    const auto readings = codec::Quantizer(1.0f).decode(input);
    FUZZ_CHECK(samples.has_value() == readings.has_value());
    if (samples) {
        const auto batch = codec::encode_deltas(*samples);
        FUZZ_CHECK(batch.size() <= size);  // shortest varints, never longer than what was read
        const auto back = codec::decode_deltas(batch);
        FUZZ_CHECK(back.has_value() && *back == *samples);
        FUZZ_CHECK(readings->size() == samples->size());
    } else {
        FUZZ_CHECK(samples.error().kind() == core::Error::Kind::Codec);
        FUZZ_CHECK(readings.error() == samples.error());
    }

    // The input as a series of samples.
    std::vector<std::int64_t> series(size / sizeof(std::int64_t));
    if (!series.empty()) std::memcpy(series.data(), data, series.size() * sizeof(std::int64_t));
    const auto back = codec::decode_deltas(codec::encode_deltas(series));
    FUZZ_CHECK(back.has_value() && *back == series);

    // The input as float readings at scale 1: each comes back rounded, halves away from zero.
    std::vector<float> floats(size / sizeof(float));
    if (!floats.empty()) std::memcpy(floats.data(), data, floats.size() * sizeof(float));
    const codec::Quantizer unit(1.0f);
    if (const auto packed = unit.encode(floats)) {
        const auto unpacked = unit.decode(*packed);
        FUZZ_CHECK(unpacked.has_value() && unpacked->size() == floats.size());
        for (std::size_t i = 0; i < floats.size(); ++i)
            FUZZ_CHECK((*unpacked)[i] == std::round(floats[i]));
    }
    return 0;
}
