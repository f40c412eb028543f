#include "trovik/codec/cbor_head.hpp"

namespace trovik::codec::cbor {

EncodedHead encode_head(std::uint8_t major, std::uint64_t value) noexcept {
    EncodedHead head{};
    const auto initial = static_cast<std::uint8_t>(major << 5);
    if (value < 24) {
        head.bytes[0] = static_cast<std::uint8_t>(initial | value);
        head.size = 1;
        return head;
    }
    std::uint8_t info;
    int width;
    if (value <= 0xFF) {
        info = 24;
        width = 1;
    } else if (value <= 0xFFFF) {
        info = 25;
        width = 2;
    } else if (value <= 0xFFFFFFFF) {
        info = 26;
        width = 4;
    } else {
        info = 27;
        width = 8;
    }
    head.bytes[0] = static_cast<std::uint8_t>(initial | info);
    for (int i = 0; i < width; ++i)
        head.bytes[1 + i] = static_cast<std::uint8_t>(value >> ((width - 1 - i) * 8));
    head.size = static_cast<std::uint8_t>(1 + width);
    return head;
}

bool Head::shortest() const noexcept {
    switch (info) {
        case 24: return value >= 24;
        case 25: return value > 0xFF;
        case 26: return value > 0xFFFF;
        case 27: return value > 0xFFFFFFFF;
        default: return true;
    }
}

std::expected<Head, HeadFault> read_head(std::span<const std::uint8_t> input, std::size_t& pos) noexcept {
    if (pos >= input.size()) return std::unexpected(HeadFault::EndOfInput);
    Head head{pos, 0, 0, 0};
    const std::uint8_t initial = input[pos++];
    head.major = initial >> 5;
    head.info = initial & 0x1F;
    if (head.info < 24) {
        head.value = head.info;
    } else if (head.info <= 27) {
        const std::size_t width = std::size_t{1} << (head.info - 24);
        if (input.size() - pos < width) return std::unexpected(HeadFault::EndOfInput);
        for (std::size_t i = 0; i < width; ++i)
            head.value = (head.value << 8) | input[pos++];
    } else if (head.info < info_indefinite) {
        return std::unexpected(HeadFault::Reserved);
    }
    return head;
}

}  // namespace trovik::codec::cbor
