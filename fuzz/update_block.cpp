// Update blocks: splitting any bytes, and framing the parts back into the
// same block.
// libFuzzer options: -max_len=1024
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/update/block.hpp"

using namespace trovik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const auto parts = update::block::split(input);
    if (!parts) {
        const bool header = size >= 6 && std::ranges::equal(input.first(4), fuzz::as_bytes("TKU1"));
        FUZZ_CHECK(parts.error() == (header ? update::UpdateError::SizeMismatch : update::UpdateError::Malformed));
        if (header) FUZZ_CHECK(size - 6 < (input[4] | std::size_t{input[5]} << 8));
        return 0;
    }
    FUZZ_CHECK(parts->envelope.data() == data + 6);
    FUZZ_CHECK(parts->envelope.size() + parts->image.size() + 6 == size);
    std::vector<std::uint8_t> out(update::block::block_size(parts->envelope, parts->image));
    FUZZ_CHECK(update::block::frame(parts->envelope, parts->image, out) == size);
    FUZZ_CHECK(std::ranges::equal(out, input));
    // One byte short of room frames nothing.
    std::vector<std::uint8_t> small(size - 1);
    FUZZ_CHECK(update::block::frame(parts->envelope, parts->image, small) ==
               std::unexpected(update::UpdateError::SizeMismatch));
    return 0;
}
