#include <doctest/doctest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/crypto/hkdf_sha256.hpp"
#include "trovik/crypto/hmac_sha256.hpp"

namespace trovik::crypto {
namespace {

std::vector<std::uint8_t> unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }
using Bytes = std::vector<std::uint8_t>;

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes repeat(std::uint8_t b, std::size_t n) { return Bytes(n, b); }
Bytes counting(std::uint8_t from, std::uint8_t to) {
    Bytes out;
    for (unsigned b = from; b <= to; ++b)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

TEST_CASE("HMAC-SHA256 matches RFC 4231, the long keys hashed first") {
    struct Case {
        Bytes key, data;
        std::string_view mac;  // case 5 publishes only the first 16 bytes
    };
    const Case cases[] = {
        {repeat(0x0b, 20), text("Hi There"), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {text("Jefe"), text("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {repeat(0xaa, 20), repeat(0xdd, 50), "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {counting(1, 25), repeat(0xcd, 50), "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {repeat(0x0c, 20), text("Test With Truncation"), "a3b6167473100ee06e0c796c2955552b"},
        {repeat(0xaa, 131), text("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {repeat(0xaa, 131),
         text("This is a test using a larger than block-size key and a larger than block-size data. The key needs to "
              "be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.mac);
        const auto expected = unhex(c.mac);
        const Mac mac = hmac_sha256(c.key, c.data);
        CHECK(std::ranges::equal(std::span(mac).first(expected.size()), expected));
        // The same code when the data arrives in two pieces.
        const std::size_t cut = c.data.size() / 3;
        const Mac pieces =
            HmacSha256(c.key).update(std::span(c.data).first(cut)).update(std::span(c.data).subspan(cut)).finish();
        CHECK(pieces == mac);
    }
}

TEST_CASE("a key of exactly one block is used as it is, one byte longer is hashed") {
    const Bytes block = counting(0, 63);
    const Bytes longer = counting(0, 64);
    const auto hashed = sha256(longer);
    CHECK(hmac_sha256(longer, text("m")) == hmac_sha256(hashed, text("m")));
    CHECK(hmac_sha256(block, text("m")) != hmac_sha256(sha256(block), text("m")));
}

TEST_CASE("HKDF-SHA256 matches RFC 5869") {
    struct Case {
        Bytes salt, ikm, info;
        std::string_view okm;
    };
    const Case cases[] = {
        {counting(0x00, 0x0c), repeat(0x0b, 22), counting(0xf0, 0xf9),
         "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
        {counting(0x60, 0xaf), counting(0x00, 0x4f), counting(0xb0, 0xff),
         "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41c65e590e09da3275600c"
         "2f09b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87"},
        {{},
         repeat(0x0b, 22),
         {},
         "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.okm);
        Bytes okm(c.okm.size() / 2);
        hkdf_sha256(c.salt, c.ikm, c.info, okm);
        CHECK(okm == unhex(c.okm));
    }
}

TEST_CASE("HKDF-SHA256 lengths: nothing, the most, and past the most") {
    const Bytes salt = text("salt"), ikm = text("input"), info = text("info");
    Bytes empty;
    hkdf_sha256(salt, ikm, info, empty);
    CHECK(empty.empty());

    Bytes most(kHkdfMaxLength);
    hkdf_sha256(salt, ikm, info, most);
    Bytes first(32);
    hkdf_sha256(salt, ikm, info, first);
    CHECK(std::ranges::equal(std::span(most).first(32), first));
    CHECK(std::ranges::equal(std::span(most).first(32), std::span(most).subspan(32, 32)) == false);

    Bytes too_long(kHkdfMaxLength + 1, 0xee);
    CHECK_THROWS_AS(hkdf_sha256(salt, ikm, info, too_long), std::length_error);
    CHECK(too_long == Bytes(kHkdfMaxLength + 1, 0xee));
}

}  // namespace
}  // namespace trovik::crypto
