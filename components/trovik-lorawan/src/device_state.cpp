// Saving an end device's state to 1678 bytes and putting it back. All
// integers little-endian; a 96-bit mask is 12 bytes, bit i of the mask in
// byte i / 8, bit i % 8. Times are stored relative to the moment of saving
// (0 for a time already past), so a device can resume on a clock that
// restarted.
//
//  offset size
//     0   4  "TKLW"
//     4   1  format, 1
//     5   4  fingerprint of the plan
//     9   1  flags: 0 fcnt_down present, 1 joined on a join-plan run,
//            2 uplink dwell, 3 downlink dwell, 4 ACK owed, 5 link check
//            requested, 6 device time requested, 7 back-off restored channels
//    10   2  join channel
//    12   4  DevAddr          16  16  NwkSKey          32  16  AppSKey
//    48   4  fcnt_up          52   4  fcnt_down (0 when absent)
//    56   1  data rate        57   1  TXPower index     58   1  NbTrans
//    59   1  RX1DROffset      60   1  RX2 data rate     61   1  max EIRP (i8)
//    62   1  MaxDCycle        63   4  RX2 frequency     67   4  receive delay
//    71   4  ADR_ACK_CNT      75   4  random generator
//    79   8  aggregate busy time      87  64  busy time of sub-bands 0 to 7
//   151   1  default channels 152  12  enabled mask    164  12  present mask
//   176 960  96 channel records: uplink Hz u32, downlink Hz u32, min and
//            max data rate; zeros for an empty slot
//  1136 513  answers: count, then per entry a header (bit 7 sticky, bit 6
//            own request, bits 0-5 length 1..7) and its bytes; zeros after
//  1649   1  relay flags: 0 relaying, 1 relay reached, 2 second channel,
//            3 relay status, 4 automatic relaying
//  1650   1  relay activation | smart enable level << 2
//  1651   1  back-off          1652   4  WOR counter  1656   2  unanswered
//  1658   1  WOR attempts      1659   1  default relay channel turn
//  1660   4  second channel WOR Hz      1664   4  its ACK Hz   1668  1  its DR
//  1669   5  relay status: CAD periodicity, crystal, CAD-to-RX, data rate,
//            forward (0, 3, 3, 0, 0 when absent)
//  1674   4  CRC-32 of bytes 0 to 1673
#include <algorithm>
#include <array>

#include "trovik/core/crc32.hpp"
#include "trovik/core/little_endian.hpp"
#include "trovik/lorawan/device/end_device.hpp"

