#include <doctest/doctest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/crypto/aes128.hpp"

namespace trovik::crypto {
namespace {

using Bytes = std::vector<std::uint8_t>;
Bytes unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }
AesBlock block(std::string_view text) { return core::text::array_from_hex<16>(text).value(); }

const AesBlock kRfcKey = block("2b7e151628aed2a6abf7158809cf4f3c");
const Bytes kRfcMessage = unhex(
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");

TEST_CASE("AES-128 encrypts the FIPS-197 example and decrypts it back") {
    const AesBlock key = block("000102030405060708090a0b0c0d0e0f");
    const AesBlock plain = block("00112233445566778899aabbccddeeff");
    const AesBlock cipher_text = block("69c4e0d86a7b0430d8cdb78070b4c55a");
    const Cipher cipher(key);
    CHECK(cipher.encrypt_block(plain) == cipher_text);
    CHECK(cipher.decrypt_block(cipher_text) == plain);

    SUBCASE("whole blocks in place agree with one block at a time") {
        Bytes blocks(48);
        for (std::size_t i = 0; i < blocks.size(); ++i)
            blocks[i] = static_cast<std::uint8_t>(i * 7);
        Bytes copy = blocks;
        cipher.encrypt_blocks(blocks);
        for (std::size_t at = 0; at < copy.size(); at += 16) {
            AesBlock one;
            std::copy_n(copy.begin() + static_cast<std::ptrdiff_t>(at), 16, one.begin());
            CHECK(std::ranges::equal(cipher.encrypt_block(one), std::span(blocks).subspan(at, 16)));
        }
        cipher.decrypt_blocks(blocks);
        CHECK(blocks == copy);
        Bytes ragged(17);
        CHECK_THROWS_AS(cipher.encrypt_blocks(ragged), std::invalid_argument);
    }
}

TEST_CASE("AES-CMAC gives the RFC 4493 tags, whole and fed in pieces") {
    struct Case {
        std::size_t length;
        std::string_view tag;
    };
    const Case cases[] = {
        {0, "bb1d6929e95937287fa37d129b756746"},
        {16, "070a16b46b4d4144f79bdd9dd04a287c"},
        {40, "dfa66747de9ae63030ca32611497c827"},
        {64, "51f0bebf7e3b9d92fc49741779363cfe"},
    };
    const Cipher cipher(kRfcKey);
    for (const auto& c : cases) {
        CAPTURE(c.length);
        const std::span<const std::uint8_t> message(kRfcMessage.data(), c.length);
        const AesBlock expected = block(c.tag);
        CHECK(cipher.cmac(message) == expected);
        CHECK(CmacStream(cipher).update(message).finish() == expected);

        // Every split into two pieces, and byte by byte.
        for (std::size_t cut = 0; cut <= c.length; ++cut) {
            CmacStream stream(cipher);
            stream.update(message.first(cut)).update(message.subspan(cut));
            CHECK(stream.finish() == expected);
        }
        CmacStream bytes(cipher);
        for (std::size_t i = 0; i < c.length; ++i)
            bytes.update(message.subspan(i, 1));
        CHECK(bytes.finish() == expected);
    }

    SUBCASE("40 bytes as 1 + 15 + 16 + 8, with empty pieces between") {
        const std::span<const std::uint8_t> message(kRfcMessage.data(), 40);
        CmacStream stream(cipher);
        stream.update(message.subspan(0, 1)).update({}).update(message.subspan(1, 15));
        stream.update(message.subspan(16, 16)).update({}).update(message.subspan(32, 8));
        CHECK(stream.finish() == block("dfa66747de9ae63030ca32611497c827"));
    }
}

TEST_CASE("AES-CMAC picks K1 for a complete last block and K2 with padding otherwise") {
    // The subkeys of the RFC's key, from its section 4.
    const AesBlock k1 = block("fbeed618357133667c85e08f7236a8de");
    const AesBlock k2 = block("f7ddac306ae266ccf90bc11ee46d513b");
    const Cipher cipher(kRfcKey);
    auto xored = [](AesBlock a, const AesBlock& b) {
        for (std::size_t i = 0; i < a.size(); ++i)
            a[i] ^= b[i];
        return a;
    };
    // One block: the tag is E(M xor K1) when complete, E(pad(M) xor K2) when not.
    for (std::size_t length : {0u, 1u, 15u, 16u}) {
        CAPTURE(length);
        AesBlock padded{};
        std::copy_n(kRfcMessage.begin(), length, padded.begin());
        if (length < 16) padded[length] = 0x80;
        const AesBlock expected = cipher.encrypt_block(xored(padded, length == 16 ? k1 : k2));
        CHECK(cipher.cmac(std::span(kRfcMessage).first(length)) == expected);
    }
    // 17 bytes: the first block chains, the one left over is padded under K2.
    AesBlock padded{};
    padded[0] = kRfcMessage[16];
    padded[1] = 0x80;
    AesBlock first;
    std::copy_n(kRfcMessage.begin(), 16, first.begin());
    const AesBlock expected = cipher.encrypt_block(xored(cipher.encrypt_block(first), xored(padded, k2)));
    CHECK(cipher.cmac(std::span(kRfcMessage).first(17)) == expected);
}

}  // namespace
}  // namespace trovik::crypto
