// SLIP: the one-shot decoder and the streaming decoder on any bytes, fed whole,
// byte by byte and in chunks, and every frame they give encoded and read back.
// libFuzzer options: -max_len=8192
#include <cstddef>
#include <cstdint>
#include <span>

#include "framing_support.hpp"
#include "trovik/serial/slip.hpp"

namespace {

namespace slip = trovik::serial::slip;

struct Slip {
    using StreamDecoder = slip::StreamDecoder;
    static constexpr std::uint8_t kFrameEnd = slip::kEnd;
    static constexpr std::size_t kStreamCapacity = slip::kStreamCapacity;
    // END bytes in a row are skipped.
    static constexpr bool kEmptyFrames = false;
    static std::uint64_t max_encoded_len(std::size_t n) { return slip::max_encoded_len(n); }
    static auto encode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) { return slip::encode(in, out); }
    static auto decode(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) { return slip::decode(in, out); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return trovik::fuzz::check_framing<Slip>(data, size);
}
