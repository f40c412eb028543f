// Saved end-device states: the raw input through the byte checks (only a
// sealed 1678-byte blob with the magic and format 1 passes), and the input
// written into a real saved state at an offset the input names, sealed again
// with its CRC-32 so that it reaches the device's own checks. A refused state
// leaves the device as it was; a taken one keeps the channel table's
// invariant, saves to bytes that resume to the same bytes, and drives the
// device through uplinks, receptions and repeats without reading past any
// table.
// libFuzzer options: -max_len=1700
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "support.hpp"
#include "trovik/core/crc32.hpp"
#include "trovik/core/little_endian.hpp"
#include "trovik/lora/region.hpp"
#include "trovik/lorawan/device/end_device.hpp"
#include "trovik/lorawan/network.hpp"

using namespace trovik::lorawan;
using namespace trovik::lorawan::device;
namespace lora = trovik::lora;
namespace core = trovik::core;

namespace {

const Device kCredentials{{0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255},
                          {0, 1, 2, 3, 4, 5, 6, 7},
                          {8, 9, 10, 11, 12, 13, 14, 15}};
constexpr std::size_t kCrcAt = 1674;
constexpr std::uint64_t kSavedAt = 5000000000;

DeviceSettings settings() {
    DeviceSettings s;
    s.min_output_dbm = -9;
    s.max_output_dbm = 22;
    return s;
}

void seal(SavedBytes& bytes) { core::write_le(bytes.data() + kCrcAt, core::crc32(std::span(bytes).first(kCrcAt)), 4); }

// A device that joined, took a downlink with MAC commands and owes answers.
SavedBytes base(const lora::ChannelPlan& plan) {
    EndDevice d = EndDevice::make(plan, kCredentials, settings()).value();
    d.join(1, 0).value();
    const JoinGrant grant{1, 0x13, 0x26011BDA, std::nullopt, 0x00, 1};
    const Session session = grant.session(kCredentials.app_key, 1);
    d.heard(grant.accept(kCredentials.app_key).as_bytes(), 0).value();
    d.answers.device_time_requested = true;
    d.send_empty(10000000).value();
    DownlinkFrame f;
    f.fport = 0;
    // NewChannelReq 3 (taken on a dynamic plan), RXTimingSetupReq, DevStatusReq, EndDeviceConfReq.
    const std::array<std::uint8_t, 16> commands{0x07, 0x03, 0x18, 0x4f, 0x84, 0x50, 0x08, 0x02,
                                                0x06, 0x41, 0x05, 0x00, 0x0e, 0xd2, 0xad, 0x84};
    f.payload = commands;
    d.heard(session.encode_downlink(f).value().as_bytes(), 3).value();
    return d.save(kSavedAt).value();
}

bool same_state(const EndDevice& a, const EndDevice& b) {
    return a.plan == b.plan && a.session == b.session && a.fcnt_up == b.fcnt_up && a.fcnt_down == b.fcnt_down &&
           a.data_rate == b.data_rate && a.transmissions == b.transmissions && a.channels == b.channels &&
           a.answers == b.answers && a.air == b.air && a.backoff == b.backoff && a.rng == b.rng &&
           a.relay.second_channel == b.relay.second_channel && a.relay.relay_status == b.relay.relay_status;
}

void check_invariant(const EndDevice& d) {
    for (std::size_t i = 0; i < kMaxChannels; ++i)
        if (mask_has(d.channels.enabled, i)) FUZZ_CHECK(d.channels.slots[i].present);
    FUZZ_CHECK(d.answers.count <= Answers::kMaxEntries);
    for (const auto& entry : d.answers.queued())
        FUZZ_CHECK(entry.len >= 1 && entry.len <= Answers::kMaxEntryLen);
    FUZZ_CHECK(d.rng != 0);
}

// Uplinks, receptions and repeats on whatever the state holds.
void drive(EndDevice& d, std::span<const std::uint8_t> frame, std::uint64_t now) {
    for (int round = 0; round < 3; ++round) {
        now += 400000000000;  // past any duty cycle a real state holds
        const auto sent =
            round == 1 ? d.send(7, frame.first(std::min<std::size_t>(frame.size(), 12)), true, now) : d.send_empty(now);
        if (!sent) continue;
        (void)d.heard_in(static_cast<std::uint8_t>(round), frame, 0);
        auto next = d.nothing_heard(now + 10000000);
        while (next && next->kind == Next::Kind::Repeat) {
            if (!d.repeat(*next->not_before_us)) break;
            next = d.nothing_heard(*next->not_before_us + 10000000);
        }
        check_invariant(d);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);

    // The raw input: only a sealed blob of the right length, magic and format.
    if (const auto raw = Saved::from_bytes(input)) {
        FUZZ_CHECK(size == kSavedLen);
        FUZZ_CHECK(core::read_le(data + kCrcAt, 4) == core::crc32(input.first(kCrcAt)));
        FUZZ_CHECK(input[4] == kSavedFormat);
    }
    if (size < 3) return 0;

    static const SavedBytes kEu868 = base(lora::plans::EU868);
    static const SavedBytes kCn470 = base(lora::plans::CN470);
    const bool cn470 = (input[0] & 1) != 0;
    // The fingerprint stays unless the input reaches it, so most states get past the plan check.
    const std::size_t from = 5 + (input[1] | std::size_t{input[2]} << 8) % (kCrcAt - 5);
    const auto content = input.subspan(3);
    SavedBytes blob = cn470 ? kCn470 : kEu868;
    const std::size_t n = std::min(content.size(), kCrcAt - from);
    std::ranges::copy(content.first(n), blob.begin() + static_cast<std::ptrdiff_t>(from));
    seal(blob);
    const auto saved = Saved::from_bytes(blob);
    FUZZ_CHECK(saved.has_value());

    const lora::ChannelPlan& plan = cn470 ? lora::plans::CN470 : lora::plans::EU868;
    EndDevice d = EndDevice::make(plan, kCredentials, settings()).value();
    const EndDevice before = d;
    const std::uint64_t now = input[0] >> 1;
    const auto resumed = d.resume(*saved, now);
    if (!resumed) {
        FUZZ_CHECK(resumed.error().kind == DeviceError::Kind::State);
        FUZZ_CHECK(resumed.error().state.kind == StateError::Kind::Corrupt ||
                   resumed.error().state.kind == StateError::Kind::Plan);
        FUZZ_CHECK(same_state(d, before));
        return 0;
    }
    check_invariant(d);
    FUZZ_CHECK(d.session.has_value() && d.pending.kind == Pending::Kind::Idle);

    // Saved again, the state resumes to the very same bytes.
    const SavedBytes again = d.save(now).value();
    EndDevice other = EndDevice::make(plan, kCredentials, settings()).value();
    FUZZ_CHECK(other.resume(Saved::from_bytes(again).value(), now).has_value());
    FUZZ_CHECK(other.save(now).value() == again);

    drive(d, content, now);
    return 0;
}
