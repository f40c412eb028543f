#pragma once
// What the COBS and SLIP targets check, once for both: any bytes go through
// the one-shot decoder and the streaming decoder, pushed byte by byte and fed
// in chunks whose sizes a seed draws; every payload and every frame read from
// the stream are encoded and read back. A codec is a struct naming its
// encoder, decoder, streaming decoder, frame end byte, and whether empty
// frames come out of its stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "support.hpp"
#include "trovik/serial/framing_error.hpp"

namespace trovik::fuzz {

using Bytes = std::vector<std::uint8_t>;
using Event = std::variant<Bytes, serial::FramingError>;

template <class Decoder>
std::vector<Event> pushed(Decoder& decoder, std::span<const std::uint8_t> stream) {
    std::vector<Event> events;
    for (std::uint8_t b : stream) {
        const auto event = decoder.push(b);
        if (!event)
            events.emplace_back(event.error());
        else if (*event)
            events.emplace_back(Bytes((*event)->begin(), (*event)->end()));
    }
    return events;
}

// Feeds `stream` in chunks whose sizes a small generator seeded with `seed`
// draws, from one byte to a few thousand.
template <class Decoder>
std::vector<Event> fed(Decoder& decoder, std::span<const std::uint8_t> stream, std::uint32_t seed) {
    std::vector<Event> events;
    std::size_t at = 0;
    std::uint32_t state = seed | 1;
    while (at < stream.size()) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const std::size_t n = std::min<std::size_t>(stream.size() - at, 1 + (state >> 4) % ((state & 1) ? 8 : 3000));
        decoder.feed(
            stream.subspan(at, n),
            [&](std::span<const std::uint8_t> f) { events.emplace_back(Bytes(f.begin(), f.end())); },
            [&](serial::FramingError e) { events.emplace_back(e); });
        at += n;
    }
    return events;
}

template <class Codec>
Bytes encoded(std::span<const std::uint8_t> payload) {
    Bytes out(Codec::max_encoded_len(payload.size()));
    const auto n = Codec::encode(payload, out);
    FUZZ_CHECK(n.has_value());
    out.resize(*n);
    // One frame end, at the end.
    FUZZ_CHECK(std::find(out.begin(), out.end(), Codec::kFrameEnd) == out.end() - 1);
    return out;
}

template <class Codec>
Bytes decoded_whole(std::span<const std::uint8_t> frame) {
    Bytes out(frame.size());
    const auto n = Codec::decode(frame, out);
    FUZZ_CHECK(n.has_value());
    out.resize(*n);
    return out;
}

// The first four bytes seed the chunk sizes; the rest is the stream.
template <class Codec>
int check_framing(const std::uint8_t* data, std::size_t size) {
    using serial::FramingError;
    if (size < 4) return 0;
    const std::uint32_t seed = data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24;
    const std::span<const std::uint8_t> input(data + 4, size - 4);

    // Every payload survives encoding.
    FUZZ_CHECK(decoded_whole<Codec>(encoded<Codec>(input)) == Bytes(input.begin(), input.end()));

    // Chunks give exactly the events of single bytes.
    typename Codec::StreamDecoder one, chunked;
    const std::vector<Event> events = pushed(one, input);
    FUZZ_CHECK(fed(chunked, input, seed) == events);

    for (const Event& event : events) {
        if (const Bytes* frame = std::get_if<Bytes>(&event)) {
            FUZZ_CHECK(frame->size() <= Codec::kStreamCapacity);
            FUZZ_CHECK(Codec::kEmptyFrames || !frame->empty());
            // A frame read from the stream is read again, alone, from its own encoding.
            typename Codec::StreamDecoder fresh;
            FUZZ_CHECK(pushed(fresh, encoded<Codec>(*frame)) == std::vector<Event>{*frame});
        }
    }

    // The first frame or error of the stream is what the one-shot decoder
    // meets, but for an overlong frame, which the one-shot decoder may read.
    Bytes out(input.size());
    const auto whole = Codec::decode(input, out);
    if (!events.empty()) {
        if (const Bytes* first = std::get_if<Bytes>(&events.front())) {
            FUZZ_CHECK(whole.has_value());
            FUZZ_CHECK(std::ranges::equal(std::span(out).first(*whole), *first));
        } else if (std::get<FramingError>(events.front()) != FramingError::BufferTooSmall) {
            FUZZ_CHECK(!whole && whole.error() == std::get<FramingError>(events.front()));
        }
    }
    // An output as long as the input always has room.
    if (!whole) FUZZ_CHECK(whole.error() != FramingError::BufferTooSmall);
    return 0;
}

}  // namespace trovik::fuzz
