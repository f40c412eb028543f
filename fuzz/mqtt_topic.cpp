// MQTT topic names and subscription filters: the input is checked both as a
// topic to publish to and as a filter, and the answer (including which refusal
// comes first) must be the one the rules below give, written here level by
// level from MQTT 3.1.1's topic rules. Short inputs are also padded to either
// side of the 65,535-byte limit, so the length rule meets the others without
// long inputs.
// libFuzzer options: -max_len=256
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "support.hpp"
#include "trovik/mqtt/topics.hpp"

namespace mqtt = trovik::mqtt;

namespace {

constexpr std::size_t longest = 65'535;

const std::string wildcard_in_topic = " holds a wildcard, which only a subscription may use";
const std::string misplaced_in_filter =
    " places a wildcard where MQTT does not allow one: # only alone in the last level, + only as a whole level";

// The levels between the slashes, empty ones included: "" is one empty level,
// "a/" is "a" and "".
std::vector<std::string_view> levels(std::string_view text) {
    std::vector<std::string_view> out;
    for (;;) {
        const auto slash = text.find('/');
        out.push_back(text.substr(0, slash));
        if (slash == std::string_view::npos) return out;
        text.remove_prefix(slash + 1);
    }
}

// memchr, so that the padded texts below do not cost a traced comparison per
// byte.
bool holds(std::string_view text, char c) { return std::memchr(text.data(), c, text.size()) != nullptr; }

// What both kinds of text must also be: some text, no U+0000, at most 65,535
// bytes in its length prefix. "" when it passes.
std::string length_refusal(std::string_view text) {
    if (text.empty()) return "an MQTT topic has at least one character";
    if (holds(text, '\0')) return "an MQTT topic cannot hold a null character";
    if (text.size() > longest) return "an MQTT topic is at most 65,535 bytes";
    return "";
}

// A topic name carries no wildcard at all.
std::string topic_refusal(std::string_view topic) {
    if (holds(topic, '+') || holds(topic, '#')) return "the topic " + std::string(topic) + wildcard_in_topic;
    return length_refusal(topic);
}

// In a filter, `+` is a whole level on its own and `#` is a whole level on its
// own that is also the last one; anywhere else either is refused.
std::string filter_refusal(std::string_view filter) {
    const auto all = levels(filter);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string_view level = all[i];
        const bool last = i + 1 == all.size();
        const bool plus_ok = !holds(level, '+') || level == "+";
        const bool hash_ok = !holds(level, '#') || (level == "#" && last);
        if (!plus_ok || !hash_ok) return "the filter " + std::string(filter) + misplaced_in_filter;
    }
    return length_refusal(filter);
}

template <class Check>
std::string refusal(Check check, std::string_view text) {
    const auto result = check(text);
    if (result) return "";
    FUZZ_CHECK(result.error().kind() == trovik::core::Error::Kind::TransportFault);
    return result.error().detail();
}

void check(std::string_view text) {
    const std::string as_topic = refusal(mqtt::check_topic, text);
    const std::string as_filter = refusal(mqtt::check_filter, text);
    FUZZ_CHECK(as_topic == topic_refusal(text));
    FUZZ_CHECK(as_filter == filter_refusal(text));
    FUZZ_CHECK(refusal(mqtt::check_length, text) == length_refusal(text));
    // Every valid topic is also a valid filter (one that selects just itself).
    if (as_topic.empty()) FUZZ_CHECK(as_filter.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = trovik::fuzz::as_text({data, size});
    check(input);
    // Short texts again behind a first level of 'x's that takes them to one
    // byte under, at or over the limit, chosen by their length. Only short
    // ones: the component's own scans of 64 KiB are slow under the fuzzer.
    if (input.size() <= 16) {
        static std::string padded;
        const std::size_t total = longest - 1 + input.size() % 3;
        padded.assign(total - input.size() - 1, 'x');
        padded += '/';
        padded += input;
        check(padded);
    }
    return 0;
}
