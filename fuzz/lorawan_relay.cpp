// Relay frames: WOR frames, WOR ACKs and forwarded uplinks read from the
// input are written back to the same bytes (less the bits no field holds);
// uplink WORs and ACKs built from the input's numbers open back to them; the
// scan timing answers within its bounds for any times.
// libFuzzer options: -max_len=300
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/lorawan/relay/ack.hpp"
#include "trovik/lorawan/relay/forward.hpp"
#include "trovik/lorawan/relay/timing.hpp"
#include "trovik/lorawan/relay/wor.hpp"

using namespace trovik::lorawan;
using namespace trovik::lorawan::relay;

namespace {

const WorKeys kKeys{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                    {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}};

std::uint64_t u64(std::span<const std::uint8_t> b, std::size_t at) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8; ++i)
        v |= std::uint64_t{at + i < b.size() ? b[at + i] : std::uint8_t{0}} << (8 * i);
    return v;
}

Carrier carrier_of(std::uint64_t bits) {
    return Carrier{static_cast<std::uint32_t>(bits % 0x1000000) * Carrier::kStepHz,
                   static_cast<std::uint8_t>((bits >> 24) & 0x0F)};
}

void check_wor(std::span<const std::uint8_t> frame, std::uint32_t wfcnt, const Carrier& heard) {
    const auto wor = Wor::parse(frame);
    if (!wor) return;
    if (const auto* join = std::get_if<JoinRequestWor>(&wor->frame)) {
        const auto again = wor_join_request(join->uplink).value();
        FUZZ_CHECK(frame.size() == again.size() && again[2] == frame[2] && again[3] == frame[3] &&
                   again[4] == frame[4] && again[1] == (frame[1] & 0x0F));
        return;
    }
    const auto& sealed = std::get<SealedWor>(wor->frame);
    const std::uint32_t full = (wfcnt & 0xFFFF0000) | sealed.wfcnt;
    const auto opened = sealed.open(kKeys, full, heard);
    if (!opened) return;  // almost always: the MIC
    // Sealing the carrier again gives the frame back, unless its data-rate
    // byte had bits the carrier does not keep.
    FUZZ_CHECK(opened->valid());
    const auto built = wor_uplink(kKeys, sealed.dev_addr, full, *opened, heard).value();
    FUZZ_CHECK(std::get<SealedWor>(Wor::parse(built)->frame).open(kKeys, full, heard) == *opened);
    if (built[5] == frame[5]) FUZZ_CHECK(std::equal(built.begin() + 1, built.end(), frame.begin() + 1));
}

void check_forward(std::span<const std::uint8_t> payload) {
    const auto up = ForwardedUplink::parse(payload);
    if (!up) return;
    FUZZ_CHECK(up->phy_payload.data() == payload.data() + kForwardOverhead);
    std::vector<std::uint8_t> out(payload.size());
    FUZZ_CHECK(up->encode(out) == payload.size());
    // Only bits 18 to 23 of the metadata carry nothing.
    FUZZ_CHECK(out[0] == payload[0] && out[1] == payload[1] && out[2] == (payload[2] & 0x03));
    FUZZ_CHECK(std::equal(out.begin() + 3, out.end(), payload.begin() + 3));
}

void check_built(std::span<const std::uint8_t> in) {
    const std::uint32_t dev_addr = static_cast<std::uint32_t>(u64(in, 0));
    const std::uint32_t wfcnt = static_cast<std::uint32_t>(u64(in, 4));
    const Carrier uplink = carrier_of(u64(in, 8));
    const Carrier wor = carrier_of(u64(in, 12));
    const auto frame = wor_uplink(kKeys, dev_addr, wfcnt, uplink, wor).value();
    const auto read = Wor::parse(frame).value();
    FUZZ_CHECK(std::get<SealedWor>(read.frame).open(kKeys, wfcnt, wor) == uplink);

    const std::uint64_t w = u64(in, 16);
    const StateSync state{.t_offset_ms = static_cast<std::uint16_t>(w & 0x7FF),
                          .relay_data_rate = static_cast<std::uint8_t>((w >> 11) & 0x0F),
                          .cad_periodicity = static_cast<CadPeriodicity>(((w >> 15) & 7) % kCadPeriodicities),
                          .cad_to_rx = static_cast<CadToRx>((w >> 18) & 3),
                          .forward = static_cast<ForwardState>((w >> 20) & 3),
                          .xtal_accuracy = static_cast<XtalAccuracy>((w >> 22) & 3)};
    const auto ack = wor_ack(kKeys, dev_addr, wfcnt, wor, uplink, state).value();
    FUZZ_CHECK(open_wor_ack(ack, kKeys, dev_addr, wfcnt, wor, uplink) == state);
}

void check_timing(std::span<const std::uint8_t> in) {
    const std::uint64_t a = u64(in, 0), b = u64(in, 8);
    if (const auto ms = t_offset_ms(a, b)) {
        FUZZ_CHECK(b >= a && *ms <= 2047);
        FUZZ_CHECK(std::uint64_t{*ms} * 1000 >= b - a && (b - a) + 1000 > std::uint64_t{*ms} * 1000);
    } else {
        FUZZ_CHECK(b < a || b - a > 2'047'000);
    }
    const std::uint64_t c = u64(in, 16);
    const Synchronization sync{.reference_us = a,
                               .cad_periodicity = static_cast<CadPeriodicity>((c & 0xFF) % kCadPeriodicities),
                               .relay_xtal = static_cast<XtalAccuracy>((c >> 8) & 3),
                               .cad_to_rx = static_cast<CadToRx>((c >> 10) & 3)};
    const std::uint64_t symbol_us = (c >> 12) & 0xFFFF;
    const auto slot = sync.next_wor(b, static_cast<std::uint32_t>(c >> 32), symbol_us, c & (1ull << 28));
    if (slot) {
        FUZZ_CHECK(slot->start_us >= b);
        FUZZ_CHECK(slot->preamble_symbols >= symbols(sync.cad_to_rx) + 7);
    }
    const auto channel =
        second_channel(in.empty() ? 1 : in[0] & 3, 3, static_cast<std::uint8_t>(c & 7), static_cast<std::uint32_t>(b));
    if (channel) FUZZ_CHECK(channel->ack_frequency_hz >= channel->wor_frequency_hz);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> in(data, size);
    const std::uint32_t wfcnt = static_cast<std::uint32_t>(u64(in, 0));
    check_wor(in, wfcnt, Carrier{869'100'000, 3});
    if (!in.empty()) check_wor(in.subspan(1), wfcnt, carrier_of(u64(in, 1)));
    check_forward(in);
    const auto state = open_wor_ack(in, kKeys, wfcnt, wfcnt, Carrier{869'500'000, 3}, Carrier{868'100'000, 5});
    if (state) FUZZ_CHECK(static_cast<std::uint8_t>(state->cad_periodicity) < kCadPeriodicities);
    check_built(in);
    check_timing(in);
    return 0;
}
