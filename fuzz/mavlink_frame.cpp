// MAVLink frames: reading one frame from bytes against a seed, and building
// the frame again from what was read. The first input byte is the seed.
// libFuzzer options: -max_len=300
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/mavlink/crc.hpp"
#include "trovik/mavlink/frame.hpp"

using namespace trovik::mavlink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t seed = data[0];
    const std::span<const std::uint8_t> input(data + 1, size - 1);
    const auto frame = Frame::parse(input, seed);

    // A lookup that gives the same seed reads the same frame, or refuses the same way.
    const auto looked_up = Frame::parse_with(input, [seed](std::uint32_t) { return std::optional(seed); });
    if (!frame) {
        FUZZ_CHECK(!looked_up && looked_up.error() == frame.error());
        FUZZ_CHECK(!frame.error().message().empty());
        return 0;
    }
    FUZZ_CHECK(looked_up && std::ranges::equal(looked_up->as_bytes(), frame->as_bytes()));

    const auto bytes = frame->as_bytes();
    FUZZ_CHECK(std::ranges::equal(bytes, input.first(bytes.size())));
    FUZZ_CHECK(bytes.size() <= kMaxFrameLen);
    FUZZ_CHECK(Frame::needed_len(input) == bytes.size());
    const std::size_t header_len = frame->is_v2() ? kHeaderLenV2 : kHeaderLenV1;
    FUZZ_CHECK(checksum(bytes.subspan(1, header_len - 1 + frame->payload_len()), seed) ==
               (bytes[header_len + frame->payload_len()] | bytes[header_len + frame->payload_len() + 1] << 8));
    FUZZ_CHECK(frame->signature().size() == (frame->is_signed() ? kSignatureLen : 0));

    // Rebuilt from its fields. A sender may leave trailing zeros on a v2
    // payload that our assembler trims; what it builds then reads back with
    // the payload trimmed.
    if (!frame->is_v2()) {
        const auto again = Frame::encode_v1(frame->header(), frame->message_id(), frame->payload(), seed);
        FUZZ_CHECK(again && std::ranges::equal(again->as_bytes(), bytes));
        return 0;
    }
    const auto again =
        Frame::assemble_v2(frame->header(), frame->message_id(), frame->payload(), seed, frame->incompat_flags());
    FUZZ_CHECK(again.has_value());
    const std::size_t trimmed = trimmed_len(frame->payload());
    FUZZ_CHECK(std::ranges::equal(again->payload(), frame->payload().first(trimmed)));
    FUZZ_CHECK(again->header() == frame->header() && again->message_id() == frame->message_id());
    FUZZ_CHECK(again->is_signed() == frame->is_signed());
    if (trimmed == frame->payload_len()) {
        // The same bytes up to the signature block, which the assembler leaves
        // zero. The compatibility flags are never checked and written as 0, and
        // the checksum covers them.
        if (frame->signed_part()[3] == 0) {
            FUZZ_CHECK(std::ranges::equal(again->signed_part(), frame->signed_part()));
        } else {
            auto expected = std::vector(frame->signed_part().begin(), frame->signed_part().end() - 2);
            expected[3] = 0;
            FUZZ_CHECK(std::ranges::equal(again->signed_part().first(expected.size()), expected));
        }
        FUZZ_CHECK(std::ranges::all_of(again->signature(), [](std::uint8_t b) { return b == 0; }));
    }
    const auto reread = Frame::parse(again->as_bytes(), seed);
    FUZZ_CHECK(reread && std::ranges::equal(reread->as_bytes(), again->as_bytes()));
    return 0;
}
