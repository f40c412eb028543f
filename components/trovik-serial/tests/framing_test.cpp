#include <doctest/doctest.h>

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "trovik/serial/cobs.hpp"
#include "trovik/serial/slip.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using trovik::serial::FramingError;
namespace cobs = trovik::serial::cobs;
namespace slip = trovik::serial::slip;

Bytes operator""_b(const char* text, std::size_t n) { return Bytes(text, text + n); }

Bytes repeat(std::uint8_t b, std::size_t n) { return Bytes(n, b); }
Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

template <class Encode>
Bytes encoded(Encode encode, const Bytes& payload, std::size_t cap) {
    Bytes out(cap);
    const auto n = encode(payload, out);
    REQUIRE(n.has_value());
    out.resize(*n);
    return out;
}
template <class Decode>
std::expected<Bytes, FramingError> decoded(Decode decode, const Bytes& frame) {
    Bytes out(frame.size());
    const auto n = decode(frame, out);
    if (!n) return std::unexpected(n.error());
    out.resize(*n);
    return out;
}
Bytes cobs_encoded(const Bytes& p) { return encoded(cobs::encode, p, cobs::max_encoded_len(p.size())); }
Bytes slip_encoded(const Bytes& p) { return encoded(slip::encode, p, slip::max_encoded_len(p.size())); }

// The encoder written the plain way, one byte at a time with a code position:
// the fast encoder must give the very same bytes.
Bytes cobs_reference(const Bytes& payload) {
    Bytes out(1);
    std::size_t code_at = 0;
    std::uint8_t code = 1;
    bool open = true;
    for (std::size_t i = 0; i < payload.size(); ++i) {
        if (payload[i] != 0) {
            out.push_back(payload[i]);
            if (++code == 0xFF) {
                out[code_at] = 0xFF;
                open = i + 1 != payload.size();
                if (open) {
                    code_at = out.size();
                    out.push_back(0);
                    code = 1;
                }
            }
        } else {
            out[code_at] = code;
            code_at = out.size();
            out.push_back(0);
            code = 1;
            open = true;
        }
    }
    if (open) out[code_at] = code;
    out.push_back(0);
    return out;
}

// Payloads with long zero-free runs and zeros in clusters, where COBS has its edges.
Bytes random_payload(std::mt19937& rng, std::size_t max_len) {
    std::uniform_int_distribution<std::size_t> len(0, max_len);
    std::uniform_int_distribution<int> byte(0, 255), kind(0, 3);
    Bytes p(len(rng));
    const int k = kind(rng);
    for (auto& b : p) {
        const int v = byte(rng);
        b = static_cast<std::uint8_t>(k == 0 ? v : k == 1 ? (v < 2 ? 0 : v) : k == 2 ? (v & 1 ? 0xC0 : 0xDB) : v % 3);
    }
    return p;
}

// Every event of a decoder, as pushing byte by byte gives them or as feed does.
struct Events {
    std::vector<Bytes> frames;
    std::vector<FramingError> errors;
    std::vector<int> order;  // 0 frame, 1 error
    friend bool operator==(const Events&, const Events&) = default;
};
template <class Decoder>
Events pushed(Decoder& d, const Bytes& stream) {
    Events e;
    for (std::uint8_t b : stream) {
        const auto event = d.push(b);
        if (!event) {
            e.errors.push_back(event.error());
            e.order.push_back(1);
        } else if (*event) {
            e.frames.emplace_back((*event)->begin(), (*event)->end());
            e.order.push_back(0);
        }
    }
    return e;
}
template <class Decoder>
Events fed(Decoder& d, const Bytes& stream, std::mt19937& rng) {
    Events e;
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t n =
            std::min<std::size_t>(stream.size() - at, std::uniform_int_distribution<std::size_t>(1, 700)(rng));
        d.feed(
            std::span(stream).subspan(at, n),
            [&](std::span<const std::uint8_t> f) {
                e.frames.emplace_back(f.begin(), f.end());
                e.order.push_back(0);
            },
            [&](FramingError err) {
                e.errors.push_back(err);
                e.order.push_back(1);
            });
        at += n;
    }
    return e;
}

}  // namespace

