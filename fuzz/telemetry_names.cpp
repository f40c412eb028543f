// Telemetry level and link-cost names: a text is accepted exactly when it is
// one of the names, byte for byte, and reads back to itself; anything else
// is refused with a message that ends in the text as given.
// libFuzzer options: -max_len=64
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support.hpp"
#include "trovik/telemetry/reporter.hpp"

namespace {

constexpr std::string_view levels[] = {"Trace", "Debug", "Info", "Warn", "Error"};
constexpr std::string_view costs[] = {"Free", "Metered", "Expensive", "Offline"};

template <std::size_t N>
bool listed(const std::string_view (&names)[N], std::string_view text) {
    for (std::string_view name : names)
        if (name == text) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace trovik::telemetry;
    std::string_view text = trovik::fuzz::as_text({data, size});

    auto level = parse_level(text);
    FUZZ_CHECK(level.has_value() == listed(levels, text));
    if (level) {
        FUZZ_CHECK(name(*level) == text);
        Reporter r(*level);
        FUZZ_CHECK(r.record(*level));
        FUZZ_CHECK(r.total() == 1 && r.emitted() == 1 && r.dropped() == 0);
    } else {
        FUZZ_CHECK(level.error().message() == "unknown level " + std::string(text));
    }

    auto cost = parse_link_cost(text);
    FUZZ_CHECK(cost.has_value() == listed(costs, text));
    if (cost)
        FUZZ_CHECK(name(*cost) == text);
    else
        FUZZ_CHECK(cost.error().message() == "unknown link cost " + std::string(text));
    return 0;
}
