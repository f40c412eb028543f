// COBS: the one-shot decoder and the streaming decoder on any bytes, fed whole,
// byte by byte and in chunks, and every frame they give encoded and read back.
// libFuzzer options: -max_len=8192
#include <cstddef>
#include <cstdint>
#include <span>

#include "framing_support.hpp"
#include "trovik/serial/cobs.hpp"

namespace {

namespace cobs = trovik::serial::cobs;

struct Cobs {
    using StreamDecoder = cobs::StreamDecoder;
    static constexpr std::uint8_t kFrameEnd = cobs::kDelimiter;
    static constexpr std::size_t kStreamCapacity = cobs::kStreamCapacity;
    // Every delimiter that is no error ends a frame, an empty one too.
    static constexpr bool kEmptyFrames = true;
    static std::uint64_t max_encoded_len(std::size_t n) { return cobs::max_encoded_len(n); }
    static auto encode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) { return cobs::encode(in, out); }
    static auto decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) { return cobs::decode(in, out); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return trovik::fuzz::check_framing<Cobs>(data, size);
}