namespace trovik::lorawan::device {

namespace {

using Kind = DeviceError::Kind;

constexpr std::array<std::uint8_t, 4> kMagic{'T', 'K', 'L', 'W'};
constexpr std::size_t kFingerprintAt = 5;
constexpr std::size_t kFlagsAt = 9;
constexpr std::size_t kAnswersAt = 1136;
constexpr std::size_t kAnswersLen = 513;
constexpr std::size_t kRelayAt = 1649;
constexpr std::size_t kCrcAt = 1674;
constexpr std::size_t kMaskLen = 12;

constexpr std::uint8_t kSticky = 0x80;
constexpr std::uint8_t kOwnRequest = 0x40;
// xorshift32 must never hold 0.
constexpr std::uint32_t kRngFallback = 0x2545F491;

// The relay status codes an absent status is stored with.
constexpr std::array<std::uint8_t, 5> kNoRelayStatus{0, 3, 3, 0, 0};
constexpr std::uint8_t kCadPeriodicities = 6;

std::uint32_t stored_crc(const SavedBytes& bytes) { return core::read_le(bytes.data() + kCrcAt, 4); }
std::uint32_t computed_crc(const SavedBytes& bytes) { return core::crc32(std::span(bytes).first(kCrcAt)); }

class Writer {
public:
    explicit Writer(SavedBytes& bytes) : bytes_(bytes) {}
    void u8(std::uint8_t v) { bytes_[at_++] = v; }
    void u16(std::uint16_t v) { put(v, 2); }
    void u32(std::uint32_t v) { put(v, 4); }
    void u64(std::uint64_t v) {
        put(static_cast<std::uint32_t>(v), 4);
        put(static_cast<std::uint32_t>(v >> 32), 4);
    }
    void bytes(std::span<const std::uint8_t> data) {
        std::ranges::copy(data, bytes_.begin() + static_cast<std::ptrdiff_t>(at_));
        at_ += data.size();
    }
    void mask(const ChannelMask& mask) {
        for (std::size_t i = 0; i < kMaskLen; ++i) {
            std::uint8_t byte = 0;
            for (std::size_t bit = 0; bit < 8; ++bit)
                if (mask_has(mask, 8 * i + bit)) byte = static_cast<std::uint8_t>(byte | 1u << bit);
            u8(byte);
        }
    }
    void seek(std::size_t at) { at_ = at; }

private:
    void put(std::uint32_t v, int n) {
        core::write_le(bytes_.data() + at_, v, n);
        at_ += static_cast<std::size_t>(n);
    }
    SavedBytes& bytes_;
    std::size_t at_ = 0;
};

ChannelMask read_mask(Reader& r) {
    ChannelMask mask{};
    for (std::size_t i = 0; i < kMaskLen; ++i) {
        const std::uint8_t byte = r.u8();
        for (std::size_t bit = 0; bit < 8; ++bit)
            if ((byte >> bit & 1) != 0) mask_set(mask, 8 * i + bit, true);
    }
    return mask;
}

void blocks(core::Crc32& crc, std::span<const lora::ChannelBlock> list) {
    std::array<std::uint8_t, 12> buffer{};
    core::write_le(buffer.data(), static_cast<std::uint32_t>(list.size()), 4);
    crc.update(std::span(buffer).first(4));
    for (const auto& block : list) {
        core::write_le(buffer.data(), block.start_hz, 4);
        core::write_le(buffer.data() + 4, block.step_hz, 4);
        core::write_le(buffer.data() + 8, block.count, 2);
        buffer[10] = block.min_data_rate;
        buffer[11] = block.max_data_rate;
        crc.update(buffer);
    }
}

std::uint64_t relative(std::uint64_t t, std::uint64_t now_us) { return t > now_us ? t - now_us : 0; }

StateError corrupt() { return {StateError::Kind::Corrupt, 0}; }
DeviceError refused(StateError e) {
    DeviceError error = DeviceError::of(Kind::State);
    error.state = e;
    return error;
}

}  // namespace

// ---- the reader ---------------------------------------------------------------

std::uint8_t Reader::u8() noexcept {
    if (at_ >= bytes_.size()) {
        at_ = bytes_.size();
        return 0;
    }
    return bytes_[at_++];
}
std::uint16_t Reader::u16() noexcept {
    const std::uint16_t lo = u8();
    return static_cast<std::uint16_t>(lo | u8() << 8);
}
std::uint32_t Reader::u32() noexcept {
    const std::uint32_t lo = u16();
    return lo | std::uint32_t{u16()} << 16;
}
std::uint64_t Reader::u64() noexcept {
    const std::uint64_t lo = u32();
    return lo | std::uint64_t{u32()} << 32;
}

// ---- the plan fingerprint and the checked bytes ----------------------------------

std::uint32_t fingerprint(const lora::ChannelPlan& plan) noexcept {
    core::Crc32 crc;
    crc.update({reinterpret_cast<const std::uint8_t*>(plan.name.data()), plan.name.size()});
    blocks(crc, plan.default_channels);
    blocks(crc, plan.downlink_channels);
    std::array<std::uint8_t, 5> rx2{};
    core::write_le(rx2.data(), plan.rx2_frequency_hz, 4);
    rx2[4] = plan.rx2_data_rate;
    crc.update(rx2);
    return crc.value();
}

std::expected<Saved, StateError> Saved::from_bytes(std::span<const std::uint8_t> bytes) noexcept {
    if (bytes.size() != kSavedLen) return std::unexpected(StateError{StateError::Kind::Length, 0});
    Saved saved;
    std::ranges::copy(bytes, saved.bytes_.begin());
    if (!std::ranges::equal(bytes.first(kMagic.size()), kMagic)) return std::unexpected(corrupt());
    if (stored_crc(saved.bytes_) != computed_crc(saved.bytes_)) return std::unexpected(corrupt());
    if (bytes[4] != kSavedFormat) return std::unexpected(StateError{StateError::Kind::Format, bytes[4]});
    return saved;
}

// ---- save ------------------------------------------------------------------------

EndDevice::Result<SavedBytes> EndDevice::save(std::uint64_t now_us) const {
    if (!session) return std::unexpected(DeviceError::of(Kind::NotJoined));
    if (pending.kind != Pending::Kind::Idle) return std::unexpected(DeviceError::of(Kind::Busy));

    SavedBytes bytes{};
    Writer w(bytes);
    w.bytes(kMagic);
    w.u8(kSavedFormat);
    w.u32(fingerprint(*plan));
    const auto bit = [](bool on, unsigned n) { return static_cast<std::uint8_t>(on ? 1u << n : 0u); };
    w.u8(bit(fcnt_down.has_value(), 0) | bit(joined_on_join_plan, 1) | bit(uplink_dwell_time, 2) |
         bit(downlink_dwell_time, 3) | bit(ack_owed, 4) | bit(answers.link_check_requested, 5) |
         bit(answers.device_time_requested, 6) | bit(backoff.channels_restored, 7));
    w.u16(joined_on_join_plan ? join_channel : 0);
    w.u32(session->dev_addr);
    w.bytes(session->nwk_skey);
    w.bytes(session->app_skey);
    w.u32(fcnt_up);
    w.u32(fcnt_down.value_or(0));
    w.u8(data_rate);
    w.u8(tx_power_index);
    w.u8(transmissions);
    w.u8(rx1_dr_offset);
    w.u8(rx2_data_rate);
    w.u8(static_cast<std::uint8_t>(max_eirp_dbm));
    w.u8(max_duty_cycle);
    w.u32(rx2_frequency_hz);
    w.u32(receive_delay_us);
    w.u32(backoff.adr_ack_cnt);
    w.u32(rng);
    w.u64(relative(air.aggregate_busy_until_us, now_us));
    for (const std::uint64_t busy : air.busy_until_us)
        w.u64(relative(busy, now_us));

    w.u8(channels.default_count);
    w.mask(channels.enabled);
    ChannelMask present{};
    for (std::size_t i = 0; i < kMaxChannels; ++i)
        mask_set(present, i, channels.slots[i].present);
    w.mask(present);
    for (const ChannelSlot& slot : channels.slots) {
        if (!slot.present) {
            w.bytes(std::array<std::uint8_t, 10>{});
            continue;
        }
        w.u32(slot.uplink_hz);
        w.u32(slot.downlink_hz);
        w.u8(slot.min_data_rate);
        w.u8(slot.max_data_rate);
    }

    // 64 entries of at most 8 bytes and the count fill at most 513 bytes.
    w.u8(answers.count);
    for (const Answers::Entry& entry : answers.queued()) {
        const std::uint8_t kind = entry.kind == AnswerKind::Sticky       ? kSticky
                                  : entry.kind == AnswerKind::OwnRequest ? kOwnRequest
                                                                         : 0;
        w.u8(static_cast<std::uint8_t>(kind | entry.len));
        w.bytes(entry.encoded());
    }

    w.seek(kRelayAt);
    w.u8(bit(relay.relaying, 0) | bit(relay.relay_reached, 1) | bit(relay.second_channel.has_value(), 2) |
         bit(relay.relay_status.has_value(), 3) | bit(relay.automatic_relaying, 4));
    w.u8(static_cast<std::uint8_t>((static_cast<std::uint8_t>(relay.activation) & 3) | (relay.smart_enable_level & 3)
                                                                                           << 2));
    w.u8(relay.back_off);
    w.u32(relay.wor_counter);
    w.u16(relay.uplinks_unanswered);
    w.u8(relay.wor_attempts);
    w.u8(relay.default_channel_turn);
    const lora::RelayChannel second = relay.second_channel.value_or(lora::RelayChannel{});
    w.u32(second.wor_frequency_hz);
    w.u32(second.ack_frequency_hz);
    w.u8(second.data_rate);
    if (const auto& s = relay.relay_status)
        w.bytes(std::array{s->cad_periodicity, s->xtal_accuracy, s->cad_to_rx, s->relay_data_rate, s->forward});
    else
        w.bytes(kNoRelayStatus);

    w.u32(computed_crc(bytes));
    return bytes;
}

// ---- resume ----------------------------------------------------------------------

EndDevice::Result<void> EndDevice::resume(const Saved& saved, std::uint64_t now_us) {
    if (pending.kind != Pending::Kind::Idle) return std::unexpected(DeviceError::of(Kind::Busy));
    const SavedBytes& bytes = saved.bytes();
    const std::uint8_t flags = bytes[kFlagsAt];
    const bool on_join_plan = (flags & 0x02) != 0;
    const std::uint16_t saved_join_channel = static_cast<std::uint16_t>(core::read_le(bytes.data() + 10, 2));

    // The plan the state must have been saved on.
    const lora::ChannelPlan* target = plan;
    if (on_join_plan) {
        const auto place = plan->join_plan_for_channel(saved_join_channel);
        if (!place || place->index >= plan->join_plans.size() || !plan->join_plans[place->index].plan)
            return std::unexpected(refused({StateError::Kind::Plan, 0}));
        target = plan->join_plans[place->index].plan;
    }
    if (fingerprint(*target) != core::read_le(bytes.data() + kFingerprintAt, 4))
        return std::unexpected(refused({StateError::Kind::Plan, 0}));

    // Read everything into a copy; the device takes it only once it all holds.
    EndDevice next = *this;
    Reader r(bytes, 12);
    Session s;
    s.dev_addr = r.u32();
    s.nwk_skey = r.array<16>();
    s.app_skey = r.array<16>();
    next.fcnt_up = r.u32();
    const std::uint32_t down = r.u32();
    next.fcnt_down = (flags & 0x01) != 0 ? std::optional(down) : std::nullopt;
    next.data_rate = r.u8();
    next.tx_power_index = r.u8();
    next.transmissions = r.u8();
    next.rx1_dr_offset = r.u8();
    next.rx2_data_rate = r.u8();
    next.max_eirp_dbm = static_cast<std::int8_t>(r.u8());
    next.max_duty_cycle = r.u8();
    next.rx2_frequency_hz = r.u32();
    next.receive_delay_us = r.u32();
    const std::uint32_t adr_ack_cnt = r.u32();
    const std::uint32_t saved_rng = r.u32();
    const std::uint64_t aggregate = r.u64();
    std::array<std::uint64_t, Air::kSubBands> busy{};
    for (auto& b : busy)
        b = r.u64();

    Channels table;
    table.default_count = r.u8();
    table.enabled = read_mask(r);
    const ChannelMask present = read_mask(r);
    for (std::size_t i = 0; i < kMaxChannels; ++i) {
        ChannelSlot slot;
        slot.uplink_hz = r.u32();
        slot.downlink_hz = r.u32();
        slot.min_data_rate = r.u8();
        slot.max_data_rate = r.u8();
        slot.present = mask_has(present, i);
        table.slots[i] = slot.present ? slot : ChannelSlot{};
    }
    for (std::size_t i = 0; i < kMaxChannels; ++i)
        if (mask_has(table.enabled, i) && !table.slots[i].present) return std::unexpected(refused(corrupt()));
    if (table.default_count > kMaxChannels) return std::unexpected(refused(corrupt()));
    if (next.transmissions == 0 || next.transmissions > 15) return std::unexpected(refused(corrupt()));

    Answers queue;
    Reader a(bytes, kAnswersAt);
    const std::uint8_t count = a.u8();
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t header = a.u8();
        if ((header & kSticky) != 0 && (header & kOwnRequest) != 0) return std::unexpected(refused(corrupt()));
        const std::uint8_t len = header & 0x3F;
        if (len < 1 || len > Answers::kMaxEntryLen) return std::unexpected(refused(corrupt()));
        std::array<std::uint8_t, Answers::kMaxEntryLen> command{};
        for (std::size_t k = 0; k < len; ++k)
            command[k] = a.u8();
        const AnswerKind kind = (header & kSticky) != 0       ? AnswerKind::Sticky
                                : (header & kOwnRequest) != 0 ? AnswerKind::OwnRequest
                                                              : AnswerKind::Once;
        if (!queue.push_encoded(std::span(command).first(len), kind)) return std::unexpected(refused(corrupt()));
    }
    // 64 entries of at most 8 bytes cannot reach past the queue's bytes.
    static_assert(1 + Answers::kMaxEntries * (1 + Answers::kMaxEntryLen) <= kAnswersLen);
    queue.link_check_requested = (flags & 0x20) != 0;
    queue.device_time_requested = (flags & 0x40) != 0;

