// MAC command runs: every command a run yields is written back to the bytes
// it was read from (less the bits no field holds, which must read the same
// again), the walk agrees with reading command by command, and a run built
// from the commands read reads back to them.
// libFuzzer options: -max_len=300
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/lorawan/mac_command.hpp"

using namespace trovik::lorawan;

namespace {

void check_run(Direction direction, std::span<const std::uint8_t> run) {
    std::vector<MacCommand> read;
    std::size_t at = 0;
    bool stopped = false;
    for (const auto& item : MacCommands(run, direction)) {
        FUZZ_CHECK(!stopped);  // nothing after an error
        const auto one = MacCommand::parse(direction, run.subspan(at));
        if (!item) {
            FUZZ_CHECK(!one && one.error() == item.error());
            FUZZ_CHECK(item.error().kind == LorawanError::Kind::TooShort);
            stopped = true;
            continue;
        }
        FUZZ_CHECK(one && one->command == *item);
        FUZZ_CHECK(item->cid() == run[at] && item->direction() == direction);
        const auto taken = run.subspan(at, one->size);
        at += one->size;
        read.push_back(*item);

        std::array<std::uint8_t, 32> out{};
        const auto written = item->encode(out);
        const auto* rule = item->get_if<mac::FilterListReq>();
        if (rule && rule->eui_len > mac::FilterListReq::kMaxEuiLen) {
            FUZZ_CHECK(!written && written.error().kind == LorawanError::Kind::Malformed);
            continue;
        }
        FUZZ_CHECK(written && *written == taken.size());
        // Only bits no field holds may differ, and they read the same.
        const auto again = MacCommand::parse(direction, std::span(out).first(*written));
        FUZZ_CHECK(again && again->command == *item && again->size == *written);
        for (std::size_t i = 0; i < taken.size(); ++i)
            FUZZ_CHECK((out[i] & ~taken[i]) == 0);
    }
    if (!stopped && at < run.size()) {
        const auto rest = MacCommand::parse(direction, run.subspan(at));
        FUZZ_CHECK(!rest && rest.error().kind == LorawanError::Kind::UnknownMacCommand);
        (void)rest.error().display();
    }

    // The commands read, written as one run, read back the same.
    std::array<std::uint8_t, 512> buffer{};
    const auto rules_too_long = std::ranges::any_of(read, [](const MacCommand& c) {
        const auto* rule = c.get_if<mac::FilterListReq>();
        return rule && rule->eui_len > mac::FilterListReq::kMaxEuiLen;
    });
    const auto total = encode_all(read, buffer);
    if (rules_too_long) {
        FUZZ_CHECK(!total);
        return;
    }
    FUZZ_CHECK(total.has_value());
    std::size_t index = 0;
    for (const auto& item : MacCommands(std::span(buffer).first(*total), direction)) {
        FUZZ_CHECK(item && index < read.size() && *item == read[index]);
        ++index;
    }
    FUZZ_CHECK(index == read.size());
    // One byte less room is too little.
    if (*total > 0) {
        const auto short_of = encode_all(read, std::span(buffer).first(*total - 1));
        FUZZ_CHECK(!short_of && short_of.error().kind == LorawanError::Kind::PayloadTooLarge);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> run(data, size);
    check_run(Direction::Uplink, run);
    check_run(Direction::Downlink, run);
    return 0;
}
