#include <doctest/doctest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/crypto/edwards.hpp"
#include "trovik/security/identity.hpp"

namespace trovik::security {
namespace {

std::vector<std::uint8_t> unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }
using Key = std::array<std::uint8_t, 32>;

Key key(std::string_view text) {
    Key k{};
    std::ranges::copy(unhex(text), k.begin());
    return k;
}

std::string auth(std::string_view text) { return core::Error::auth(std::string(text)).display(); }

// RFC 8032 section 7.1: secret key, public key, message, signature.
struct Vector {
    std::string_view seed, public_key, message, signature;
};
constexpr Vector kRfc8032[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe2"
     "4655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302ae"
     "eb00d291612bb0c00"},
    {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28"
     "dc027beceea1ec40a"},
    {"833fe62409237b9d62ec77587520911e9a759cec1d19755b7da901b96dca3d42",
     "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e"
     "2a9ac94fa54ca49f",
     "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b58909351fc9ac90b3ecfdfbc7c66431e0303dca179c138ac17a"
     "d9bef1177331a704"},
};

TEST_CASE("keys and signatures match RFC 8032, and each verifies") {
    for (const auto& v : kRfc8032) {
        CAPTURE(v.seed);
        const auto identity = DeviceIdentity::from_seed(key(v.seed));
        CHECK(identity.public_identity().to_bytes() == key(v.public_key));
        const auto message = unhex(v.message);
        const auto signature = identity.sign(message);
        CHECK(std::ranges::equal(signature.to_bytes(), unhex(v.signature)));

        const auto reader = PublicIdentity::from_bytes(key(v.public_key));
        REQUIRE(reader.has_value());
        CHECK(reader->verify(message, signature).has_value());
        CHECK(*reader == identity.public_identity());
    }
}

TEST_CASE("any changed bit of payload or signature fails verification") {
    const auto identity = DeviceIdentity::from_seed(key(kRfc8032[2].seed));
    const auto message = unhex(kRfc8032[2].message);
    const auto good = identity.sign(message).to_bytes();
    const auto& reader = identity.public_identity();
    for (std::size_t bit = 0; bit < good.size() * 8; bit += 7) {
        auto bad = good;
        bad[bit / 8] ^= static_cast<std::uint8_t>(1 << (bit % 8));
        CHECK(reader.verify(message, Signature::from_bytes(bad)).error().display() ==
              auth("signature verification failed"));
    }
    for (std::size_t bit = 0; bit < message.size() * 8; ++bit) {
        auto bad = message;
        bad[bit / 8] ^= static_cast<std::uint8_t>(1 << (bit % 8));
        CHECK_FALSE(reader.verify(bad, Signature::from_bytes(good)).has_value());
    }
    // S + L: the same point equation holds, but S must be below the group order.
    constexpr std::uint8_t order[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                        0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                                        0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};
    auto malleated = good;
    unsigned carry = 0;
    for (std::size_t i = 0; i < 32; ++i) {
        carry += unsigned{malleated[32 + i]} + order[i];
        malleated[32 + i] = static_cast<std::uint8_t>(carry);
        carry >>= 8;
    }
    CHECK_FALSE(reader.verify(message, Signature::from_bytes(malleated)).has_value());
}

TEST_CASE("signed messages carry the signature, then the payload") {
    const auto identity = DeviceIdentity::from_seed(key(kRfc8032[1].seed));
    const auto& reader = identity.public_identity();
    for (const auto& payload : {unhex(""), unhex("72"), unhex("00112233")}) {
        const auto message = identity.sign_message(payload);
        REQUIRE(message.size() == 64 + payload.size());
        CHECK(std::ranges::equal(std::span(message).first(64), identity.sign(payload).to_bytes()));
        const auto read = reader.verify_message(message);
        REQUIRE(read.has_value());
        CHECK(std::ranges::equal(*read, payload));
        CHECK(read->data() == message.data() + 64);  // a view, not a copy
    }
    const std::vector<std::uint8_t> short_message(63);
    CHECK(reader.verify_message(short_message).error().display() == auth("message is shorter than a signature"));
    auto altered = identity.sign_message(unhex("0011"));
    altered.back() ^= 1;
    CHECK(reader.verify_message(altered).error().display() == auth("signature verification failed"));
}

