#include <doctest/doctest.h>

#include <algorithm>
#include <vector>

#include "device_fixture.hpp"
#include "trovik/core/crc32.hpp"
#include "trovik/core/little_endian.hpp"
#include "trovik/core/text.hpp"
#include "trovik/lora/region.hpp"
#include "trovik/lorawan/device/end_device.hpp"
#include "trovik/lorawan/network.hpp"

namespace trovik::lorawan::device {
namespace {

using testing::kCredentials;
using testing::kSession;
namespace plans = lora::plans;
using K = StateError::Kind;

DeviceSettings settings() {
    DeviceSettings s;
    s.min_output_dbm = -9;
    s.max_output_dbm = 22;
    return s;
}

EndDevice fresh(const lora::ChannelPlan& plan = plans::EU868) {
    return EndDevice::personalized(plan, Session{}, settings()).value();
}

// A device that has been through something: a downlink with MAC commands, a
// new channel, answers owed, requests set, busy sub-bands.
EndDevice worked(std::uint64_t& now_us) {
    EndDevice d = EndDevice::personalized(plans::EU868, kSession, settings()).value();
    d.fcnt_up = 41;
    d.answers.link_check_requested = true;
    const auto t = d.send_empty(now_us).value();
    DownlinkFrame f;
    f.fcnt = 9;
    f.confirmed = true;
    f.fport = 0;
    // NewChannelReq 3, LinkADRReq DR4 NbTrans 2 on channels 0 to 3, RXTimingSetupReq 3, DevStatusReq.
    const auto commands = core::text::bytes_from_hex("0703184f845003420f0002080306").value();
    f.payload = commands;
    REQUIRE(d.heard(kSession.encode_downlink(f).value().as_bytes(), 5).has_value());
    now_us += t.airtime_us + 3000000;
    return d;
}

void reseal(SavedBytes& bytes) { core::write_le(bytes.data() + 1674, core::crc32(std::span(bytes).first(1674)), 4); }

StateError refusal(const std::expected<void, DeviceError>& r) {
    REQUIRE(!r);
    REQUIRE(r.error().kind == DeviceError::Kind::State);
    return r.error().state;
}

TEST_CASE("a saved state puts the device back as it was, times relative to the new clock") {
    std::uint64_t now = 1000000;
    const EndDevice d = worked(now);
    const SavedBytes bytes = d.save(now).value();
    CHECK(bytes == d.save(now).value());  // saving changes nothing
    CHECK(std::ranges::equal(std::span(bytes).first(5), std::array<std::uint8_t, 5>{'T', 'K', 'L', 'W', 1}));
    CHECK(core::read_le(bytes.data() + 5, 4) == fingerprint(plans::EU868));
    CHECK(core::read_le(bytes.data() + 1674, 4) == core::crc32(std::span(bytes).first(1674)));

    EndDevice back = fresh();
    const std::uint64_t restart = 77;
    REQUIRE(back.resume(Saved::from_bytes(bytes).value(), restart).has_value());
    CHECK(back.session == d.session);
    CHECK((back.fcnt_up == 42 && back.fcnt_down == 9u && back.ack_owed));
    CHECK((back.data_rate == 4 && back.transmissions == 2 && back.receive_delay_us == 3000000));
    CHECK(back.channels == d.channels);
    CHECK(back.answers == d.answers);
    CHECK(back.rng == d.rng);
    CHECK(back.backoff == d.backoff);
    for (std::size_t i = 0; i < Air::kSubBands; ++i) {
        const std::uint64_t was = d.air.busy_until_us[i];
        CHECK(back.air.busy_until_us[i] == (was > now ? restart + (was - now) : 0));
    }
    // The same state, saved again on the new clock, gives the same bytes.
    CHECK(back.save(restart).value() == bytes);
}

TEST_CASE("saving needs a joined, idle device") {
    EndDevice d = EndDevice::make(plans::EU868, kCredentials, settings()).value();
    CHECK(d.save(0).error().kind == DeviceError::Kind::NotJoined);
    EndDevice p = fresh();
    const SavedBytes idle = p.save(0).value();
    REQUIRE(p.send_empty(0).has_value());
    CHECK(p.save(0).error().kind == DeviceError::Kind::Busy);
    // Resume refuses while a transmission waits, after the bytes were accepted.
    CHECK(p.resume(Saved::from_bytes(idle).value(), 0).error().kind == DeviceError::Kind::Busy);
}

TEST_CASE("the bytes are checked: length, magic, checksum, format, in that order") {
    const SavedBytes good = fresh().save(0).value();
    std::vector<std::uint8_t> longer(good.begin(), good.end());
    longer.push_back(0);
    CHECK(Saved::from_bytes(longer).error().kind == K::Length);
    CHECK(Saved::from_bytes(std::span(good).first(1677)).error().kind == K::Length);
    CHECK(StateError{K::Length, 0}.display() == "a saved state is 1678 bytes");

    for (const std::size_t bit : {0uz, 37uz, 8 * 700uz + 3, 8 * 1677uz + 7}) {
        SavedBytes flipped = good;
        flipped[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        CHECK(Saved::from_bytes(flipped).error().kind == K::Corrupt);
    }
    SavedBytes magic = good;
    magic[0] = 'X';
    reseal(magic);
    CHECK(Saved::from_bytes(magic).error().kind == K::Corrupt);

    SavedBytes format = good;
    format[4] = 2;
    reseal(format);
    CHECK(Saved::from_bytes(format).error() == StateError{K::Format, 2});
    CHECK(StateError{K::Format, 2}.display() == "saved state format 2 is not read here");
}

TEST_CASE("a state fits only the plan it was saved on") {
    const SavedBytes eu = fresh().save(0).value();
    EndDevice us = fresh(plans::US915);
    const EndDevice before = us;
    CHECK(refusal(us.resume(Saved::from_bytes(eu).value(), 0)).kind == K::Plan);
    CHECK(us.plan == before.plan);
    CHECK(us.channels == before.channels);
    CHECK(fingerprint(plans::EU868) != fingerprint(plans::US915));
    // EU868 and the CN470 variants differ; the CN470 plans of one antenna type share a name and differ in
    // their channels.
    CHECK(fingerprint(plans::CN470) != fingerprint(plans::CN470_26A));
}

TEST_CASE("a crafted state is refused as corrupt and changes nothing") {
    const SavedBytes good = fresh().save(0).value();
    const auto crafted = [&](auto change) {
        SavedBytes b = good;
        change(b);
        reseal(b);
        EndDevice d = fresh();
        d.fcnt_up = 5;
        const auto r = d.resume(Saved::from_bytes(b).value(), 0);
        CHECK(d.fcnt_up == 5);
        return refusal(r).kind;
    };
    // An enabled channel that is absent.
    CHECK(crafted([](SavedBytes& b) { b[152 + 1] |= 0x01; }) == K::Corrupt);
    CHECK(crafted([](SavedBytes& b) { b[151] = 97; }) == K::Corrupt);
    CHECK(crafted([](SavedBytes& b) { b[58] = 0; }) == K::Corrupt);
    CHECK(crafted([](SavedBytes& b) { b[58] = 16; }) == K::Corrupt);
    // One answer: a header with both kinds, then lengths 0 and 8.
    for (const std::uint8_t header : {0xC1, 0x00, 0x08}) {
        CAPTURE(header);
        CHECK(crafted([&](SavedBytes& b) {
                  b[1136] = 1;
                  b[1137] = header;
              }) == K::Corrupt);
    }
    // 65 answers cannot be held.
    CHECK(crafted([](SavedBytes& b) { b[1136] = 65; }) == K::Corrupt);
    // A relay status with a CAD periodicity past the table.
    CHECK(crafted([](SavedBytes& b) {
              b[1649] |= 0x08;
              b[1669] = 6;
          }) == K::Corrupt);
}

TEST_CASE("what resume makes of stored values: the generator, busy times, relay codes") {
    EndDevice d = fresh();
    d.air.busy_until_us[0] = 999;   // free just before saving
    d.air.busy_until_us[1] = 6000;  // busy for 5000 more
    d.air.aggregate_busy_until_us = 1000;
    d.relay.relay_status = RelayStatus{1, 2, 3, 4, 5};
    SavedBytes b = d.save(1000).value();
    CHECK(core::read_le(b.data() + 87, 4) == 0);
    CHECK(core::read_le(b.data() + 95, 4) == 5000);
    CHECK(core::read_le(b.data() + 79, 4) == 0);
    CHECK(std::ranges::equal(std::span(b).subspan(1669, 5), std::array<std::uint8_t, 5>{4, 1, 2, 5, 3}));
    core::write_le(b.data() + 75, 0, 4);  // a generator of 0
    b[1670] = 0xFE;                       // crystal code, read modulo 4
    reseal(b);
    EndDevice back = fresh();
    REQUIRE(back.resume(Saved::from_bytes(b).value(), 1 << 20).has_value());
    CHECK(back.rng == 0x2545F491);
    CHECK(back.air.busy_until_us[0] == 0);
    CHECK(back.air.busy_until_us[1] == (1u << 20) + 5000);
    REQUIRE(back.relay.relay_status);
    CHECK(back.relay.relay_status->xtal_accuracy == 2);
    CHECK((back.not_before_us == 0 && back.join_attempts == 0 && !back.air.join_origin_us));
}

TEST_CASE("CN470: a state from a join on a join-plan run resumes onto the published plan it started from") {
    const lora::ChannelPlan& cn = plans::CN470;
    EndDevice d = EndDevice::make(cn, kCredentials, settings()).value();
    REQUIRE(d.join(1, 0).has_value());
    const JoinGrant grant{1, 0x13, 0x11223344, std::nullopt, 0x00, 1};
    REQUIRE(d.heard(grant.accept(kCredentials.app_key).as_bytes(), 0).has_value());
    REQUIRE(d.joined_on_join_plan);
    const SavedBytes bytes = d.save(10).value();
    CHECK(core::read_le(bytes.data() + 5, 4) == fingerprint(*d.plan));

    EndDevice back = EndDevice::make(cn, kCredentials, settings()).value();
    REQUIRE(back.resume(Saved::from_bytes(bytes).value(), 10).has_value());
    CHECK(back.plan == d.plan);
    CHECK((back.joined_on_join_plan && back.join_channel == d.join_channel));
    CHECK(back.save(10).value() == bytes);
    // On a plan without that run the state has nothing to match.
    EndDevice eu = fresh();
    CHECK(refusal(eu.resume(Saved::from_bytes(bytes).value(), 10)).kind == K::Plan);
}

}  // namespace
}  // namespace trovik::lorawan::device
