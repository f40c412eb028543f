#include "trovik/can/frame.hpp"

#include <algorithm>

#include "trovik/can/id.hpp"

namespace trovik::can {

namespace {

std::unexpected<CanError> refused(CanError::Kind kind) noexcept { return std::unexpected(CanError{kind}); }

}  // namespace

std::expected<Frame, CanError> Frame::classic(std::uint32_t id, bool extended,
                                              std::span<const std::uint8_t> data) noexcept {
    if (!id_fits(id, extended)) return refused(CanError::Kind::IdTooWide);
    if (data.size() > kClassicMaxLen) return refused(CanError::Kind::DataTooLong);
    Frame f;
    f.id_ = id;
    f.extended_ = extended;
    f.len_ = static_cast<std::uint8_t>(data.size());
    std::ranges::copy(data, f.data_.begin());
    return f;
}

std::expected<Frame, CanError> Frame::fd(std::uint32_t id, bool extended, std::span<const std::uint8_t> data) noexcept {
    if (!id_fits(id, extended)) return refused(CanError::Kind::IdTooWide);
    if (data.size() > kFdMaxLen) return refused(CanError::Kind::DataTooLong);
    if (!is_fd_len(data.size())) return refused(CanError::Kind::InvalidFdLength);
    Frame f;
    f.id_ = id;
    f.extended_ = extended;
    f.fd_ = true;
    f.len_ = static_cast<std::uint8_t>(data.size());
    std::ranges::copy(data, f.data_.begin());
    return f;
}

std::expected<Frame, CanError> Frame::remote(std::uint32_t id, bool extended, std::uint64_t len) noexcept {
    if (!id_fits(id, extended)) return refused(CanError::Kind::IdTooWide);
    Frame f;
    f.id_ = id;
    f.extended_ = extended;
    f.remote_ = true;
    f.len_ = static_cast<std::uint8_t>(std::min(len, kClassicMaxLen));
    return f;
}

}  // namespace trovik::can