TEST_CASE("COBS frames of the edge payloads") {
    const struct {
        Bytes payload, frame;
    } cases[] = {
        {""_b, "\x01\x00"_b},
        {"\x00"_b, "\x01\x01\x00"_b},
        {"\x11\x22\x00\x33"_b, "\x03\x11\x22\x02\x33\x00"_b},
        {repeat(1, 254), cat(cat("\xff"_b, repeat(1, 254)), "\x00"_b)},
        {repeat(1, 255), cat(cat("\xff"_b, repeat(1, 254)), "\x02\x01\x00"_b)},
        {cat(repeat(1, 254), "\x00"_b), cat(cat("\xff"_b, repeat(1, 254)), "\x01\x01\x00"_b)},
        {cat(repeat(1, 508), "\x00\x00"_b),
         cat(cat(cat(cat("\xff"_b, repeat(1, 254)), "\xff"_b), repeat(1, 254)), "\x01\x01\x01\x00"_b)},
    };
    for (const auto& c : cases) {
        CAPTURE(c.payload.size());
        CHECK(cobs_encoded(c.payload) == c.frame);
        CHECK(cobs_reference(c.payload) == c.frame);
        CHECK(decoded(cobs::decode, c.frame) == c.payload);
    }
    CHECK(cobs::max_encoded_len(255) == 258);
    CHECK(cobs::max_encoded_len(0) == 2);
    CHECK(cobs::max_encoded_len(254) == 257);
    CHECK(cobs::max_encoded_len(UINT64_MAX) == UINT64_MAX);
}

TEST_CASE("COBS one-shot decoding") {
    CHECK(decoded(cobs::decode, "\x00"_b) == ""_b);
    CHECK(decoded(cobs::decode, ""_b) == ""_b);
    CHECK(decoded(cobs::decode, "\x03\x11\x22\x00\x05\x06"_b) == "\x11\x22"_b);
    CHECK(decoded(cobs::decode, "\x03\x11"_b) == std::unexpected(FramingError::Truncated));
    CHECK(decoded(cobs::decode, "\x03\x11\x00\x22"_b) == std::unexpected(FramingError::Truncated));
    // The implicit zero counts against the room like any other byte.
    Bytes out(2);
    CHECK(cobs::decode("\x02\x11\x02\x22\x00"_b, out) == std::unexpected(FramingError::BufferTooSmall));
    out.resize(3);
    CHECK(cobs::decode("\x02\x11\x02\x22\x00"_b, out) == 3u);
}

TEST_CASE("encoders refuse a buffer one byte too small, and only that") {
    std::mt19937 rng(7);
    for (int i = 0; i < 300; ++i) {
        const Bytes p = random_payload(rng, 700);
        const Bytes c = cobs_encoded(p), s = slip_encoded(p);
        Bytes out(c.size() - 1);
        CHECK(cobs::encode(p, out) == std::unexpected(FramingError::BufferTooSmall));
        out.resize(s.size() - 1);
        CHECK(slip::encode(p, out) == std::unexpected(FramingError::BufferTooSmall));
        out.resize(c.size());
        CHECK(cobs::encode(p, out) == c.size());
        out.resize(s.size());
        CHECK(slip::encode(p, out) == s.size());
    }
}

TEST_CASE("random payloads: the fast COBS encoder agrees with the plain one, and both codecs round-trip") {
    std::mt19937 rng(42);
    for (int i = 0; i < 2000; ++i) {
        const Bytes p = random_payload(rng, 1200);
        const Bytes c = cobs_encoded(p);
        CHECK(c == cobs_reference(p));
        CHECK(c.size() <= cobs::max_encoded_len(p.size()));
        CHECK(std::count(c.begin(), c.end(), 0) == 1);
        CHECK(decoded(cobs::decode, c) == p);
        const Bytes s = slip_encoded(p);
        CHECK(std::count(s.begin(), s.end(), slip::kEnd) == 1);
        CHECK(decoded(slip::decode, s) == p);
    }
}

