// LoRaWAN application package commands: any payload read on any of the four
// ports in either direction, and written back to bytes that read as the same
// command and write again to the very same bytes. The clock and firmware
// services hear the same payload: a downlink they refuse leaves them exactly
// as they were.
// libFuzzer options: -max_len=300
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "support.hpp"
#include "trovik/lorawan_packages/clock.hpp"
#include "trovik/lorawan_packages/firmware.hpp"
#include "trovik/lorawan_packages/fragment.hpp"
#include "trovik/lorawan_packages/multicast.hpp"

using namespace trovik::lorawan;
using namespace trovik::lorawan::packages;

namespace {

// Reads, writes, reads the writing and writes it again: the two writings
// are the same bytes and each read takes exactly what was written.
template <class Command, class Parse>
void round_trip(std::span<const std::uint8_t> payload, Parse parse) {
    const auto first = parse(payload);
    if (!first) {
        (void)first.error().display();
        return;
    }
    FUZZ_CHECK(first->used <= payload.size());
    std::array<std::uint8_t, 320> once{};
    const auto n = first->command.encode(once);
    FUZZ_CHECK(n.has_value());
    FUZZ_CHECK(*n == first->used);
    const std::span<const std::uint8_t> written(once.data(), *n);
    const auto second = parse(written);
    FUZZ_CHECK(second.has_value());
    FUZZ_CHECK(second->used == *n);
    std::array<std::uint8_t, 320> twice{};
    FUZZ_CHECK(second->command.encode(twice) == *n);
    FUZZ_CHECK(std::ranges::equal(written, std::span<const std::uint8_t>(twice.data(), *n)));
    // A buffer one byte short is refused without writing.
    if (*n > 0) {
        std::array<std::uint8_t, 320> short_buffer{};
        const auto refused = first->command.encode(std::span(short_buffer).first(*n - 1));
        FUZZ_CHECK(!refused && refused.error().kind == LorawanError::Kind::PayloadTooLarge);
    }
}

void hear(std::span<const std::uint8_t> payload, std::uint8_t shape) {
    clock::ClockSync sync(shape & 1);
    std::array<std::uint8_t, 8> request{};
    if (shape & 2) (void)sync.app_time_req(1, false, request);
    const std::array<std::uint8_t, 1> version_request{0x00};
    if (shape & 4) (void)sync.heard(version_request);  // an answer owed from before
    const auto token = sync.token();
    const auto period = sync.period_s();
    const auto due = sync.answer_due();
    const auto heard = sync.heard(payload);
    if (!heard) {
        FUZZ_CHECK(sync.token() == token && sync.period_s() == period && sync.answer_due() == due);
    } else if (heard->answer_due) {
        FUZZ_CHECK(sync.answer_due());
    } else {
        // Only a request for an answer fills the pending slot.
        FUZZ_CHECK(sync.answer_due() == due);
    }

    firmware::FirmwareManager manager(7, 2);
    if (shape & 4) manager.set_image(firmware::ImageStatus::Valid, 9);
    std::array<std::uint8_t, 64> out{};
    const std::size_t room = 8 + (shape >> 3) * 4;
    const auto written = manager.heard_at(payload, 1000, std::span(out).first(std::min(room, out.size())));
    if (!written) {
        FUZZ_CHECK(!manager.reboot_now() && !manager.reboot_at_s() && !manager.reboot_in_s());
        FUZZ_CHECK(manager.image_status() ==
                   ((shape & 4) ? firmware::ImageStatus::Valid : firmware::ImageStatus::None));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t shape = data[0];
    const std::span<const std::uint8_t> payload(data + 1, size - 1);
    const Direction direction = (shape & 0x80) ? Direction::Uplink : Direction::Downlink;
    auto in = [direction](auto parse) { return [=](std::span<const std::uint8_t> p) { return parse(direction, p); }; };
    round_trip<multicast::McCommand>(payload, in(multicast::McCommand::parse));
    round_trip<multicast::McCommand>(payload, multicast::McCommand::parse_status_item);
    round_trip<fragment::FragCommand>(payload, in(fragment::FragCommand::parse));
    round_trip<clock::ClockCommand>(payload, in(clock::ClockCommand::parse));
    round_trip<firmware::FirmwareCommand>(payload, in(firmware::FirmwareCommand::parse));
    hear(payload, shape);
    return 0;
}
