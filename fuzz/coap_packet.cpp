// CoAP messages: the wire form has one encoding of each message, so a
// datagram that parses encodes back to exactly its own bytes.
// libFuzzer options: -max_len=1400
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "support.hpp"
#include "trovik/coap/packet.hpp"

using namespace trovik::coap;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> datagram(data, size);
    const auto packet = parse(datagram);
    if (!packet) return 0;

    FUZZ_CHECK(packet->token.size() <= 8);
    FUZZ_CHECK(std::ranges::is_sorted(packet->options, {}, &Option::number));
    (void)observe_value(*packet);
    // An unsigned option value in its fewest bytes reads and writes back unchanged.
    for (const Option& option : packet->options) {
        if (option.value.size() <= 4 && (option.value.empty() || option.value.front() != 0))
            FUZZ_CHECK(encode_uint(decode_uint(option.value)) == option.value);
    }
    (void)is_response_code(packet->code);

    const auto encoded = encode(*packet);
    if (size > max_message_size) {
        FUZZ_CHECK(!encoded.has_value());
        return 0;
    }
    FUZZ_CHECK(encoded.has_value());
    FUZZ_CHECK(std::ranges::equal(*encoded, datagram));
    const auto again = parse(*encoded);
    FUZZ_CHECK(again.has_value() && *again == *packet);
    return 0;
}
