#include <doctest/doctest.h>

#include <algorithm>
#include <bit>
#include <string_view>
#include <vector>

#include "device_fixture.hpp"
#include "trovik/core/text.hpp"
#include "trovik/lora/region.hpp"
#include "trovik/lorawan/device/end_device.hpp"
#include "trovik/lorawan/network.hpp"

namespace trovik::lorawan::device {
namespace {

using testing::kCredentials;
using Bytes = std::vector<std::uint8_t>;
using K = DeviceError::Kind;
namespace plans = lora::plans;

template <std::size_t N>
std::array<std::uint8_t, N> array(std::string_view text) {
    return core::text::array_from_hex<N>(text).value();
}
Bytes bytes_of(const PhyPayload& p) { return Bytes(p.as_bytes().begin(), p.as_bytes().end()); }

DeviceSettings settings(bool v104 = true) {
    DeviceSettings s;
    s.min_output_dbm = -9;
    s.max_output_dbm = 22;
    s.version_1_0_4 = v104;
    return s;
}

EndDevice over_the_air(const lora::ChannelPlan& plan = plans::EU868, DeviceSettings s = settings()) {
    return EndDevice::make(plan, kCredentials, s).value();
}

// The network's side of one join: the accept for the request, and the
// session both ends then hold.
struct Joined {
    EndDevice device;
    Session network;
};

Joined joined(const lora::ChannelPlan& plan = plans::EU868, DeviceSettings s = settings(), std::uint8_t dl_settings = 0,
              std::uint8_t rx_delay = 1) {
    EndDevice d = over_the_air(plan, s);
    const auto t = d.join(7, 0).value();
    const auto request = JoinRequest::parse(t.frame.as_bytes(), kCredentials.app_key).value();
    const JoinGrant grant{0x123456, 0x13, 0x26011BDA, std::nullopt, dl_settings, rx_delay};
    const auto accepted = d.heard(grant.accept(kCredentials.app_key).as_bytes(), 0);
    REQUIRE(accepted.has_value());
    return {d, grant.session(kCredentials.app_key, request.dev_nonce)};
}

PhyPayload downlink(const Session& s, std::uint32_t fcnt, bool confirmed = false, bool ack = false,
                    std::optional<std::uint8_t> port = 1, Bytes payload = {0xAA}) {
    DownlinkFrame f;
    f.fcnt = fcnt;
    f.confirmed = confirmed;
    f.ack = ack;
    f.fport = port;
    f.payload = port ? std::span<const std::uint8_t>(payload) : std::span<const std::uint8_t>{};
    return s.encode_downlink(f).value();
}

TEST_CASE("the random generator is seeded from the settings and the identity, never at 0") {
    DeviceSettings s = settings();
    Device zero{};
    EndDevice d = EndDevice::make(plans::EU868, zero, s).value();
    CHECK(d.rng == 0xE678DDE6);
    CHECK(d.retry_delay_us() == 1346815);
    CHECK(d.rng == 0x45480384);

    // A DevAddr that cancels the seed's mix gives the fixed non-zero state.
    const std::uint32_t s0 = 0x9E3779B9;
    Session session{};
    session.dev_addr = std::rotl(s0, 13);
    CHECK(EndDevice::personalized(plans::EU868, session, s).value().rng == 0x2545F491);
}

TEST_CASE("the channel table keeps its invariant through masks and channel lists") {
    Channels eu = Channels::from_plan(plans::EU868);
    CHECK(eu.default_count == 3);
    CHECK(eu.slots[0].uplink_hz == 868100000);
    CHECK(eu.slots[2].downlink_hz == 868500000);

    SUBCASE("carries ignores absent slots whatever they held") {
        Slots slots{};
        slots[5] = {false, 868100000, 868100000, 0, 5};
        ChannelMask mask{};
        mask_set(mask, 5, true);
        CHECK_FALSE(Channels::carries(slots, mask, 3));
    }
    SUBCASE("set_group") {
        ChannelMask mask = eu.enabled;
        CHECK_FALSE(Channels::set_group(eu.slots, mask, 6, 0));
        Channels empty{};
        ChannelMask m2{};
        CHECK_FALSE(Channels::set_group(empty.slots, m2, 0, 0x0001));
        CHECK(m2 == ChannelMask{});
        ChannelMask full{0, 0, 0, 0, 0, 0xFFFF};
        CHECK(Channels::set_group(empty.slots, full, 5, 0));
        CHECK(full[5] == 0);
    }
    SUBCASE("EU868 LinkADRReq blocks") {
        const auto& controls = plans::EU868.mask_controls;
        const MaskRequest none[] = {{0x0000, 0}};
        CHECK_FALSE(eu.mask_after(none, controls));
        const MaskRequest absent[] = {{0x0008, 0}};
        CHECK_FALSE(eu.mask_after(absent, controls));
        const MaskRequest two[] = {{0x0005, 0}};
        CHECK(eu.mask_after(two, controls) == ChannelMask{0x0005, 0, 0, 0, 0, 0});
        const MaskRequest reserved[] = {{0x0005, 0}, {0x0001, 3}};
        if (controls[3].kind == lora::MaskControl::Kind::Reserved) CHECK_FALSE(eu.mask_after(reserved, controls));
        CHECK(eu.mask_after({}, controls) == eu.enabled);
    }
    SUBCASE("banks and paired banks") {
        Channels us = Channels::from_plan(plans::US915);
        std::array<lora::MaskControl, 8> controls{};
        controls.fill(lora::MaskControl::banks());
        const MaskRequest second[] = {{0x0002, 0}};
        CHECK(us.mask_after(second, controls) == ChannelMask{0xFF00, 0, 0, 0, 0, 0});
        controls.fill(lora::MaskControl::paired_banks());
        CHECK(us.mask_after(second, controls) == ChannelMask{0xFF00, 0, 0, 0, 0x0002, 0});
        controls[7] = lora::MaskControl::all_channels(false, 4);
        const MaskRequest off_then_group[] = {{0x00FF, 7}};
        CHECK(us.mask_after(off_then_group, controls) == ChannelMask{0, 0, 0, 0, 0x00FF, 0});
        controls[6] = lora::MaskControl::all_channels(true);
        controls[0] = lora::MaskControl::one_group(0);
        const MaskRequest on_then_group[] = {{0, 6}, {0x00FF, 0}};
        CHECK(us.mask_after(on_then_group, controls) == ChannelMask{0x00FF, 0xFFFF, 0xFFFF, 0xFFFF, 0x00FF, 0});
    }
    SUBCASE("a type 0 list fills its own slots, skipping frequencies that do not qualify") {
        const std::array<std::uint32_t, 5> hz{867100000, 0, 867500000, 867700000, 867900000};
        const CfList list = CfList::from_frequencies(hz).value();
        Channels t = eu;
        t.apply_cflist(plans::EU868, list, 137000000, 1020000000);
        CHECK(t.slots[3].uplink_hz == 867100000);
        CHECK_FALSE(t.slots[4].present);
        CHECK(t.slots[5].present);
        CHECK(t.slots[7].uplink_hz == 867900000);
        CHECK(t.enabled[0] == 0b11101111);
        Channels low = eu;
        low.apply_cflist(plans::EU868, list, 137000000, 867400000);
        CHECK_FALSE(low.slots[5].present);
        CHECK(low.slots[3].present);
        // A reserved type drops everything but the defaults.
        const std::array<std::uint8_t, 16> reserved_bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
        t.apply_cflist(plans::EU868, CfList(reserved_bytes), 137000000, 1020000000);
        CHECK(t == eu);
    }
    SUBCASE("a fixed plan takes a type 1 list as its whole mask, and ignores type 0") {
        Channels us = Channels::from_plan(plans::US915);
        const std::array<std::uint16_t, 6> all{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
        Channels t = us;
        t.enabled = {};
        t.apply_cflist(plans::US915, CfList::from_channel_masks(all), 0, 0xFFFFFFFF);
        CHECK(t.enabled == us.enabled);
        const std::array<std::uint32_t, 5> hz{902300000, 0, 0, 0, 0};
        Channels u = us;
        u.apply_cflist(plans::US915, CfList::from_frequencies(hz).value(), 0, 0xFFFFFFFF);
        CHECK(u == us);
    }
}

TEST_CASE("the answer queue: 64 entries, whole commands, requests last") {
    Answers a;
    const std::uint8_t cmd[] = {0x03, 0x07};
    for (int i = 0; i < 64; ++i)
        CHECK(a.push_encoded(cmd, AnswerKind::Once));
    CHECK_FALSE(a.push_encoded(cmd, AnswerKind::Once));
    const Bytes too_long(8, 1);
    Answers b;
    CHECK_FALSE(b.push_encoded(too_long, AnswerKind::Once));
    CHECK_FALSE(b.push_encoded({}, AnswerKind::Once));

    Answers q;
    const std::uint8_t once[] = {0x03, 0x07};
    const std::uint8_t sticky[] = {0x05, 0x07, 0x07};
    const std::uint8_t own[] = {0x40, 0x01};
    q.push_encoded(once, AnswerKind::Once);
    q.push_encoded(sticky, AnswerKind::Sticky);
    q.push_encoded(own, AnswerKind::OwnRequest);
    q.link_check_requested = true;
    CHECK(q.len() == 8);
    std::array<std::uint8_t, 4> small{};
    const auto report = q.write(small);
    CHECK(report.written == 2);
    CHECK(report.answers_written == 1);
    CHECK_FALSE(report.link_check);
    q.sent(report);
    // The sticky answer that did not fit waits, as does the request.
    CHECK(q.count == 2);
    CHECK(q.link_check_requested);
    std::array<std::uint8_t, 15> room{};
    const auto all = q.write(room);
    CHECK(Bytes(room.begin(), room.begin() + all.written) == Bytes{0x05, 0x07, 0x07, 0x40, 0x01, 0x02});
    q.sent(all);
    CHECK(q.count == 1);  // the sticky answer stays until a downlink
    q.heard_downlink();
    CHECK(q.count == 0);
}

TEST_CASE("the join budget: 36 s in the first hour and the ten after, 8.7 s a day after that") {
    Air air;
    CHECK_FALSE(air.join_allowed(1000, 36000000));
    air.join_spent_us = 36000000;
    CHECK(air.join_allowed(2000, 1) == 1000 + 3600000000);
    CHECK_FALSE(air.join_allowed(1000 + 3600000000, 1));
    CHECK(air.join_period == 1);
    air.join_spent_us = 36000000;
    CHECK(air.join_allowed(1000 + 3700000000, 1) == 1000 + 39600000000);
    CHECK(air.join_allowed(1000 + 39600000000, 8700001) == 1000 + 126000000000);
    CHECK(air.join_period == 2);
    CHECK(air.join_allowed(1000 + 126000000000, 8700001) == 1000 + 126000000000 + 86400000000);
}

TEST_CASE("the back-off steps of 1.0.3 and 1.0.4") {
    Backoff b;
    for (int i = 1; i < 64; ++i)
        CHECK(b.uplink(true) == BackoffStep{});
    CHECK(b.uplink(true) == BackoffStep{true, false, false, false});
    for (int i = 65; i < 96; ++i)
        b.uplink(true);
    CHECK(b.uplink(true) == BackoffStep{true, true, false, false});
    for (int i = 97; i < 128; ++i)
        b.uplink(true);
    CHECK(b.uplink(true) == BackoffStep{true, false, false, true});
    CHECK(b.uplink(true) == BackoffStep{});
    Backoff old;
    old.version_1_0_4 = false;
    for (int i = 1; i <= 200; ++i)
        CHECK(old.uplink(true) == BackoffStep{});
    Backoff lowering;
    lowering.version_1_0_4 = false;
    for (int i = 1; i < 96; ++i)
        lowering.uplink(false);
    CHECK(lowering.uplink(false) == BackoffStep{true, false, true, false});
}

TEST_CASE("EU868 joins rotate from DR5 to DR0 on the three join channels") {
    EndDevice e = over_the_air();
    std::uint64_t now = 0;
    for (int attempt = 0; attempt < 7; ++attempt) {
        const auto t = e.join(static_cast<std::uint16_t>(attempt), now);
        REQUIRE(t.has_value());
        CHECK(t->data_rate == (attempt == 6 ? 5 : 5 - attempt));
        CHECK((t->frequency_hz == 868100000 || t->frequency_hz == 868300000 || t->frequency_hz == 868500000));
        CHECK(t->rx1.delay_us == 5000000);
        CHECK(t->rx2.delay_us == 6000000);
        CHECK(t->rx2.frequency_hz == 869525000);
        CHECK(t->rx2.data_rate == 0);
        CHECK(t->frame.size() == 23);
        const auto next = e.nothing_heard(now + 7000000).value();
        CHECK(next.kind == Next::Kind::JoinAgain);
        // The 1 % sub-band and the retry delay both hold the next join back.
        now = std::max(*next.not_before_us, e.free_at(t->frequency_hz));
        now = std::max(now, e.free_at(868100000));
        now = std::max(now, e.free_at(868500000));
    }
}

TEST_CASE("US915 joins move through nine groups, the last on the 500 kHz channels") {
    DeviceSettings s = settings();
    EndDevice d = over_the_air(plans::US915, s);
    std::uint64_t now = 0;
    for (int attempt = 0; attempt < 9; ++attempt) {
        const auto t = d.join(static_cast<std::uint16_t>(attempt), now);
        REQUIRE(t.has_value());
        if (attempt < 8) {
            CHECK(t->data_rate == 0);
            CHECK(t->frequency_hz >= 902300000 + 1600000u * attempt);
            CHECK(t->frequency_hz < 902300000 + 1600000u * (attempt + 1));
        } else {
            CHECK(t->data_rate == 4);
            CHECK((t->frequency_hz - 903000000) % 1600000 == 0);
        }
        now = d.nothing_heard(now + 7000000).value().not_before_us.value();
    }
    CHECK(d.join_turn == 0);
}

TEST_CASE("a join, an uplink the network decodes, and downlinks in both windows") {
    auto [d, network] = joined();
    CHECK(d.session->dev_addr == 0x26011BDA);
    CHECK(d.session == network);
    CHECK(d.fcnt_up == 0);
    CHECK(d.data_rate == 5);  // the join's own rate, which the channels carry

    const Bytes payload{1, 2, 3};
    const auto t = d.send(5, payload, false, 10000000).value();
    CHECK(t.carries_payload);
    CHECK(t.rx1.delay_us == 1000000);
    CHECK(t.rx2.delay_us == 2000000);
    const auto rx = network.decode(t.frame.as_bytes(), 0).value();
    CHECK(rx.fport == 5);
    CHECK(Bytes(rx.payload().begin(), rx.payload().end()) == payload);
    CHECK(d.fcnt_up == 1);

    const auto heard = d.heard_in(0, downlink(network, 0).as_bytes(), 5).value();
    const auto& delivery = std::get<Delivery>(heard);
    CHECK(delivery.port == 1);
    CHECK(Bytes(delivery.payload().begin(), delivery.payload().end()) == Bytes{0xAA});
    CHECK(d.fcnt_down == 0u);
    CHECK(d.heard(downlink(network, 0).as_bytes(), 0).error() == DeviceError::of(K::NothingPending));

    d.send(5, payload, false, 20000000).value();
    // The first window held a frame for someone else; the second still counts.
    Session other = network;
    other.dev_addr = 0x01020304;
    CHECK(d.heard_in(0, downlink(other, 1).as_bytes(), 0).error() == DeviceError::of(K::Foreign));
    CHECK(d.heard_in(1, downlink(network, 0).as_bytes(), 0).error() == DeviceError::of(K::Replayed));
    CHECK(d.heard_in(1, downlink(network, 1).as_bytes(), 0).has_value());
}

TEST_CASE("downlink counters: extension, gaps by version, exhaustion") {
    struct Case {
        std::uint32_t last;
        std::uint32_t next;
        bool v104;
        std::optional<K> refusal;
        std::uint32_t taken;
    };
    const Case cases[] = {
        {0x0001FFF0, 0x00020005, true, {}, 0x00020005},
        {100, 100 + 16384, false, K::CounterGap, 0},
        {100, 100 + 16383, false, {}, 100 + 16383},
        {100, 100 + 16384, true, {}, 100 + 16384},
        {0xFFFF0005, 0x00000003, true, K::CounterExhausted, 0},
    };
    for (const Case& c : cases) {
        auto [d, network] = joined(plans::EU868, settings(c.v104));
        d.fcnt_down = c.last;
        d.send_empty(10000000).value();
        const auto got = d.heard(downlink(network, c.next).as_bytes(), 0);
        if (c.refusal) {
            REQUIRE_FALSE(got.has_value());
            CHECK(got.error().kind == *c.refusal);
            CHECK(d.fcnt_down == c.last);
        } else {
            REQUIRE(got.has_value());
            CHECK(d.fcnt_down == c.taken);
        }
    }
}

TEST_CASE("confirmed uplinks wait 1 to 3 s after the second window unless acknowledged") {
    auto [d, network] = joined();
    const Bytes payload{9};
    const auto t = d.send(2, payload, true, 10000000).value();
    const std::uint64_t rx2_at = 10000000 + t.airtime_us + t.rx2.delay_us;
    const auto got = std::get<Delivery>(d.heard(downlink(network, 0, false, false).as_bytes(), 0).value());
    CHECK_FALSE(got.acknowledged);
    CHECK(d.not_before_us >= rx2_at + 1000000);
    CHECK(d.not_before_us <= rx2_at + 3000000);
    const auto refused = d.send(2, payload, false, rx2_at);
    CHECK(refused.error() == DeviceError::wait(d.not_before_us));

    auto [e, net2] = joined();
    e.send(2, payload, true, 10000000).value();
    CHECK(std::get<Delivery>(e.heard(downlink(net2, 0, false, true).as_bytes(), 0).value()).acknowledged);
    CHECK(e.not_before_us == 0);
}

TEST_CASE("NbTrans 3 repeats an unconfirmed uplink twice at once, then is done") {
    auto [d, network] = joined();
    d.transmissions = 3;
    d.settings.regional_duty_cycle = false;
    const auto first = d.send_empty(10000000).value();
    for (int i = 0; i < 2; ++i) {
        const auto next = d.nothing_heard(20000000).value();
        CHECK(next.kind == Next::Kind::Repeat);
        CHECK(next.not_before_us == 20000000u);
        CHECK(d.heard(first.frame.as_bytes(), 0).error() == DeviceError::of(K::NothingPending));
        const auto again = d.repeat(20000000).value();
        CHECK(bytes_of(again.frame) == bytes_of(first.frame));
    }
    CHECK(d.nothing_heard(30000000).value().kind == Next::Kind::Done);
    CHECK(d.fcnt_up == 1);
}

TEST_CASE("the sub-band duty cycle and DutyCycleReq hold the device off") {
    auto [d, network] = joined();
    const auto t = d.send_empty(10000000).value();
    const std::uint64_t end = 10000000 + t.airtime_us;
    // All three default channels share the 1 % sub-band.
    CHECK(d.send_empty(end + 5000000).error().kind == K::Busy);
    d.nothing_heard(end + 3000000).value();
    CHECK(d.send_empty(end + 3000000).error() == DeviceError::wait(end + 99 * t.airtime_us));

    auto [e, n2] = joined();
    e.settings.regional_duty_cycle = false;
    e.max_duty_cycle = 15;
    const auto u = e.send_empty(10000000).value();
    e.nothing_heard(20000000).value();
    CHECK(e.send_empty(20000000).error() == DeviceError::wait(10000000 + u.airtime_us + 32767 * u.airtime_us));
}

TEST_CASE("uplink refusals leave the device unchanged") {
    auto [d, network] = joined();
    const EndDevice before = d;
    const Bytes big(300, 0);
    CHECK(d.send(0, {}, false, 10000000).error() == DeviceError::of_frame({LorawanError::Kind::Malformed}));
    const auto m = d.uplink_limit(d.data_rate)->application;
    CHECK(d.send(1, std::span(big).first(m + 1u), false, 10000000).error() == DeviceError::of(K::PayloadTooLong, m));
    CHECK(d.rng == before.rng);
    CHECK(d.fcnt_up == before.fcnt_up);
    d.fcnt_up = 0xFFFFFFFE;
    REQUIRE(d.send_empty(10000000).has_value());
    d.nothing_heard(20000000).value();
    d.settings.regional_duty_cycle = false;
    CHECK(d.send_empty(20000000).error() == DeviceError::of(K::CounterExhausted));
}

TEST_CASE("owed answers never push a frame past the data rate's MAC payload limit") {
    // US915 DR0: M 19, N 11. Fifteen bytes of FOpts would make a 22-byte MAC payload.
    Session session{array<16>("000102030405060708090a0b0c0d0e0f"), array<16>("0f0e0d0c0b0a09080706050403020100"),
                    0x01020304};
    DeviceSettings s = settings();
    s.adr = false;
    EndDevice d = EndDevice::personalized(plans::US915, session, s).value();
    REQUIRE(d.data_rate == 0);
    const std::uint8_t answer[] = {0x03, 0x07, 0x00};
    for (int i = 0; i < 5; ++i)
        d.answers.push_encoded(answer, AnswerKind::Once);
    const Bytes payload{1, 2};
    const auto t = d.send(1, payload, false, 0).value();
    const auto rx = session.decode(t.frame.as_bytes(), 0).value();
    CHECK(rx.fport == 0);
    CHECK_FALSE(t.carries_payload);
    CHECK(rx.fopts().empty());
    CHECK(rx.payload().size() == 9);  // three whole answers of the five
    CHECK(t.frame.size() - 5 <= 19);
    CHECK(d.answers.count == 2);  // the rest wait for the next uplink

    // Answers that fit within M stay in FOpts beside the payload.
    EndDevice e = EndDevice::personalized(plans::US915, session, s).value();
    e.answers.push_encoded(answer, AnswerKind::Once);
    const auto u = e.send(1, payload, false, 0).value();
    const auto rx2 = session.decode(u.frame.as_bytes(), 0).value();
    CHECK(rx2.fopts().size() == 3);
    CHECK(rx2.fport == 1);
    CHECK(u.carries_payload);
}

TEST_CASE("a join accept with settings the plan refuses leaves the join pending") {
    EndDevice d = over_the_air();
    d.join(3, 0).value();
    const JoinGrant bad_offset{1, 0x13, 0x11223344, std::nullopt, 0x70, 1};
    CHECK(d.heard(bad_offset.accept(kCredentials.app_key).as_bytes(), 0).error() == DeviceError::of(K::Refused));
    CHECK(d.pending.kind == Pending::Kind::Join);
    const JoinGrant delayed{1, 0x13, 0x11223344, std::nullopt, 0x00, 0x15};
    CHECK(d.heard(delayed.accept(kCredentials.app_key).as_bytes(), 0).has_value());
    CHECK(d.receive_delay_us == 5000000);
}

TEST_CASE("the plan's channel limit refuses a device at construction") {
    CHECK(EndDevice::make(plans::EU868, kCredentials, settings()).has_value());
    CHECK(DeviceError::of(K::TooManyChannels, 96).display() ==
          "the plan defines more than the 96 channels a device keeps");
    CHECK(DeviceError::wait(5).display() == "the air is not free until 5");
}

}  // namespace
}  // namespace trovik::lorawan::device

namespace trovik::lorawan::device {
namespace {

TEST_CASE("CN470: a join on a join-plan run's channel moves the device onto that run's plan") {
    const lora::ChannelPlan& cn = lora::plans::CN470;
    REQUIRE_FALSE(cn.join_plans.empty());
    EndDevice d = EndDevice::make(cn, kCredentials, settings()).value();
    const auto t = d.join(1, 0).value();
    const std::uint16_t channel = d.pending.channel;
    const auto place = cn.join_plan_for_channel(channel).value();
    const lora::JoinPlan& run = cn.join_plans[place.index];
    CHECK(t.rx1.frequency_hz == run.accept_start_hz + place.offset * run.accept_step_hz);
    const JoinGrant grant{1, 0x13, 0x11223344, std::nullopt, 0x00, 1};
    REQUIRE(d.heard(grant.accept(kCredentials.app_key).as_bytes(), 0).has_value());
    CHECK(d.plan == run.plan);
    CHECK(d.rx2_frequency_hz == run.rx2_start_hz + place.offset * run.rx2_step_hz);
    CHECK(d.joined_on_join_plan);
    CHECK(d.join_channel == channel);
}

}  // namespace
}  // namespace trovik::lorawan::device
