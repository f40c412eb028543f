#include <doctest/doctest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/crypto/sha256.hpp"

namespace trovik::crypto {
namespace {

std::vector<std::uint8_t> unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }

std::span<const std::uint8_t> bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST_CASE("SHA-256 matches the published examples, whole and in pieces") {
    struct Case {
        std::string_view message;
        std::string_view digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.message);
        CHECK(std::ranges::equal(sha256(bytes(c.message)), unhex(c.digest)));
        for (std::size_t cut = 0; cut <= c.message.size(); ++cut) {
            Sha256 h;
            h.update(bytes(c.message.substr(0, cut))).update(bytes(c.message.substr(cut)));
            CHECK(std::ranges::equal(h.finish(), unhex(c.digest)));
        }
    }
}

TEST_CASE("a copied state carries on from where the original was") {
    Sha256 prefix;
    prefix.update(bytes("ab"));
    Sha256 copy = prefix;
    CHECK(std::ranges::equal(copy.update(bytes("c")).finish(), sha256(bytes("abc"))));
    CHECK(std::ranges::equal(prefix.update(bytes("")).finish(), sha256(bytes("ab"))));
}

}  // namespace
}  // namespace trovik::crypto
