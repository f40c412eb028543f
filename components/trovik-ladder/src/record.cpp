#include "trovik/ladder/record.hpp"

#include <limits>
#include <optional>
#include <string>

namespace trovik::ladder {
namespace {

bool continuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Where the first bad UTF-8 sequence starts and how long it is, in the
// customary wording: the length is how many bytes were seen to be wrong (1 to
// 3), or none when the text ends inside a sequence that was valid so far.
std::optional<std::string> utf8_fault(std::span<const std::uint8_t> text) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    auto invalid = [&](int length) {
        return "invalid utf-8 sequence of " + std::to_string(length) + " bytes from index " + std::to_string(i);
    };
    auto incomplete = [&] { return "incomplete utf-8 byte sequence from index " + std::to_string(i); };
    while (i < n) {
        const std::uint8_t first = text[i];
        if (first < 0x80) {
            ++i;
            continue;
        }
        int width = first >= 0xC2 && first <= 0xDF   ? 2
                    : first >= 0xE0 && first <= 0xEF ? 3
                    : first >= 0xF0 && first <= 0xF4 ? 4
                                                     : 0;
        if (width == 0) return invalid(1);
        if (i + 1 >= n) return incomplete();
        const std::uint8_t second = text[i + 1];
        bool second_ok;
        switch (first) {
            case 0xE0: second_ok = second >= 0xA0 && second <= 0xBF; break;
            case 0xED: second_ok = second >= 0x80 && second <= 0x9F; break;
            case 0xF0: second_ok = second >= 0x90 && second <= 0xBF; break;
            case 0xF4: second_ok = second >= 0x80 && second <= 0x8F; break;
            default: second_ok = continuation(second); break;
        }
        if (!second_ok) return invalid(1);
        for (int k = 2; k < width; ++k) {
            if (i + k >= n) return incomplete();
            if (!continuation(text[i + k])) return invalid(k);
        }
        i += static_cast<std::size_t>(width);
    }
    return std::nullopt;
}

}  // namespace

std::expected<core::Bytes, core::Error> frame(std::string_view topic, std::span<const std::uint8_t> payload) {
    if (topic.size() > std::numeric_limits<std::uint32_t>::max())
        return std::unexpected(core::Error::codec("ladder record topic is too long"));
    const auto length = static_cast<std::uint32_t>(topic.size());
    core::Bytes record;
    record.reserve(4 + topic.size() + payload.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        record.push_back(static_cast<std::uint8_t>(length >> shift));
    record.insert(record.end(), topic.begin(), topic.end());
    record.insert(record.end(), payload.begin(), payload.end());
    return record;
}

std::expected<core::Message, core::Error> unframe(std::span<const std::uint8_t> record) {
    if (record.size() < 4) return std::unexpected(core::Error::codec("ladder record is missing its length header"));
    const std::uint64_t length = std::uint64_t{record[0]} << 24 | std::uint64_t{record[1]} << 16 |
                                 std::uint64_t{record[2]} << 8 | std::uint64_t{record[3]};
    if (4 + length > record.size()) return std::unexpected(core::Error::codec("ladder record topic is truncated"));
    auto topic = record.subspan(4, static_cast<std::size_t>(length));
    if (auto fault = utf8_fault(topic)) return std::unexpected(core::Error::codec(std::move(*fault)));
    return core::Message{std::string(topic.begin(), topic.end()), core::Bytes(topic.end(), record.end())};
}

}  // namespace trovik::ladder
