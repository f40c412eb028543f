#include <doctest/doctest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/session/kex.hpp"

namespace trovik::session {
namespace {

std::vector<std::uint8_t> unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }
using Key = std::array<std::uint8_t, 32>;

Key key(std::string_view text) {
    Key k{};
    std::ranges::copy(unhex(text), k.begin());
    return k;
}

TEST_CASE("X25519 matches RFC 7748") {
    SUBCASE("scalar multiplication, section 5.2") {
        struct Case {
            std::string_view scalar, u, out;
        };
        const Case cases[] = {
            {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
             "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
             "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
            {"4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
             "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
             "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"},
        };
        for (const auto& c : cases) {
            CHECK(AgreementKey::from_seed(key(c.scalar)).agree(key(c.u)).value() == key(c.out));
        }
    }
    SUBCASE("Diffie-Hellman, section 6.1") {
        const auto alice =
            AgreementKey::from_seed(key("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a"));
        const auto bob =
            AgreementKey::from_seed(key("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb"));
        CHECK(alice.public_key() == key("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"));
        CHECK(bob.public_key() == key("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"));
        const Key shared = key("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
        CHECK(alice.agree(bob.public_key()).value() == shared);
        CHECK(bob.agree(alice.public_key()).value() == shared);
    }
}

TEST_CASE("a peer key of small order is refused: it gives all zeros") {
    const auto local = AgreementKey::from_seed(key("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a"));
    const std::string p_minus = "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f";
    const std::string cases[] = {
        std::string(64, '0'),
        "01" + std::string(62, '0'),
        "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",
        "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157",
        "ec" + p_minus,                                                      // p - 1
        "ed" + p_minus,                                                      // p, that is 0
        "ee" + p_minus,                                                      // p + 1, that is 1
        "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",  // top bit ignored
    };
    for (const auto& peer : cases) {
        CAPTURE(peer);
        const auto shared = local.agree(key(peer));
        REQUIRE_FALSE(shared.has_value());
        CHECK(shared.error().message() == "the peer's key gives an all-zero shared secret");
    }
}

}  // namespace
}  // namespace trovik::session