TEST_CASE("SLIP frames and one-shot decoding") {
    CHECK(slip_encoded("\xc0\xdb\x01"_b) == "\xdb\xdc\xdb\xdd\x01\xc0"_b);
    CHECK(slip_encoded(""_b) == "\xc0"_b);
    CHECK(slip::max_encoded_len(0) == 1);
    CHECK(slip::max_encoded_len(UINT64_MAX) == UINT64_MAX);
    const struct {
        Bytes frame;
        std::expected<Bytes, FramingError> payload;
    } cases[] = {
        {"\xc0\xc0\x01\xc0\x02"_b, "\x01"_b},
        {"\x01\x02"_b, "\x01\x02"_b},
        {""_b, ""_b},
        {"\xc0\xc0"_b, ""_b},
        {"\xdb\xdc\xc0"_b, "\xc0"_b},
        {"\xdb\x01"_b, std::unexpected(FramingError::InvalidEscape)},
        {"\x01\xdb"_b, std::unexpected(FramingError::Truncated)},
        {"\x01\xdb\xc0"_b, std::unexpected(FramingError::Truncated)},
    };
    for (const auto& c : cases) {
        CAPTURE(c.frame.size());
        CHECK(decoded(slip::decode, c.frame) == c.payload);
    }
}

TEST_CASE("streaming COBS decoder") {
    cobs::StreamDecoder d;
    SUBCASE("a frame, then an empty one") {
        const Events e = pushed(d, "\x02\x11\x00\x00"_b);
        CHECK(e.frames == std::vector<Bytes>{"\x11"_b, ""_b});
        CHECK(e.errors.empty());
    }
    SUBCASE("a block cut short by the delimiter is an error, and the next frame is whole") {
        const Events e = pushed(d, "\x03\x11\x00\x02\x22\x00"_b);
        CHECK(e.errors == std::vector<FramingError>{FramingError::Truncated});
        CHECK(e.frames == std::vector<Bytes>{"\x22"_b});
    }
    SUBCASE("a frame split anywhere comes out at its last byte") {
        const Bytes frame = cobs_encoded(repeat(7, 600));
        Events e = pushed(d, Bytes(frame.begin(), frame.end() - 1));
        CHECK(e.order.empty());
        e = pushed(d, "\x00"_b);
        CHECK(e.frames == std::vector<Bytes>{repeat(7, 600)});
    }
    SUBCASE("a frame of exactly the capacity fits") {
        const Events e = pushed(d, cobs_encoded(repeat(9, cobs::kStreamCapacity)));
        CHECK(e.frames == std::vector<Bytes>{repeat(9, cobs::kStreamCapacity)});
    }
    SUBCASE("an overlong frame is dropped up to and including its delimiter") {
        // Without the skip, its delimiter would hand out an empty frame, or
        // its tail a frame of its own.
        for (std::size_t extra : {1u, 2u, 300u}) {
            const Bytes stream = cat(cobs_encoded(repeat(9, cobs::kStreamCapacity + extra)), cobs_encoded("\x42"_b));
            const Events e = pushed(d, stream);
            CHECK(e.errors == std::vector<FramingError>{FramingError::BufferTooSmall});
            CHECK(e.frames == std::vector<Bytes>{"\x42"_b});
        }
        const Events e = pushed(d, cobs_encoded(repeat(9, 3000)));
        CHECK(e.errors.size() == 1);
        CHECK(e.frames.empty());
        CHECK_FALSE(d.skipping());
    }
    SUBCASE("reset drops a partial frame and a skip") {
        pushed(d, "\x05\x01\x02"_b);
        d.reset();
        CHECK(pushed(d, "\x02\x03\x00"_b).frames == std::vector<Bytes>{"\x03"_b});
        const Bytes overlong = cobs_encoded(repeat(9, 2100));
        pushed(d, Bytes(overlong.begin(), overlong.end() - 1));
        CHECK(d.skipping());
        d.reset();
        CHECK(pushed(d, "\x02\x03\x00"_b).frames == std::vector<Bytes>{"\x03"_b});
    }
}

