#include <doctest/doctest.h>

#include <array>
#include <string_view>

#include "support.hpp"
#include "trovik/update/block.hpp"
#include "trovik/update/manifest.hpp"
#include "trovik/update/trust.hpp"
#include "trovik/update/verify.hpp"

namespace trovik::update {
namespace {

using update_test::Bytes;
using update_test::hex;
using update_test::unhex;

Bytes encode(const Manifest& m) {
    Bytes out(manifest_area);
    out.resize(m.encode(out).value());
    return out;
}

Manifest smallest() {
    Manifest m;
    m.vendor_id = update_test::vendor;
    m.class_id = update_test::klass;
    return m;
}

Manifest largest() {
    Manifest m = smallest();
    m.structure_version = 255;
    m.sequence = UINT64_MAX;
    m.storage = 255;
    m.size = UINT32_MAX;
    m.expires = UINT64_MAX;
    return m;
}

TEST_CASE("manifest bodies are 84 to 106 bytes and read back equal") {
    const Bytes small = encode(smallest());
    CHECK(small.size() == 84);
    CHECK(hex(std::span(small).first(4)) == "a9010102");
    CHECK(Manifest::decode(small) == smallest());
    CHECK(encode(largest()).size() == 106);

    Manifest typical = update_test::release(300, 1, update_test::image(5000), 1'900'000'000);
    CHECK(Manifest::decode(encode(typical)) == typical);
}

// A body with one field's value replaced: keys 1 to 9 in order, each value
// given as its hex encoding.
Bytes body(std::array<std::string_view, 9> values, std::string_view map = "a9", std::string_view tail = "") {
    std::string text(map);
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (values[k].empty()) continue;
        text += hex(std::array{static_cast<std::uint8_t>(k + 1)});
        text += values[k];
    }
    text += tail;
    return unhex(text);
}

const std::string id16 = "50" + std::string(32, '1');
const std::string digest32 = "5820" + std::string(64, 'a');
std::array<std::string_view, 9> good() { return {"01", "05", id16, id16, "01", "00", digest32, "1864", "00"}; }

TEST_CASE("manifest decoding refuses all but the one encoding") {
    REQUIRE(Manifest::decode(body(good())));
    struct Case {
        std::string_view name;
        std::size_t key;  // 1-based; 0 changes nothing in the fields
        std::string value;
        UpdateError error;
        std::string_view map = "a9";
        std::string_view tail = "";
    };
    const std::string id15 = "4f" + std::string(30, '1');
    const std::string id17 = "51" + std::string(34, '1');
    const std::string digest31 = "581f" + std::string(62, 'a');
    const Case cases[] = {
        {"version 2", 1, "02", UpdateError::UnsupportedVersion},
        {"version 256", 1, "190100", UpdateError::Malformed},
        {"format 2", 5, "02", UpdateError::UnsupportedVersion},
        {"vendor of 15 bytes", 3, id15, UpdateError::Malformed},
        {"vendor of 17 bytes", 3, id17, UpdateError::Malformed},
        {"digest of 31 bytes", 7, digest31, UpdateError::Malformed},
        {"size 2^32", 8, "1b0000000100000000", UpdateError::Malformed},
        {"storage 256", 6, "190100", UpdateError::Malformed},
        {"padded sequence", 2, "1805", UpdateError::Malformed},
        {"bytes as sequence", 2, "4105", UpdateError::Malformed},
        {"trailing byte", 0, "", UpdateError::Malformed, "a9", "00"},
        {"eight pairs", 0, "", UpdateError::Malformed, "a8"},
        {"ten pairs", 0, "", UpdateError::Malformed, "aa", "0a00"},
        {"indefinite map", 0, "", UpdateError::Malformed, "bf", "ff"},
        {"array instead of map", 0, "", UpdateError::Malformed, "89"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        auto values = good();
        if (c.key) values[c.key - 1] = c.value;
        CHECK(Manifest::decode(body(values, c.map, c.tail)) == std::unexpected(c.error));
    }
    // Keys out of order: 1, 2, 4, 3, ...
    const Bytes good_body = body(good());
    Bytes swapped = unhex("a9010102050450" + std::string(32, '1') + "0350" + std::string(32, '1'));
    swapped.insert(swapped.end(), good_body.begin() + static_cast<std::ptrdiff_t>(swapped.size()), good_body.end());
    CHECK(Manifest::decode(swapped) == std::unexpected(UpdateError::Malformed));
    // Cut anywhere.
    for (std::size_t n = 0; n < good_body.size(); ++n)
        CHECK(Manifest::decode(std::span(good_body).first(n)) == std::unexpected(UpdateError::Malformed));
}

TEST_CASE("envelopes seal, open and verify") {
    const auto author = update_test::identity(1);
    const auto stranger = update_test::identity(2);
    const Manifest m = smallest();
    const Bytes env = update_test::envelope(m, author);
    CHECK(env.size() == 155);
    CHECK(hex(std::span(env).first(4)) == "a2015854");
    CHECK(update_test::envelope(largest(), author).size() == 177);

    const auto opened = Envelope::decode(env);
    REQUIRE(opened);
    CHECK(std::ranges::equal(opened->body, encode(m)));
    CHECK(opened->verify(author.public_identity()) == m);
    CHECK(opened->verify(stranger.public_identity()) == std::unexpected(UpdateError::BadSignature));

    Bytes flipped = env;
    flipped[10] ^= 0x01;
    CHECK(Envelope::decode(flipped)->verify(author.public_identity()) == std::unexpected(UpdateError::BadSignature));

    // A signature string of 63 or 65 bytes, or a byte after it.
    const Bytes body_part(env.begin(), env.end() - 66);
    const Bytes signature(env.end() - 64, env.end());
    for (const std::size_t length : {63u, 65u}) {
        Bytes odd = body_part;
        odd.push_back(0x58);
        odd.push_back(static_cast<std::uint8_t>(length));
        odd.insert(odd.end(), signature.begin(), signature.end());
        odd.resize(body_part.size() + 2 + length, 0);
        CHECK(Envelope::decode(odd) == std::unexpected(UpdateError::Malformed));
    }
    Bytes trailing = env;
    trailing.push_back(0);
    CHECK(Envelope::decode(trailing) == std::unexpected(UpdateError::Malformed));
    // A body signed under version 2 verifies and is then refused.
    Manifest v2 = m;
    v2.structure_version = 2;
    CHECK(Envelope::decode(update_test::envelope(v2, author))->verify(author.public_identity()) ==
          std::unexpected(UpdateError::UnsupportedVersion));
}

TEST_CASE("delegations open only under the anchor") {
    const auto anchor = update_test::identity(1);
    const auto release = update_test::identity(3);
    Delegation d;
    d.epoch = 7;
    std::ranges::copy(release.public_identity().to_bytes(), d.release_key.begin());
    d.expires = 2'000'000'000;
    const Bytes env = update_test::delegation_envelope(d, anchor);
    CHECK(env.size() >= 111);
    CHECK(env.size() <= 127);
    CHECK(Delegation::open(env, anchor.public_identity()) == d);
    CHECK(Delegation::open(env, release.public_identity()) == std::unexpected(UpdateError::BadSignature));
    CHECK(Delegation::open(update_test::delegation_envelope(d, release), anchor.public_identity()) ==
          std::unexpected(UpdateError::BadSignature));
    CHECK(d.signer()->to_bytes() == release.public_identity().to_bytes());

    Bytes out(delegation_area);
    Delegation smallest_delegation;
    smallest_delegation.release_key = d.release_key;
    CHECK(smallest_delegation.encode(out) == 40);
    Delegation big = d;
    big.epoch = big.expires = UINT64_MAX;
    CHECK(big.encode(out) == 56);
    CHECK(update_test::delegation_envelope(big, anchor).size() == 127);

    Delegation not_a_point = d;
    not_a_point.release_key.fill(0);  // the identity point is refused as a signer
    CHECK(not_a_point.signer() == std::unexpected(UpdateError::BadSignature));
    // A manifest body is not a delegation.
    CHECK(Delegation::open(update_test::envelope(smallest(), anchor), anchor.public_identity()) ==
          std::unexpected(UpdateError::Malformed));
}

TEST_CASE("update blocks frame and split") {
    const Bytes env = update_test::envelope(smallest(), update_test::identity(1));
    const Bytes img = update_test::image(1000);
    Bytes out(block::block_size(env, img));
    REQUIRE(block::frame(env, img, out) == 1161);
    CHECK(hex(std::span(out).first(6)) ==
          "544b5531"
          "9b00");
    const auto parts = block::split(out);
    REQUIRE(parts);
    CHECK(std::ranges::equal(parts->envelope, env));
    CHECK(std::ranges::equal(parts->image, img));

    const auto empty = block::split(std::span(out).first(6 + env.size()));
    REQUIRE(empty);
    CHECK(empty->image.empty());
    CHECK(block::split(std::span(out).first(6 + env.size() - 1)) == std::unexpected(UpdateError::SizeMismatch));
    CHECK(block::split(std::span(out).first(5)) == std::unexpected(UpdateError::Malformed));
    CHECK(block::split(unhex("544b55320000")) == std::unexpected(UpdateError::Malformed));

    Bytes small(out.size() - 1);
    CHECK(block::frame(env, img, small) == std::unexpected(UpdateError::SizeMismatch));
    const Bytes largest_envelope(65535, 0xA5);
    Bytes big(6 + 65536);
    CHECK(block::frame(largest_envelope, {}, big) == 65541);
    CHECK(block::frame(Bytes(65536), {}, big) == std::unexpected(UpdateError::SizeMismatch));
}

TEST_CASE("the image verifier does not care how the image is cut") {
    const Bytes img = update_test::image(1000, 9);
    const Manifest m = update_test::release(1, 0, img);
    for (const std::size_t piece : {1u, 7u, 63u, 64u, 65u, 1000u}) {
        CAPTURE(piece);
        ImageVerifier v(m);
        for (std::size_t at = 0; at < img.size(); at += piece)
            REQUIRE(v.update(std::span(img).subspan(at, std::min(piece, img.size() - at))));
        REQUIRE(v.update({}));
        const auto settled = std::move(v).finish();
        REQUIRE(settled);
        CHECK(settled->digest == m.digest);
        CHECK(settled->size == 1000);
    }

    SUBCASE("the empty image needs no update") {
        const Manifest empty = update_test::release(1, 0, {});
        CHECK(ImageVerifier(empty).finish());
    }
    SUBCASE("one byte too many fails at once and for good") {
        ImageVerifier v(m);
        REQUIRE(v.update(img));
        CHECK(v.update(Bytes{0}) == std::unexpected(UpdateError::SizeMismatch));
        CHECK(v.update({}) == std::unexpected(UpdateError::SizeMismatch));
        CHECK(std::move(v).finish() == std::unexpected(UpdateError::SizeMismatch));
    }
    SUBCASE("one byte short fails at the end") {
        ImageVerifier v(m);
        REQUIRE(v.update(std::span(img).first(999)));
        CHECK(std::move(v).finish() == std::unexpected(UpdateError::SizeMismatch));
    }
    SUBCASE("one byte changed fails at the end") {
        Bytes changed = img;
        changed[500] ^= 0x80;
        ImageVerifier v(m);
        REQUIRE(v.update(changed));
        CHECK(std::move(v).finish() == std::unexpected(UpdateError::DigestMismatch));
    }
}

}  // namespace
}  // namespace trovik::update
