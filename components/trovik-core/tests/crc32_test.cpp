#include <doctest/doctest.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "trovik/core/crc32.hpp"

using namespace trovik::core;

namespace {
std::span<const std::uint8_t> bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}
}  // namespace

TEST_CASE("CRC-32 gives the published check value and zlib's values") {
    CHECK(crc32(bytes("123456789")) == 0xCBF43926);
    CHECK(crc32({}) == 0);
    CHECK(crc32(bytes("The quick brown fox jumps over the lazy dog")) == 0x414FA339);
    // In pieces, the same as all at once.
    Crc32 pieces;
    pieces.update(bytes("1234")).update(bytes("")).update(bytes("56789"));
    CHECK(pieces.value() == 0xCBF43926);
    static_assert(crc32(std::span<const std::uint8_t>{}) == 0);
}
