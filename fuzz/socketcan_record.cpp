// The records a SocketCAN socket delivers: reading one, writing the frame
// back, and the kernel's filter test against ours on it.
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
#include "trovik/can/id.hpp"
#include "trovik/can/socketcan.hpp"

using namespace trovik::can;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    // A record, then (optionally) eight bytes of a filter to try on it.
    const std::size_t record_size = size >= socketcan::kFdRecordSize        ? socketcan::kFdRecordSize
                                    : size >= socketcan::kClassicRecordSize ? socketcan::kClassicRecordSize
                                                                            : size;
    const auto record = input.first(record_size);
    const auto frame = socketcan::decode(record);
    if (!frame) return 0;

    std::uint32_t can_id = 0;
    std::memcpy(&can_id, record.data(), 4);
    FUZZ_CHECK((can_id & socketcan::kErrorFlag) == 0);
    FUZZ_CHECK(frame->is_fd() == (record.size() == socketcan::kFdRecordSize));
    FUZZ_CHECK(frame->len() == record[4] || frame->is_remote());
    FUZZ_CHECK(id_fits(frame->id(), frame->is_extended()));
    FUZZ_CHECK(frame->len() <= (frame->is_fd() ? kFdMaxLen : kClassicMaxLen));
    FUZZ_CHECK(!frame->is_fd() || is_fd_len(frame->len()));
    FUZZ_CHECK(dlc_to_len(frame->dlc()) == frame->len());
    FUZZ_CHECK(frame->data().size() == (frame->is_remote() ? 0u : frame->len()));

    // Written back, the record has the same identifier, flags, length and
    // data, and every byte it does not use is 0; read again, the same frame.
    std::array<std::uint8_t, socketcan::kFdRecordSize> out;
    const std::size_t n = socketcan::encode(*frame, out);
    FUZZ_CHECK(n == record.size());
    FUZZ_CHECK(std::memcmp(out.data(), record.data(), 5) == 0);
    FUZZ_CHECK(std::ranges::equal(std::span(out).subspan(8, frame->data().size()), frame->data()));
    FUZZ_CHECK(std::all_of(out.begin() + 8 + static_cast<std::ptrdiff_t>(frame->data().size()),
                           out.begin() + static_cast<std::ptrdiff_t>(n), [](std::uint8_t b) { return b == 0; }));
    FUZZ_CHECK(socketcan::decode(std::span(out).first(n)) == frame);

    // The kernel's filter test on the record's can_id agrees with ours.
    if (size >= record_size + 9) {
        std::uint32_t id = 0;
        std::uint32_t mask = 0;
        std::memcpy(&id, data + record_size, 4);
        std::memcpy(&mask, data + record_size + 4, 4);
        const bool extended = (data[record_size + 8] & 1) != 0;
        const auto filter = Filter::make(id & id_mask(extended), mask, extended);
        FUZZ_CHECK(filter.has_value());
        const auto k = socketcan::kernel_filter(*filter);
        FUZZ_CHECK(((can_id & k.can_mask) == (k.can_id & k.can_mask)) == filter->passes(*frame));
    }
    return 0;
}