    Reader rl(bytes, kRelayAt);
    const std::uint8_t relay_flags = rl.u8();
    const std::uint8_t modes = rl.u8();
    DeviceRelay relayed;
    relayed.relaying = (relay_flags & 0x01) != 0;
    relayed.relay_reached = (relay_flags & 0x02) != 0;
    relayed.automatic_relaying = (relay_flags & 0x10) != 0;
    relayed.activation = static_cast<DeviceRelay::Activation>(modes & 3);
    relayed.smart_enable_level = static_cast<std::uint8_t>(modes >> 2 & 3);
    relayed.back_off = rl.u8();
    relayed.wor_counter = rl.u32();
    relayed.uplinks_unanswered = rl.u16();
    relayed.wor_attempts = rl.u8();
    relayed.default_channel_turn = rl.u8();
    lora::RelayChannel second;
    second.wor_frequency_hz = rl.u32();
    second.ack_frequency_hz = rl.u32();
    second.data_rate = rl.u8();
    if ((relay_flags & 0x04) != 0) relayed.second_channel = second;
    RelayStatus status;
    status.cad_periodicity = rl.u8();
    status.xtal_accuracy = rl.u8() & 3;
    status.cad_to_rx = rl.u8() & 3;
    status.relay_data_rate = rl.u8();
    status.forward = rl.u8() & 3;
    if ((relay_flags & 0x08) != 0) {
        if (status.cad_periodicity >= kCadPeriodicities) return std::unexpected(refused(corrupt()));
        relayed.relay_status = status;
    }

    // Everything holds: take it.
    next.plan = target;
    next.session = s;
    next.joined_on_join_plan = on_join_plan;
    next.join_channel = saved_join_channel;
    next.uplink_dwell_time = (flags & 0x04) != 0;
    next.downlink_dwell_time = (flags & 0x08) != 0;
    next.ack_owed = (flags & 0x10) != 0;
    next.channels = table;
    next.answers = queue;
    next.relay = relayed;
    next.backoff = Backoff{};
    next.backoff.adr_ack_cnt = adr_ack_cnt;
    next.backoff.version_1_0_4 = settings.version_1_0_4;
    next.backoff.channels_restored = (flags & 0x80) != 0;
    next.air = Air::resumed(now_us, aggregate, busy);
    next.rng = saved_rng == 0 ? kRngFallback : saved_rng;
    next.not_before_us = 0;
    next.join_attempts = 0;
    next.join_tried = {};
    next.join_turn = 0;
    *this = next;
    return {};
}

}  // namespace trovik::lorawan::device
