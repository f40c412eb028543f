// LoRaWAN data frames: the keyless header read and a session's decode on the
// input as it is, which must agree on every field they share and rebuild the
// very same bytes when the MIC holds; and a frame built from the input's
// fields, which must decode back to them.
// libFuzzer options: -max_len=600
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "support.hpp"
#include "trovik/lorawan/header.hpp"
#include "trovik/lorawan/session.hpp"

using namespace trovik::lorawan;

namespace {

const Session kSession{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                       {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1},
                       0x26011BDA};

void check_decoded(std::span<const std::uint8_t> frame, std::uint32_t fcnt) {
    const auto header = FrameHeader::parse(frame);
    const auto rx = kSession.decode(frame, fcnt);
    if (frame.size() > kMaxFrameSize) {
        FUZZ_CHECK(!header && header.error().kind == LorawanError::Kind::Malformed);
        FUZZ_CHECK(!rx && rx.error().kind == LorawanError::Kind::Malformed);
        return;
    }
    if (!rx) {
        (void)rx.error().display();
        return;
    }
    FUZZ_CHECK(header.has_value());
    FUZZ_CHECK(header->dev_addr == rx->dev_addr && rx->dev_addr == kSession.dev_addr);
    FUZZ_CHECK(header->fcnt == rx->fcnt && rx->fcnt == (fcnt & 0xFFFF));
    FUZZ_CHECK(header->fport == rx->fport);
    FUZZ_CHECK(header->fopts_len == rx->fopts().size());
    FUZZ_CHECK(header->payload_len == rx->payload().size());
    FUZZ_CHECK(header->adr == rx->adr && header->ack == rx->ack && header->fpending == rx->fpending);
    FUZZ_CHECK(header->adr_ack_req == rx->adr_ack_req && header->class_b == rx->class_b);
    // The same fields under the same key rebuild the frame byte for byte.
    const auto again =
        kSession.encode(rx->direction, frame[0], frame[5] & 0xF0, fcnt, rx->fport, rx->fopts(), rx->payload());
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(std::ranges::equal(again->as_bytes(), frame));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    const std::uint32_t fcnt = data[0] | data[1] << 8 | data[2] << 16 | std::uint32_t{data[3]} << 24;
    const std::uint8_t shape = data[4];
    const std::span<const std::uint8_t> rest(data + 5, size - 5);
    check_decoded(rest, fcnt);

    // A frame built from the input: options, port and payload from its bytes.
    const std::size_t fopts_len = std::min<std::size_t>(shape & 0x0F, rest.size());
    const auto fopts = rest.first(fopts_len);
    const auto payload = rest.subspan(fopts_len);
    const std::optional<std::uint8_t> fport =
        (shape & 0x10) ? std::nullopt : std::optional<std::uint8_t>(static_cast<std::uint8_t>(shape >> 5));
    const auto sent = fport ? payload : payload.first(0);
    const bool down = shape & 0x20;
    const auto built = down ? kSession.encode_downlink({.payload = sent,
                                                        .fopts = fopts,
                                                        .fcnt = fcnt,
                                                        .fport = fport,
                                                        .confirmed = bool(shape & 0x40),
                                                        .adr = bool(shape & 0x80),
                                                        .ack = true,
                                                        .fpending = bool(shape & 1)})
                            : kSession.encode_uplink({.payload = sent,
                                                      .fopts = fopts,
                                                      .fcnt = fcnt,
                                                      .fport = fport,
                                                      .confirmed = bool(shape & 0x40),
                                                      .adr = bool(shape & 0x80),
                                                      .adr_ack_req = bool(shape & 1),
                                                      .ack = false});
    if (!built) {
        const bool too_big = fopts.size() + sent.size() + (fport ? 13 : 12) > kMaxFrameSize;
        FUZZ_CHECK(too_big || (fport == 0 && !fopts.empty()));
        return 0;
    }
    const auto rx = kSession.decode(built->as_bytes(), fcnt);
    FUZZ_CHECK(rx.has_value());
    FUZZ_CHECK(std::ranges::equal(rx->fopts(), fopts));
    FUZZ_CHECK(rx->fport == fport);
    FUZZ_CHECK(std::ranges::equal(rx->payload(), sent));
    check_decoded(built->as_bytes(), fcnt);
    return 0;
}