TEST_CASE("a fingerprint is the first eight key bytes in lowercase hex") {
    const auto reader = PublicIdentity::from_bytes(key(kRfc8032[0].public_key));
    CHECK(reader->fingerprint() == "d75a980182b10ab7");
    CHECK(DeviceIdentity::from_seed(key(kRfc8032[3].seed)).public_identity().fingerprint() == "ec172b93ad5e563b");
}

// Encodings and what they name, worked out independently of this code.
TEST_CASE("reading a key refuses what is not a point, and points of small order") {
    using crypto::edwards::PointClass;
    const std::string_view p_minus = "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f";
    struct Case {
        std::string key;
        PointClass expected;
    };
    const Case cases[] = {
        {std::string(kRfc8032[0].public_key), PointClass::Usable},
        {"03" + std::string(62, '0'), PointClass::Usable},
        {"02" + std::string(62, '0'), PointClass::NotAPoint},
        {"07" + std::string(62, '0'), PointClass::NotAPoint},
        // p + 3 and p + 2: an unreduced y reads as y - p.
        {"f0" + std::string(p_minus), PointClass::Usable},
        {"ef" + std::string(p_minus), PointClass::NotAPoint},
        // The identity (y = 1), order 2 (y = -1), order 4 (y = 0), order 8.
        {"01" + std::string(62, '0'), PointClass::SmallOrder},
        {"01" + std::string(60, '0') + "80", PointClass::SmallOrder},
        {"ec" + std::string(p_minus), PointClass::SmallOrder},
        {"ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff", PointClass::SmallOrder},
        {std::string(64, '0'), PointClass::SmallOrder},
        {std::string(62, '0') + "80", PointClass::SmallOrder},
        {"26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05", PointClass::SmallOrder},
        {"26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc85", PointClass::SmallOrder},
        {"c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a", PointClass::SmallOrder},
        {"c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac03fa", PointClass::SmallOrder},
        // p and p + 1: y = 0 and y = 1 again, unreduced.
        {"ed" + std::string(p_minus), PointClass::SmallOrder},
        {"ee" + std::string(p_minus), PointClass::SmallOrder},
    };
    for (const auto& c : cases) {
        CAPTURE(c.key);
        CHECK(crypto::edwards::classify(key(c.key)) == c.expected);
        const auto read = PublicIdentity::from_bytes(key(c.key));
        if (c.expected == PointClass::Usable) {
            CHECK(read.has_value());
        } else {
            CHECK(read.error().display() == auth("invalid public identity"));
        }
    }
}

TEST_CASE("a small-order key would accept one forged signature for every message") {
    // With A and R the identity, [S]B - [k]A = R holds for S = 0 whatever the
    // message: OpenSSL takes the forgery, which is why reading the key refuses it.
    const auto identity_point = key("01" + std::string(62, '0'));
    auto forged = std::array<std::uint8_t, 64>{};
    forged[0] = 1;
    EVP_PKEY* raw = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, identity_point.data(), 32);
    REQUIRE(raw != nullptr);
    for (const auto& message : {unhex("616263"), unhex("00ff00ff")}) {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        REQUIRE(EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, raw) == 1);
        CHECK(EVP_DigestVerify(ctx, forged.data(), forged.size(), message.data(), message.size()) == 1);
        EVP_MD_CTX_free(ctx);
    }
    EVP_PKEY_free(raw);
    CHECK(PublicIdentity::from_bytes(identity_point).error().display() == auth("invalid public identity"));
}

}  // namespace
}  // namespace trovik::security
