// MQTT-style topic matching: a filter and a topic, split at the first 0 byte
// (the topic is empty when there is none). The answer must be the one of a
// plain recursive matcher over the split levels, written here from the
// rules; and every text matches itself as a filter.
// libFuzzer options: -max_len=512
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "support.hpp"
#include "trovik/core/topic.hpp"

namespace {

// The levels between the slashes, empty ones included: "" is one empty
// level, "/a" is "" and "a", "a/" is "a" and "".
std::vector<std::string_view> levels(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '/') {
            out.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

using Levels = std::span<const std::string_view>;

// `#` takes whatever is left, none included; `+` takes exactly one level,
// an empty one included; any other level must be the same bytes. Only a
// level that is exactly `+` or `#` is a wildcard.
bool match_levels(Levels filter, Levels topic) {
    if (filter.empty()) return topic.empty();
    if (filter.front() == "#") return true;
    if (topic.empty()) return false;
    if (filter.front() != "+" && filter.front() != topic.front()) return false;
    return match_levels(filter.subspan(1), topic.subspan(1));
}

// A wildcard standing first in a filter never reaches a topic that begins
// with `$` (the broker's own topics); a filter that spells the `$` level out
// does.
bool reference(std::string_view filter, std::string_view topic) {
    const auto f = levels(filter);
    const auto t = levels(topic);
    if (!topic.empty() && topic[0] == '$' && (f[0] == "+" || f[0] == "#")) return false;
    return match_levels(f, t);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = trovik::fuzz::as_text({data, size});
    const auto zero = input.find('\0');
    const std::string_view filter = input.substr(0, zero);
    const std::string_view topic = zero == std::string_view::npos ? std::string_view() : input.substr(zero + 1);

    FUZZ_CHECK(trovik::core::topic_matches(filter, topic) == reference(filter, topic));
    FUZZ_CHECK(trovik::core::topic_matches(topic, filter) == reference(topic, filter));
    // A `$` first level is never a wildcard, and a wildcard level matches
    // itself, so any text taken as a filter matches itself as a topic.
    FUZZ_CHECK(trovik::core::topic_matches(filter, filter));
    FUZZ_CHECK(trovik::core::topic_matches(topic, topic));
    return 0;
}
