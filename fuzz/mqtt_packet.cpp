// MQTT 3.1.1 packets read from a byte stream, as a connection reads them:
// every packet that decodes must encode to bytes that decode to it again.
// libFuzzer options: -max_len=4096
#include <cstddef>
#include <cstdint>
#include <span>

#include "support.hpp"
#include "trovik/mqtt/codec.hpp"

using namespace trovik::mqtt::codec;

namespace {

// Reads the one packet `bytes` must hold exactly.
Packet read_whole(std::span<const std::uint8_t> bytes) {
    const auto header = read_header(bytes);
    FUZZ_CHECK(header.has_value() && header->has_value());
    FUZZ_CHECK((*header)->packet_size() == bytes.size());
    auto packet = decode(**header, bytes.subspan((*header)->header_length));
    FUZZ_CHECK(packet.has_value());
    return std::move(*packet);
}

// A packet that decodes re-encodes to bytes that read back as the same packet.
void check_round_trip(const Packet& packet) {
    (void)describe(packet);
    const Bytes encoded = encode(packet);
    FUZZ_CHECK(read_whole(encoded) == packet);
    if (const auto* publish = std::get_if<Publish>(&packet))
        FUZZ_CHECK(publish_packet_size(publish->topic.size(), publish->payload.size(), publish->qos) == encoded.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte as a fixed header over the rest as the body, as a caller
    // holding a header it read itself would pass them: decoding alone must
    // refuse what is malformed.
    if (size > 0) {
        const Header header{data[0], 2, size - 1};
        if (const auto packet = decode(header, {data + 1, size - 1})) {
            FUZZ_CHECK(type_of(*packet) == header.type());
            check_round_trip(*packet);
        }
    }

    std::span<const std::uint8_t> stream(data, size);
    while (!stream.empty()) {
        const auto header = read_header(stream);
        if (!header || !*header) return 0;
        const Header& h = **header;
        FUZZ_CHECK(h.header_length >= 2 && h.header_length <= 5);
        FUZZ_CHECK(h.remaining_length <= max_remaining_length);
        // A header that reads whole asks for more bytes at every shorter cut,
        // so a connection fed a byte at a time never refuses a good packet.
        for (std::size_t cut = 0; cut < h.header_length; ++cut) {
            const auto partial = read_header(stream.first(cut));
            FUZZ_CHECK(partial.has_value() && !partial->has_value());
        }
        if (stream.size() < h.packet_size()) return 0;
        const auto packet = decode(h, stream.subspan(h.header_length, h.remaining_length));
        stream = stream.subspan(h.packet_size());
        if (!packet) continue;

        FUZZ_CHECK(type_of(*packet) == h.type());
        check_round_trip(*packet);
        // Only an added empty password (and a longer length field for it) can make it longer.
        FUZZ_CHECK(encode(*packet).size() <= h.packet_size() + 3);
    }
    return 0;
}