TEST_CASE("streaming SLIP decoder") {
    slip::StreamDecoder d;
    SUBCASE("END bytes in a row make no empty frames") {
        CHECK(pushed(d, "\xc0\xc0\x01\x02\xc0\xc0"_b).frames == std::vector<Bytes>{"\x01\x02"_b});
    }
    SUBCASE("a bad escape drops the frame up to its END") {
        const Events e = pushed(d, "\x01\xdb\x05\x02\x03\xc0\x04\xc0"_b);
        CHECK(e.errors == std::vector<FramingError>{FramingError::InvalidEscape});
        CHECK(e.frames == std::vector<Bytes>{"\x04"_b});
    }
    SUBCASE("ESC then END is a truncated frame, and the END still ends it") {
        const Events e = pushed(d, "\x01\xdb\xc0\x04\xc0"_b);
        CHECK(e.errors == std::vector<FramingError>{FramingError::Truncated});
        CHECK(e.frames == std::vector<Bytes>{"\x04"_b});
    }
    SUBCASE("a frame of exactly the capacity fits, one more byte drops it whole") {
        CHECK(pushed(d, slip_encoded(repeat(9, slip::kStreamCapacity))).frames ==
              std::vector<Bytes>{repeat(9, slip::kStreamCapacity)});
        for (std::size_t extra : {1u, 2u}) {
            const Events e = pushed(d, cat(slip_encoded(repeat(9, slip::kStreamCapacity + extra)), "\x42\xc0"_b));
            CHECK(e.errors == std::vector<FramingError>{FramingError::BufferTooSmall});
            CHECK(e.frames == std::vector<Bytes>{"\x42"_b});
        }
    }
    SUBCASE("an escaped byte past the capacity overflows too") {
        const Events e = pushed(d, cat(repeat(9, slip::kStreamCapacity), "\xdb\xdc\xc0"_b));
        CHECK(e.errors == std::vector<FramingError>{FramingError::BufferTooSmall});
        CHECK(e.frames.empty());
    }
}

TEST_CASE("feeding chunks gives exactly the events of pushing byte by byte") {
    std::mt19937 rng(2024);
    for (int round = 0; round < 300; ++round) {
        // Whole frames, overlong ones, corrupt ones and raw noise, back to back.
        Bytes cobs_stream, slip_stream;
        for (int i = 0; i < 12; ++i) {
            const Bytes p = random_payload(rng, std::uniform_int_distribution<int>(0, 3)(rng) == 0 ? 2600 : 300);
            switch (std::uniform_int_distribution<int>(0, 4)(rng)) {
                case 0:
                    cobs_stream = cat(cobs_stream, p);
                    slip_stream = cat(slip_stream, p);
                    break;
                case 1: {
                    Bytes c = cobs_encoded(p), s = slip_encoded(p);
                    c[std::uniform_int_distribution<std::size_t>(0, c.size() - 1)(rng)] ^= 0x5A;
                    s[std::uniform_int_distribution<std::size_t>(0, s.size() - 1)(rng)] ^= 0x5A;
                    cobs_stream = cat(cobs_stream, c);
                    slip_stream = cat(slip_stream, s);
                    break;
                }
                default:
                    cobs_stream = cat(cobs_stream, cobs_encoded(p));
                    slip_stream = cat(slip_stream, slip_encoded(p));
            }
        }
        cobs::StreamDecoder c1, c2;
        CHECK(pushed(c1, cobs_stream) == fed(c2, cobs_stream, rng));
        slip::StreamDecoder s1, s2;
        CHECK(pushed(s1, slip_stream) == fed(s2, slip_stream, rng));
    }
}

TEST_CASE("frames encoded back to back come out of the stream whole") {
    std::mt19937 rng(5);
    std::vector<Bytes> payloads;
    Bytes cobs_stream, slip_stream;
    for (int i = 0; i < 200; ++i) {
        payloads.push_back(random_payload(rng, 2048));
        cobs_stream = cat(cobs_stream, cobs_encoded(payloads.back()));
        slip_stream = cat(slip_stream, slip_encoded(payloads.back()));
    }
    cobs::StreamDecoder c;
    CHECK(fed(c, cobs_stream, rng).frames == payloads);
    // SLIP has no empty frames.
    std::erase_if(payloads, [](const Bytes& p) { return p.empty(); });
    slip::StreamDecoder s;
    CHECK(fed(s, slip_stream, rng).frames == payloads);
}
