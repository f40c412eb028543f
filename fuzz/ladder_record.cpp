// Ladder records: a record that unframes frames back to its own bytes; the
// topic check agrees with the shared UTF-8 validator and names the first bad
// sequence; any topic and payload frame and unframe unchanged.
// libFuzzer options: -max_len=1024
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "support.hpp"
#include "trovik/core/text.hpp"
#include "trovik/ladder/record.hpp"

using namespace trovik;
using trovik::fuzz::as_text;

namespace {

// The number that follows `prefix` in `text`.
std::size_t number_after(std::string_view text, std::string_view prefix) {
    const auto at = text.find(prefix);
    FUZZ_CHECK(at != std::string_view::npos);
    std::size_t value = 0;
    const char* first = text.data() + at + prefix.size();
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    FUZZ_CHECK(error == std::errc());
    return value;
}

void check_fault(std::string_view topic, std::string_view fault) {
    using core::text::is_valid_utf8;
    FUZZ_CHECK(!is_valid_utf8(topic));
    const std::size_t index = number_after(fault, "from index ");
    FUZZ_CHECK(index < topic.size());
    // The fault is the first: everything before it is text, and no character starts there.
    FUZZ_CHECK(is_valid_utf8(topic.substr(0, index)));
    std::size_t at = index;
    FUZZ_CHECK(core::text::decode_utf8(topic, at) < 0);
    if (fault.starts_with("incomplete utf-8 byte sequence")) {
        FUZZ_CHECK(topic.size() - index < 4);  // the topic ends inside the sequence
        return;
    }
    FUZZ_CHECK(fault.starts_with("invalid utf-8 sequence of "));
    const std::size_t length = number_after(fault, "sequence of ");
    FUZZ_CHECK(length >= 1 && length <= 3 && index + length <= topic.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> record(data, size);
    const auto message = ladder::unframe(record);
    if (size < 4) {
        FUZZ_CHECK(!message && message.error().detail() == "ladder record is missing its length header");
    } else {
        const std::size_t length =
            std::size_t{data[0]} << 24 | std::size_t{data[1]} << 16 | std::size_t{data[2]} << 8 | data[3];
        if (length > size - 4) {
            FUZZ_CHECK(!message && message.error().detail() == "ladder record topic is truncated");
        } else {
            const auto topic = as_text(record.subspan(4, length));
            if (!message) {
                FUZZ_CHECK(message.error().kind() == core::Error::Kind::Codec);
                check_fault(topic, message.error().detail());
            } else {
                FUZZ_CHECK(message->topic == topic);
                FUZZ_CHECK(std::ranges::equal(message->payload, record.subspan(4 + length)));
                const auto framed = ladder::frame(message->topic, message->payload);
                FUZZ_CHECK(framed && std::ranges::equal(*framed, record));
            }
        }
    }

    // The input as a topic, cut where it stops being text, and the rest as the payload.
    const auto text = as_text(record);
    std::size_t cut = 0;
    while (cut < text.size()) {
        std::size_t next = cut;
        if (core::text::decode_utf8(text, next) < 0) break;
        cut = next;
    }
    const auto framed = ladder::frame(text.substr(0, cut), record.subspan(cut));
    FUZZ_CHECK(framed.has_value());
    const auto back = ladder::unframe(*framed);
    FUZZ_CHECK(back && back->topic == text.substr(0, cut) && std::ranges::equal(back->payload, record.subspan(cut)));
    return 0;
}
