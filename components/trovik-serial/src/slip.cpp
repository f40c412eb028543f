#include "trovik/serial/slip.hpp"

#include <cstring>

namespace trovik::serial::slip {

namespace {

// Copies the bytes from `p` up to the next END or ESC (or `end`) to `out` at
// `w`, moving both on; false, with nothing copied, when they do not fit.
bool copy_plain(const std::uint8_t*& p, const std::uint8_t* end, std::span<std::uint8_t> out, std::size_t& w) noexcept {
    const std::uint8_t* const special = detail::find_special(p, end);
    const auto plain = static_cast<std::size_t>(special - p);
    if (plain > out.size() - w) return false;
    if (plain != 0) std::memcpy(out.data() + w, p, plain);
    w += plain;
    p = special;
    return true;
}

}  // namespace

std::expected<std::size_t, FramingError> encode(std::span<const std::uint8_t> payload,
                                                std::span<std::uint8_t> out) noexcept {
    const std::uint8_t* p = payload.data();
    const std::uint8_t* const end = p + payload.size();
    std::uint8_t* const o = out.data();
    const std::size_t cap = out.size();
    std::size_t w = 0;
    while (p != end) {
        if (!copy_plain(p, end, out, w)) return std::unexpected(FramingError::BufferTooSmall);
        if (p == end) break;
        if (cap - w < 2) return std::unexpected(FramingError::BufferTooSmall);
        o[w] = kEsc;
        o[w + 1] = *p++ == kEnd ? kEscEnd : kEscEsc;
        w += 2;
    }
    if (w == cap) return std::unexpected(FramingError::BufferTooSmall);
    o[w++] = kEnd;
    return w;
}

std::expected<std::size_t, FramingError> decode(std::span<const std::uint8_t> frame,
                                                std::span<std::uint8_t> out) noexcept {
    const std::uint8_t* p = frame.data();
    const std::uint8_t* const end = p + frame.size();
    std::uint8_t* const o = out.data();
    const std::size_t cap = out.size();
    std::size_t w = 0;
    while (p != end) {
        if (!copy_plain(p, end, out, w)) return std::unexpected(FramingError::BufferTooSmall);
        if (p == end) break;
        if (*p++ == kEnd) {
            if (w != 0) break;  // the frame's end; leading END bytes are skipped
            continue;
        }
        // ESC, and what it stands for.
        if (p == end || *p == kEnd) return std::unexpected(FramingError::Truncated);
        if (*p != kEscEnd && *p != kEscEsc) return std::unexpected(FramingError::InvalidEscape);
        if (w == cap) return std::unexpected(FramingError::BufferTooSmall);
        o[w++] = *p++ == kEscEnd ? kEnd : kEsc;
    }
    return w;
}

}  // namespace trovik::serial::slip
