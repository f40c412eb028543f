// Packet-forwarder datagrams and their JSON bodies, ChirpStack uplink events,
// base64 and the UTC time texts, each chosen by the input's first byte.
//
// Whatever a datagram reader accepts writes a datagram that reads again;
// once through a write and a read, writing is a fixed point (the first trip
// may round: whole dBm, whole kilohertz, a GPS time saturated to 63 bits).
// Every refusal is a sentence. Base64 and the time texts read back what they
// write, and read nothing they would not write the same way again.
// libFuzzer options: -max_len=4096
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "support.hpp"
#include "trovik/gateway/base64.hpp"
#include "trovik/gateway/chirpstack.hpp"
#include "trovik/gateway/time.hpp"
#include "trovik/gateway/udp.hpp"

using namespace trovik::gateway;
using trovik::fuzz::as_text;

namespace {

void datagram(std::span<const std::uint8_t> input) {
    const auto packet = udp::Packet::parse(input);
    if (!packet) {
        FUZZ_CHECK(!packet.error().message().empty());
        return;
    }
    const auto first = packet->to_bytes();
    const auto again = udp::Packet::parse(first);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->kind() == packet->kind());
    FUZZ_CHECK(again->token() == packet->token());
    const auto second = again->to_bytes();
    const auto third = udp::Packet::parse(second);
    FUZZ_CHECK(third.has_value());
    FUZZ_CHECK(third->to_bytes() == second);
    // The fixed fields come back as they were.
    FUZZ_CHECK(std::memcmp(first.data(), input.data(), 4) == 0);
    if (first.size() >= 12 && input.size() >= 12 && packet->kind() != udp::PacketKind::PullResp)
        FUZZ_CHECK(std::memcmp(first.data(), input.data(), 12) == 0);
}

void event(std::string_view text) {
    const auto uplink = chirpstack::UplinkEvent::from_json(text);
    if (!uplink) {
        FUZZ_CHECK(uplink.error().message().starts_with("the event"));
        return;
    }
    const chirpstack::Reception* best = uplink->best_reception();
    FUZZ_CHECK((best == nullptr) == uplink->receptions.empty());
    FUZZ_CHECK(Eui::from_hex(uplink->dev_eui.to_hex()) == uplink->dev_eui);
}

void base64_text(std::span<const std::uint8_t> input) {
    const auto decoded = base64::decode(as_text(input));
    if (decoded) {
        // The canonical text of those bytes reads back the same.
        const std::string canonical = base64::encode(*decoded);
        FUZZ_CHECK(base64::decode(canonical) == decoded);
        FUZZ_CHECK(decoded->size() <= input.size() * 3 / 4);
    } else {
        FUZZ_CHECK(!decoded.error().message().empty());
    }
    const auto written = base64::encode(input);
    const auto read = base64::decode(written);
    FUZZ_CHECK(read.has_value());
    FUZZ_CHECK(std::equal(read->begin(), read->end(), input.begin(), input.end()));
}

void time_text(std::span<const std::uint8_t> input) {
    const std::string_view text = as_text(input);
    if (const auto micros = time::from_compact(text)) FUZZ_CHECK(time::from_compact(time::compact(*micros)) == micros);
    if (const auto seconds = time::from_expanded(text))
        FUZZ_CHECK(time::from_expanded(time::expanded(*seconds)) == seconds);
    std::uint64_t count = 0;
    std::memcpy(&count, input.data(), std::min<std::size_t>(input.size(), sizeof count));
    FUZZ_CHECK(time::from_compact(time::compact(count)) == count);
    FUZZ_CHECK(time::from_expanded(time::expanded(count / 1000000)) == count / 1000000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    switch (data[0] % 4) {
        case 0: datagram(rest); break;
        case 1: event(as_text(rest)); break;
        case 2: base64_text(rest); break;
        default: time_text(rest); break;
    }
    return 0;
}
