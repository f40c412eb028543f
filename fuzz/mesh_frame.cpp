// Mesh frames: parsing, relaying, and building the same frame again.
// libFuzzer options: -max_len=300
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/mesh/crc.hpp"
#include "trovik/mesh/frame.hpp"

using namespace trovik::mesh;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const auto frame = Frame::parse(input);
    const auto relay = relayed(input);
    if (!frame) {
        (void)frame.error().message();
        // Relaying parses first: it refuses with the very same error.
        FUZZ_CHECK(!relay && relay.error() == frame.error());
        return 0;
    }
    FUZZ_CHECK(std::ranges::equal(frame->bytes(), input));
    FUZZ_CHECK(frame->version() == kVersion);
    FUZZ_CHECK(frame->payload().size() == size - kHeaderLen - 2);
    // The CRC covers the header without the hop limit, then the payload.
    std::vector<std::uint8_t> covered(input.begin(), input.begin() + 11);
    covered.insert(covered.end(), frame->payload().begin(), frame->payload().end());
    FUZZ_CHECK(crc16(covered) == (input[size - 2] << 8 | input[size - 1]));

    // A frame built from the parsed fields, with the same hop limit, is the input byte for byte.
    auto rebuilt = Frame::make(frame->src(), frame->dst(), frame->id(), frame->payload());
    FUZZ_CHECK(rebuilt.has_value());
    rebuilt->set_hop_limit(frame->hop_limit());
    FUZZ_CHECK(std::ranges::equal(rebuilt->bytes(), input));
    FUZZ_CHECK(rebuilt->is_broadcast() == (frame->dst() == kBroadcast));

    // Relaying spends one hop and keeps the CRC valid, so the relayed frame parses.
    FUZZ_CHECK(relay.has_value());
    if (frame->hop_limit() == 0) {
        FUZZ_CHECK(!relay->has_value());
    } else {
        FUZZ_CHECK(relay->has_value());
        const auto& next = **relay;
        FUZZ_CHECK(next.hop_limit() == frame->hop_limit() - 1);
        const auto again = Frame::parse(next.bytes());
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(std::ranges::equal(again->payload(), frame->payload()));
        FUZZ_CHECK(again->src() == frame->src() && again->dst() == frame->dst() && again->id() == frame->id());
    }
    return 0;
}
