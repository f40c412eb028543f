#include <doctest/doctest.h>

#include <array>
#include <string_view>
#include <vector>

#include "trovik/core/text.hpp"
#include "trovik/lorawan_packages/clock.hpp"
#include "trovik/lorawan_packages/firmware.hpp"
#include "trovik/lorawan_packages/fragment.hpp"
#include "trovik/lorawan_packages/multicast.hpp"

namespace trovik::lorawan::packages {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = LorawanError::Kind;
Bytes unhex(std::string_view text) { return core::text::bytes_from_hex(text).value(); }

// Parses, and checks that encoding the result gives the bytes it used.
template <class Command>
Parsed<Command> round_trip(Direction direction, const Bytes& bytes) {
    auto parsed = Command::parse(direction, bytes);
    REQUIRE(parsed.has_value());
    std::array<std::uint8_t, 64> out{};
    auto written = parsed->command.encode(out);
    REQUIRE(written.has_value());
    CHECK(*written == parsed->used);
    CHECK(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(*written)) ==
          Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(parsed->used)));
    return *parsed;
}

template <class Command>
Kind parse_error(Direction direction, const Bytes& bytes) {
    auto parsed = Command::parse(direction, bytes);
    REQUIRE_FALSE(parsed.has_value());
    return parsed.error().kind;
}

TEST_CASE("clock commands read both ways and write back to the same bytes") {
    using clock::ClockCommand;
    const auto req = round_trip<ClockCommand>(Direction::Uplink, unhex("01800000001f"));
    CHECK(req.command.kind == clock::ClockKind::AppTimeReq);
    CHECK(req.command.device_time == 128);
    CHECK(req.command.token == 15);
    CHECK(req.command.ans_required);
    CHECK(req.used == 6);
    const auto ans = round_trip<ClockCommand>(Direction::Downlink, unhex("01800000000f"));
    CHECK(ans.command.time_correction == 128);
    CHECK(round_trip<ClockCommand>(Direction::Downlink, unhex("018000008005")).command.time_correction ==
          -2147483648 + 128);
    const auto error = ClockCommand::parse(Direction::Uplink, unhex("0307"));
    REQUIRE_FALSE(error.has_value());
    CHECK(error.error() == LorawanError{Kind::UnknownMacCommand, 0x03});
}

TEST_CASE("a data fragment takes the rest of the payload") {
    using fragment::FragCommand;
    const auto empty = round_trip<FragCommand>(Direction::Downlink, unhex("080540"));
    CHECK(empty.command.fragment_n == 5);
    CHECK(empty.command.frag_index == 1);
    CHECK(empty.command.data.empty());
    CHECK(parse_error<FragCommand>(Direction::Downlink, unhex("0805")) == Kind::Malformed);
    const auto full = round_trip<FragCommand>(Direction::Downlink, unhex("0805400102030405"));
    CHECK(full.used == 8);
    CHECK(full.command.data.size() == 5);
    CHECK(parse_error<FragCommand>(Direction::Uplink, unhex("080540")) == Kind::UnknownMacCommand);
}

TEST_CASE("a fragment number beyond fourteen bits is refused, not sent as another fragment") {
    const fragment::FragCommand c{.kind = fragment::FragKind::DataFragment, .fragment_n = 16384};
    std::array<std::uint8_t, 8> out{};
    REQUIRE_FALSE(c.encode(out).has_value());
    CHECK(c.encode(out).error().kind == Kind::Malformed);
    const fragment::FragCommand last{.kind = fragment::FragKind::DataFragment, .fragment_n = 16383};
    CHECK(last.encode(out) == 3);
}

TEST_CASE("multicast session answers carry a start time only without errors") {
    using multicast::McCommand;
    const auto failed = round_trip<McCommand>(Direction::Uplink, unhex("0404"));
    CHECK(failed.command.dr_error);
    CHECK_FALSE(failed.command.time_to_start.has_value());
    CHECK(parse_error<McCommand>(Direction::Uplink, unhex("0400")) == Kind::Malformed);
    CHECK(round_trip<McCommand>(Direction::Uplink, unhex("04000a0000")).command.time_to_start == 10u);
    // What the parser refuses, the encoder does not write.
    for (auto kind : {multicast::McKind::ClassCSessionAns, multicast::McKind::ClassBSessionAns}) {
        const McCommand quiet{.kind = kind};
        std::array<std::uint8_t, 8> out{};
        REQUIRE_FALSE(quiet.encode(out).has_value());
        CHECK(quiet.encode(out).error().kind == Kind::Malformed);
    }
}

TEST_CASE("a frequency travels in 100 Hz steps, the remainder dropped") {
    for (std::uint32_t hz : {100u, 199u}) {
        const multicast::McCommand c{.kind = multicast::McKind::ClassCSessionReq, .dl_frequency_hz = hz};
        std::array<std::uint8_t, 11> out{};
        REQUIRE(c.encode(out) == 11);
        CHECK(out[7] == 1);
        CHECK(out[8] == 0);
    }
    const multicast::McCommand setup{.kind = multicast::McKind::GroupSetupReq};
    std::array<std::uint8_t, 30> out{};
    CHECK(setup.encode(std::span(out).first(29)).error().kind == Kind::PayloadTooLarge);
    CHECK(setup.encode(out) == 30);
}

TEST_CASE("upgrade image answers carry a version exactly when the image is valid") {
    using firmware::FirmwareCommand;
    CHECK(parse_error<FirmwareCommand>(Direction::Uplink, unhex("0403")) == Kind::Malformed);
    CHECK(round_trip<FirmwareCommand>(Direction::Uplink, unhex("040301000000")).command.next_version == 1u);
    CHECK(FirmwareCommand::parse(Direction::Uplink, unhex("0405"))->command.image_status == 1);
    const FirmwareCommand valid_without_version{.kind = firmware::FirmwareKind::UpgradeImageAns, .image_status = 3};
    std::array<std::uint8_t, 8> out{};
    CHECK(valid_without_version.encode(out).error().kind == Kind::Malformed);
}

TEST_CASE("empty payloads and unknown identifiers fail on every port") {
    for (auto direction : {Direction::Uplink, Direction::Downlink}) {
        CHECK(parse_error<clock::ClockCommand>(direction, {}) == Kind::Malformed);
        CHECK(parse_error<firmware::FirmwareCommand>(direction, {}) == Kind::Malformed);
        CHECK(parse_error<fragment::FragCommand>(direction, {}) == Kind::Malformed);
        CHECK(parse_error<multicast::McCommand>(direction, {}) == Kind::Malformed);
        CHECK(parse_error<clock::ClockCommand>(direction, {0x09}) == Kind::UnknownMacCommand);
        CHECK(parse_error<firmware::FirmwareCommand>(direction, {0x09}) == Kind::UnknownMacCommand);
        CHECK(parse_error<fragment::FragCommand>(direction, {0x09}) == Kind::UnknownMacCommand);
        CHECK(parse_error<multicast::McCommand>(direction, {0x09}) == Kind::UnknownMacCommand);
    }
}

}  // namespace
}  // namespace trovik::lorawan::packages
