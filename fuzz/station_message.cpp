// Basics Station texts: the input read as a message, which must write a text
// that reads back to the very same text; as a discovery request and a router
// answer, each written back and read the same; as an identifier, whose ID6
// text must read back to it; and as a frame a radio heard, whose report must
// survive the message codec.
// libFuzzer options: -max_len=2000
#include <cstddef>
#include <cstdint>
#include <span>

#include "support.hpp"
#include "trovik/gateway/station_discovery.hpp"
#include "trovik/gateway/station_message.hpp"

using namespace trovik::gateway::station;

namespace {

void check_message(std::string_view text) {
    const auto message = Message::from_json(text);
    if (!message) {
        (void)message.error().message();
        return;
    }
    const std::string written = message->to_json();
    const auto again = Message::from_json(written);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->kind.index() == message->kind.index());
    FUZZ_CHECK(again->to_json() == written);
}

void check_discovery(std::string_view text) {
    if (const auto discovery = Discovery::from_json(text)) {
        const auto again = Discovery::from_json(discovery->to_json());
        FUZZ_CHECK(again && again->router == discovery->router);
    }
    if (const auto router = Router::from_json(text)) {
        const std::string written = router->to_json();
        const auto again = Router::from_json(written);
        FUZZ_CHECK(again && again->router == router->router && again->muxs == router->muxs &&
                   again->uri == router->uri && again->error == router->error);
        FUZZ_CHECK(again->to_json() == written);
    }
}

void check_identifier(std::string_view text) {
    if (const auto id = eui_of(text)) FUZZ_CHECK(eui_of(id6(*id)) == id);
}

void check_heard(std::span<const std::uint8_t> frame) {
    const std::uint8_t data_rate = frame.empty() ? 0 : frame.back();
    const auto heard = Message::heard(frame, data_rate, 868100000, Levels{1, 2, 3, -40.5, 7.25});
    if (!heard) return;
    FUZZ_CHECK(heard->kind.index() == 2 || heard->kind.index() == 3 || heard->kind.index() == 4);
    const std::string written = heard->to_json();
    const auto again = Message::from_json(written);
    FUZZ_CHECK(again && again->to_json() == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes{data, size};
    const std::string_view text = trovik::fuzz::as_text(bytes);
    check_message(text);
    check_discovery(text);
    check_identifier(text);
    check_heard(bytes);
    return 0;
}
