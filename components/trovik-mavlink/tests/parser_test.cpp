#include <doctest/doctest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "support.hpp"
#include "trovik/mavlink/dialect.hpp"
#include "trovik/mavlink/parser.hpp"

using namespace trovik::mavlink;
using trovik::mavlink::test::hex;

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kHeartbeat = hex("fd0900000001010000000000000002030004034ad7");  // 21 bytes

Bytes bytes_of(const Frame& f) { return {f.as_bytes().begin(), f.as_bytes().end()}; }

// Pushes `data` one byte at a time, as the parser's definition does.
std::vector<Bytes> by_bytes(Parser& p, std::span<const std::uint8_t> data) {
    std::vector<Bytes> out;
    for (std::uint8_t b : data)
        if (auto f = p.push_byte(b, known_crc_extra)) out.push_back(bytes_of(*f));
    return out;
}

std::vector<Bytes> in_one_go(Parser& p, std::span<const std::uint8_t> data) {
    std::vector<Bytes> out;
    p.push(data, known_crc_extra, [&](const Frame& f) { out.push_back(bytes_of(f)); });
    return out;
}

Bytes frame_bytes(std::mt19937& rng, std::uint8_t seq) {
    // Built-in messages only, so the registry knows their seeds.
    static const std::uint32_t ids[] = {0, 1, 30, 33, 76, 77, 253};
    const std::uint32_t id = ids[rng() % std::size(ids)];
    Bytes payload(rng() % 60);
    for (auto& b : payload)
        b = static_cast<std::uint8_t>(rng());
    const Header h{1, 1, seq};
    auto f = rng() % 4 == 0 ? Frame::encode_v1(h, id, payload, *known_crc_extra(id))
                            : Frame::assemble_v2(h, id, payload, *known_crc_extra(id), rng() % 3 == 0);
    return bytes_of(*f);
}

}  // namespace

TEST_CASE("a frame pushed a byte at a time completes on its last byte") {
    Parser p;
    for (std::size_t i = 0; i + 1 < kHeartbeat.size(); ++i)
        CHECK(!p.push_byte(kHeartbeat[i], known_crc_extra));
    auto f = p.push_byte(kHeartbeat.back(), known_crc_extra);
    REQUIRE(f);
    CHECK(bytes_of(*f) == kHeartbeat);
    CHECK(p.held().empty());
}

TEST_CASE("noise, bad checksums and unknown ids each cost a byte, never an error") {
    Bytes stream = hex("00 11 55 aa");
    Bytes bad = kHeartbeat;
    bad.back() ^= 1;
    stream.insert(stream.end(), bad.begin(), bad.end());
    auto unknown = Frame::encode_v2({1, 1, 0}, 1000, hex("0102"), 12);
    stream.insert(stream.end(), unknown->as_bytes().begin(), unknown->as_bytes().end());
    stream.insert(stream.end(), kHeartbeat.begin(), kHeartbeat.end());
    Parser p;
    CHECK(in_one_go(p, stream) == std::vector<Bytes>{kHeartbeat});

    // The same id is taken once a lookup knows a seed that makes it hold.
    Dialect d;
    REQUIRE(d.add(1000, 12));
    Parser q;
    std::vector<Bytes> out;
    q.push(
        unknown->as_bytes(), [&](std::uint32_t id) { return d.resolve(id); },
        [&](const Frame& f) { out.push_back(bytes_of(f)); });
    CHECK(out == std::vector<Bytes>{bytes_of(*unknown)});
}

TEST_CASE("a stray start marker holds frames back until its promised length has arrived") {
    // fd 30 00 promises an unsigned frame of 48 + 12 = 60 bytes.
    Bytes stream = hex("fd3000");
    stream.insert(stream.end(), kHeartbeat.begin(), kHeartbeat.end());
    stream.insert(stream.end(), kHeartbeat.begin(), kHeartbeat.end());
    stream.resize(stream.size() + 30, 0x00);
    Parser p;
    std::vector<std::size_t> completed_at;
    for (std::size_t i = 0; i < stream.size(); ++i)
        if (p.push_byte(stream[i], known_crc_extra)) completed_at.push_back(i + 1);
    // The first with the 60th byte, the second (already whole) with the next one.
    CHECK(completed_at == std::vector<std::size_t>{60, 61});

    // An odd flags byte promises a signature as well: 73 bytes.
    Bytes odd = hex("fd3001");
    odd.insert(odd.end(), kHeartbeat.begin(), kHeartbeat.end());
    odd.resize(80, 0x00);
    Parser q;
    completed_at.clear();
    for (std::size_t i = 0; i < odd.size(); ++i)
        if (q.push_byte(odd[i], known_crc_extra)) completed_at.push_back(i + 1);
    CHECK(completed_at == std::vector<std::size_t>{73});
}

