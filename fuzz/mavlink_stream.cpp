// The MAVLink stream parser: whole pieces pushed at once give exactly what
// pushing the same bytes one at a time gives, piece by piece, and every
// frame it hands out is a stretch of the stream that reads back as itself
// and is rebuilt from its fields, and signs and verifies. The first input byte picks the piece
// sizes; built-in messages are checked against their seeds, any other id
// against its low byte.
// libFuzzer options: -max_len=4096
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/mavlink/dialect.hpp"
#include "trovik/mavlink/parser.hpp"
#include "trovik/mavlink/signing.hpp"

using namespace trovik::mavlink;

namespace {

std::optional<std::uint8_t> seed_of(std::uint32_t id) {
    if (auto known = known_crc_extra(id)) return known;
    return static_cast<std::uint8_t>(id);
}

void check_frame(const Frame& f, std::span<const std::uint8_t> stream) {
    const auto bytes = f.as_bytes();
    FUZZ_CHECK(std::ranges::search(stream, bytes).begin() != stream.end());
    const auto reread = Frame::parse_with(bytes, seed_of);
    FUZZ_CHECK(reread && std::ranges::equal(reread->as_bytes(), bytes));
    const std::uint8_t seed = *seed_of(f.message_id());
    if (!f.is_v2()) {
        const auto again = Frame::encode_v1(f.header(), f.message_id(), f.payload(), seed);
        FUZZ_CHECK(again && std::ranges::equal(again->as_bytes(), bytes));
    } else if (trimmed_len(f.payload()) == f.payload_len()) {
        const auto again = Frame::assemble_v2(f.header(), f.message_id(), f.payload(), seed, f.incompat_flags());
        // Byte for byte but for the compatibility flags, never checked and
        // written as 0, and the checksum that covers them.
        FUZZ_CHECK(again.has_value());
        auto expected = std::vector(f.signed_part().begin(), f.signed_part().end() - 2);
        expected[3] = 0;
        FUZZ_CHECK(std::ranges::equal(again->signed_part().first(expected.size()), expected));
        if (f.signed_part()[3] == 0) FUZZ_CHECK(std::ranges::equal(again->signed_part(), f.signed_part()));
    }
    // Its content signed goes through a verifier once, and reads back as itself.
    static std::uint64_t timestamp = 0;
    Signer signer(SigningKey{1, 2, 3}, f.header().sequence, ++timestamp);
    const auto signed_frame = signer.sign(f.header(), f.message_id(), f.payload(), seed);
    FUZZ_CHECK(signed_frame.has_value());
    Verifier verifier(SigningKey{1, 2, 3});
    FUZZ_CHECK(verifier.verify(*signed_frame));
    FUZZ_CHECK(verifier.verify(*signed_frame).error() == MavlinkError{MavlinkError::Kind::ReplayedTimestamp});
    const auto reread_signed = Frame::parse_with(signed_frame->as_bytes(), seed_of);
    FUZZ_CHECK(reread_signed && std::ranges::equal(reread_signed->as_bytes(), signed_frame->as_bytes()));
    FUZZ_CHECK(Verifier(SigningKey{1, 2, 3}).verify(*reread_signed));
    FUZZ_CHECK(!Verifier(SigningKey{}).verify(*reread_signed));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::uint32_t pick = data[0] * 2654435761u + 1;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);

    Parser reference, pieces;
    std::size_t at = 0;
    std::size_t frames = 0;
    while (at < stream.size()) {
        pick = pick * 1103515245u + 12345u;
        const std::size_t n = std::min<std::size_t>(stream.size() - at, (pick >> 16) % ((pick & 1) ? 4 : 600));
        const auto piece = stream.subspan(at, n);
        std::vector<Frame> expected;
        for (std::uint8_t b : piece)
            if (auto f = reference.push_byte(b, seed_of)) expected.push_back(*f);
        std::vector<Frame> got;
        pieces.push(piece, seed_of, [&](const Frame& f) { got.push_back(f); });
        FUZZ_CHECK(got.size() == expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            FUZZ_CHECK(std::ranges::equal(got[i].as_bytes(), expected[i].as_bytes()));
            check_frame(got[i], stream);
        }
        FUZZ_CHECK(std::ranges::equal(pieces.held(), reference.held()));
        FUZZ_CHECK(pieces.held().size() < kMaxFrameLen);
        frames += got.size();
        at += n;
    }
    // No frame is shorter than 8 bytes, and none shares its bytes with another.
    FUZZ_CHECK(frames * 8 <= stream.size());
    return 0;
}
