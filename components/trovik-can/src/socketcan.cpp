#include "trovik/can/socketcan.hpp"

#include <algorithm>
#include <cstring>

#include "trovik/can/id.hpp"

namespace trovik::can::socketcan {

namespace {

// Field offsets shared by both records.
constexpr std::size_t kIdAt = 0;
constexpr std::size_t kLenAt = 4;
constexpr std::size_t kFlagsAt = 5;  // CAN FD only
constexpr std::size_t kDataAt = 8;

}  // namespace

std::size_t encode(const Frame& frame, std::span<std::uint8_t, kFdRecordSize> out) noexcept {
    const std::size_t size = frame.is_fd() ? kFdRecordSize : kClassicRecordSize;
    std::fill_n(out.begin(), size, std::uint8_t{0});
    std::uint32_t can_id = frame.id();
    if (frame.is_extended()) can_id |= kExtendedFlag;
    if (frame.is_remote()) can_id |= kRemoteFlag;
    std::memcpy(out.data() + kIdAt, &can_id, sizeof can_id);  // host byte order, as the kernel keeps it
    out[kLenAt] = frame.len();
    if (frame.is_fd()) out[kFlagsAt] = kFdFrameFlag;
    std::ranges::copy(frame.data(), out.begin() + kDataAt);
    return size;
}

std::optional<Frame> decode(std::span<const std::uint8_t> record) noexcept {
    if (record.size() != kClassicRecordSize && record.size() != kFdRecordSize) return std::nullopt;
    std::uint32_t can_id = 0;
    std::memcpy(&can_id, record.data() + kIdAt, sizeof can_id);
    if (can_id & kErrorFlag) return std::nullopt;
    const bool extended = (can_id & kExtendedFlag) != 0;
    const std::uint32_t id = can_id & kExtendedIdMask;
    const std::uint8_t len = record[kLenAt];
    const auto data = record.subspan(kDataAt);

    std::expected<Frame, CanError> frame = std::unexpected(CanError{CanError::Kind::DataTooLong});
    if (record.size() == kFdRecordSize) {
        // CAN FD has no remote frames; the kernel never sets the flag on one.
        if (can_id & kRemoteFlag) return std::nullopt;
        if (len > kFdMaxLen) return std::nullopt;
        frame = Frame::fd(id, extended, data.first(len));
    } else if (can_id & kRemoteFlag) {
        if (len > kClassicMaxLen) return std::nullopt;
        frame = Frame::remote(id, extended, len);
    } else {
        if (len > kClassicMaxLen) return std::nullopt;
        frame = Frame::classic(id, extended, data.first(len));
    }
    if (!frame) return std::nullopt;
    return *frame;
}

KernelFilter kernel_filter(const Filter& filter) noexcept {
    return {filter.id() | (filter.extended() ? kExtendedFlag : 0), filter.mask() | kExtendedFlag};
}

}  // namespace trovik::can::socketcan