TEST_CASE("a frame with unknown flag bits is awaited with room for a signature, then dropped") {
    Bytes flags3 = kHeartbeat;
    flags3[2] = 0x03;
    flags3.resize(9 + 25, 0x00);
    Parser p;
    CHECK(by_bytes(p, std::span(flags3).first(33)).empty());
    CHECK(p.held().size() == 33);
    CHECK(by_bytes(p, std::span(flags3).subspan(33)).empty());
    CHECK(p.held().empty());  // the rest was zeros
}

TEST_CASE("drop_front removes held bytes from the front") {
    Parser p;
    by_bytes(p, hex("fd3000aabb"));
    p.drop_front(2);
    CHECK(Bytes(p.held().begin(), p.held().end()) == hex("00aabb"));
    p.drop_front(10);
    CHECK(p.held().empty());
}

TEST_CASE("pushing whole pieces gives exactly what pushing byte by byte gives") {
    std::mt19937 rng(2024);
    for (int round = 0; round < 300; ++round) {
        Bytes stream;
        for (int i = 0; i < 40; ++i) {
            switch (rng() % 6) {
                case 0: {  // a stray start marker, with whatever follows
                    stream.push_back(rng() % 2 ? kMagicV2 : kMagicV1);
                    stream.push_back(static_cast<std::uint8_t>(rng()));
                    stream.push_back(static_cast<std::uint8_t>(rng() % 4));
                    break;
                }
                case 1: {  // noise
                    for (unsigned n = rng() % 20; n > 0; --n)
                        stream.push_back(static_cast<std::uint8_t>(rng()));
                    break;
                }
                case 2: {  // a damaged frame
                    Bytes f = frame_bytes(rng, static_cast<std::uint8_t>(i));
                    f[rng() % f.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
                    stream.insert(stream.end(), f.begin(), f.end());
                    break;
                }
                default: {
                    Bytes f = frame_bytes(rng, static_cast<std::uint8_t>(i));
                    stream.insert(stream.end(), f.begin(), f.end());
                }
            }
        }
        // The same pieces to both, compared piece by piece: the frames each
        // piece completes, and the bytes left held after it.
        Parser reference, pieces;
        std::size_t at = 0;
        while (at < stream.size()) {
            const std::size_t n = std::min<std::size_t>(stream.size() - at, rng() % 3 == 0 ? rng() % 4 : rng() % 400);
            const auto piece = std::span(stream).subspan(at, n);
            CHECK(in_one_go(pieces, piece) == by_bytes(reference, piece));
            CHECK(std::ranges::equal(pieces.held(), reference.held()));
            at += n;
        }
    }
}

TEST_CASE("a long stream with noise and stray markers yields exactly its valid frames, in order") {
    std::mt19937 rng(77);
    Bytes stream;
    std::vector<Bytes> valid;
    for (int i = 0; i < 3000; ++i) {
        if (rng() % 5 == 0) {
            // Noise free of start markers, sometimes led by a stray one.
            if (rng() % 2) stream.insert(stream.end(), {kMagicV2, static_cast<std::uint8_t>(rng()), 0});
            for (unsigned n = rng() % 30; n > 0; --n) {
                auto b = static_cast<std::uint8_t>(rng());
                stream.push_back(b == kMagicV1 || b == kMagicV2 ? 0 : b);
            }
        }
        Bytes f = frame_bytes(rng, static_cast<std::uint8_t>(i));
        stream.insert(stream.end(), f.begin(), f.end());
        valid.push_back(f);
    }
    // Frames held back behind a stray marker come out one per byte: a quiet
    // tail lets the last of them out.
    stream.resize(stream.size() + 300, 0x00);
    Parser p;
    std::vector<Bytes> got;
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min<std::size_t>(stream.size() - at, 1 + rng() % 200);
        auto part = in_one_go(p, std::span(stream).subspan(at, n));
        got.insert(got.end(), part.begin(), part.end());
        at += n;
    }
    CHECK(got.size() == valid.size());
    CHECK(got == valid);
}
