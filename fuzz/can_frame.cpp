// CAN frames built from arbitrary bytes, their length codes, J1939
// identifiers and J1939 payloads.
// libFuzzer options: -max_len=96
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "support.hpp"
#include "trovik/can/dlc.hpp"
#include "trovik/can/filter.hpp"
#include "trovik/can/frame.hpp"
#include "trovik/can/id.hpp"
#include "trovik/can/j1939.hpp"
#include "trovik/can/signals.hpp"
#include "trovik/can/socketcan.hpp"

using namespace trovik::can;

namespace {

// Byte 0 picks the kind and format, bytes 1 to 4 are the identifier, the
// rest is the payload (or, for a remote frame, its first byte the length).
void frames(std::span<const std::uint8_t> input) {
    if (input.size() < 5) return;
    const std::uint8_t how = input[0];
    std::uint32_t id = 0;
    std::memcpy(&id, input.data() + 1, 4);
    const bool extended = (how & 4) != 0;
    const auto payload = input.subspan(5);

    std::expected<Frame, CanError> frame = std::unexpected(CanError{CanError::Kind::DataTooLong});
    switch (how % 3) {
        case 0: frame = Frame::classic(id, extended, payload); break;
        case 1: frame = Frame::fd(id, extended, payload); break;
        default: frame = Frame::remote(id, extended, payload.empty() ? 0 : payload[0]); break;
    }
    if (!id_fits(id, extended)) {
        FUZZ_CHECK(!frame && frame.error().kind == CanError::Kind::IdTooWide);
        return;
    }
    if (!frame) {
        const auto kind = frame.error().kind;
        FUZZ_CHECK(!frame.error().message().empty());
        if (how % 3 == 0) FUZZ_CHECK(kind == CanError::Kind::DataTooLong && payload.size() > kClassicMaxLen);
        if (how % 3 == 1) {
            FUZZ_CHECK(!is_fd_len(payload.size()));
            FUZZ_CHECK(kind ==
                       (payload.size() > kFdMaxLen ? CanError::Kind::DataTooLong : CanError::Kind::InvalidFdLength));
        }
        FUZZ_CHECK(how % 3 != 2);  // a remote frame with an identifier that fits is always made
        return;
    }
    FUZZ_CHECK(frame->id() == id && frame->is_extended() == extended);
    if (frame->is_remote()) {
        FUZZ_CHECK(frame->data().empty());
        FUZZ_CHECK(frame->len() == std::min<std::size_t>(payload.empty() ? 0 : payload[0], 8));
    } else {
        FUZZ_CHECK(std::ranges::equal(frame->data(), payload));
    }
    FUZZ_CHECK(dlc_to_len(frame->dlc()) >= frame->len());
    FUZZ_CHECK(len_to_dlc(frame->len()) == frame->dlc());

    // Through the kernel's record and back.
    std::array<std::uint8_t, socketcan::kFdRecordSize> record;
    const std::size_t n = socketcan::encode(*frame, record);
    FUZZ_CHECK(socketcan::decode(std::span(record).first(n)) == frame);

    // Every frame passes its own exact filter, and no filter of the other format.
    const auto exact = Filter::exact(id, extended);
    FUZZ_CHECK(exact && exact->passes(*frame));
    FUZZ_CHECK(!Filter::make(0, 0, !extended)->passes(*frame));
}

// The J1939 fields of an identifier compose it again.
void j1939_ids(std::span<const std::uint8_t> input) {
    if (input.size() < 4) return;
    std::uint32_t id = 0;
    std::memcpy(&id, input.data(), 4);
    const auto m = j1939::decode(id);
    const std::uint32_t masked = id & kExtendedIdMask;
    FUZZ_CHECK(m.priority <= 7);
    FUZZ_CHECK(m.destination.has_value() == !m.broadcast());
    FUZZ_CHECK(j1939::compose(m.priority, m.pgn, m.source, m.destination.value_or(0)) == masked);
    FUZZ_CHECK(Filter::pgn(m.pgn).passes(masked, true));
    FUZZ_CHECK(j1939::decode(masked) == m);
}

// A payload read back as it was written.
void signals(std::span<const std::uint8_t> input) {
    const auto s = Signals::from_bytes(input.first(std::min<std::size_t>(input.size(), Signals::kSize)));
    if (input.size() < Signals::kSize) {
        FUZZ_CHECK(!s && s.error().kind == CanError::Kind::NotEightBytes);
        return;
    }
    FUZZ_CHECK(s && std::ranges::equal(s->bytes(), input.first(Signals::kSize)));
    Signals t = *s;
    for (std::size_t at = 0; at + 2 < input.size() && at < 16; ++at) {
        const auto value = static_cast<std::uint16_t>(input[at] | input[at + 1] << 8);
        t.set_u16(input[at + 2], value);
        if (input[at + 2] < 7)
            FUZZ_CHECK(t.u16(input[at + 2]) == value);
        else
            FUZZ_CHECK(!t.u16(input[at + 2]));
        FUZZ_CHECK(t.u8(input[at + 2]).has_value() == (input[at + 2] < 8));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    frames(input);
    j1939_ids(input);
    signals(input);
    for (std::size_t i = 0; i < size && i < 8; ++i)
        FUZZ_CHECK(len_to_dlc(dlc_to_len(data[i])) == (data[i] & 0x0F));
    return 0;
}
