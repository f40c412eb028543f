#include <doctest/doctest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/crypto/chacha20_poly1305.hpp"

namespace trovik::crypto::chacha20_poly1305 {
namespace {

std::vector<std::uint8_t> unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }
using Bytes = std::vector<std::uint8_t>;

// RFC 8439 section 2.8.2.
struct Rfc8439 {
    Bytes key = unhex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f");
    Bytes nonce = unhex("070000004041424344454647");
    Bytes aad = unhex("50515253c0c1c2c3c4c5c6c7");
    std::string_view text =
        "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the future, sunscreen would "
        "be it.";
    Bytes ciphertext = unhex(
        "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb69da92728b1a71de0a9e06"
        "0b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc3ff4def08e4b7a9de576d26586"
        "cec64b6116");
    Bytes tag = unhex("1ae10b594f09e26a7e902ecbd0600691");

    Key k() const { return Key(key.data(), kKeySize); }
    Nonce n() const { return Nonce(nonce.data(), kNonceSize); }
    std::span<const std::uint8_t, kTagSize> t(const Bytes& tag_bytes) const {
        return std::span<const std::uint8_t, kTagSize>(tag_bytes.data(), kTagSize);
    }
};

TEST_CASE("sealing and opening match RFC 8439") {
    const Rfc8439 v;
    Bytes buffer(v.text.begin(), v.text.end());
    const Tag tag = seal(v.k(), v.n(), v.aad, buffer);
    CHECK(buffer == v.ciphertext);
    CHECK(std::ranges::equal(tag, v.tag));

    REQUIRE(open(v.k(), v.n(), v.aad, buffer, v.t(v.tag)));
    CHECK(std::ranges::equal(buffer, v.text));
}

TEST_CASE("a message that fails its tag opens to zeros") {
    const Rfc8439 v;
    struct Case {
        const char* what;
        std::size_t ciphertext_byte = SIZE_MAX, tag_byte = SIZE_MAX, aad_byte = SIZE_MAX, nonce_byte = SIZE_MAX;
    };
    const Case cases[] = {{"ciphertext", 0},
                          {"ciphertext end", v.ciphertext.size() - 1},
                          {"tag", SIZE_MAX, 15},
                          {"aad", SIZE_MAX, SIZE_MAX, 3},
                          {"nonce", SIZE_MAX, SIZE_MAX, SIZE_MAX, 11}};
    for (const auto& c : cases) {
        CAPTURE(c.what);
        Bytes buffer = v.ciphertext, tag = v.tag, aad = v.aad, nonce = v.nonce;
        if (c.ciphertext_byte != SIZE_MAX) buffer[c.ciphertext_byte] ^= 0x01;
        if (c.tag_byte != SIZE_MAX) tag[c.tag_byte] ^= 0x80;
        if (c.aad_byte != SIZE_MAX) aad[c.aad_byte] ^= 0x10;
        if (c.nonce_byte != SIZE_MAX) nonce[c.nonce_byte] ^= 0x01;
        CHECK_FALSE(open(v.k(), Nonce(nonce.data(), kNonceSize), aad, buffer, v.t(tag)));
        CHECK(buffer == Bytes(buffer.size(), 0));
    }
}

TEST_CASE("an empty message still carries a tag over its associated data") {
    const Rfc8439 v;
    Bytes empty;
    const Tag with_aad = seal(v.k(), v.n(), v.aad, empty);
    const Tag without = seal(v.k(), v.n(), {}, empty);
    CHECK(with_aad != without);
    CHECK(open(v.k(), v.n(), v.aad, empty, with_aad));
    CHECK_FALSE(open(v.k(), v.n(), {}, empty, with_aad));
}

}  // namespace
}  // namespace trovik::crypto::chacha20_poly1305
