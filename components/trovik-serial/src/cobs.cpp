#include "trovik/serial/cobs.hpp"

#include <cstring>

namespace trovik::serial::cobs {

namespace {

// The first zero among `n` bytes from `p`, or null. Empty input may come with
// a null pointer, which memchr must not see.
const std::uint8_t* find_zero(const std::uint8_t* p, std::size_t n) noexcept {
    return n == 0 ? nullptr : static_cast<const std::uint8_t*>(std::memchr(p, 0, n));
}

}  // namespace

std::expected<std::size_t, FramingError> encode(std::span<const std::uint8_t> payload,
                                                std::span<std::uint8_t> out) noexcept {
    // The payload is a sequence of zero-free runs, each ended by a zero or by
    // the payload's end. A run becomes blocks of at most 254 data bytes, each
    // led by its code byte (data bytes + 1); a full block (code 0xFF) stands
    // for no zero. A run that ends at a zero always closes with a short block,
    // empty if need be, whose code stands for that zero; the payload's last run
    // needs none when it ended a full block.
    const std::uint8_t* p = payload.data();
    const std::uint8_t* const end = p + payload.size();
    std::uint8_t* const o = out.data();
    const std::size_t cap = out.size();
    std::size_t w = 0;
    for (;;) {
        const std::uint8_t* const zero = find_zero(p, static_cast<std::size_t>(end - p));
        const std::uint8_t* const run_end = zero ? zero : end;
        bool full_block = false;
        while (run_end - p >= 254) {
            if (cap - w < 255) return std::unexpected(FramingError::BufferTooSmall);
            o[w] = 0xFF;
            std::memcpy(o + w + 1, p, 254);
            w += 255;
            p += 254;
            full_block = true;
        }
        const auto rest = static_cast<std::size_t>(run_end - p);
        if (zero || rest != 0 || !full_block) {
            if (cap - w < rest + 1) return std::unexpected(FramingError::BufferTooSmall);
            o[w] = static_cast<std::uint8_t>(rest + 1);
            if (rest != 0) std::memcpy(o + w + 1, p, rest);
            w += rest + 1;
            p += rest;
        }
        if (!zero) break;
        ++p;  // the zero the code byte stood for
    }
    if (w >= cap) return std::unexpected(FramingError::BufferTooSmall);
    o[w++] = kDelimiter;
    return w;
}

std::expected<std::size_t, FramingError> decode(std::span<const std::uint8_t> frame,
                                                std::span<std::uint8_t> out) noexcept {
    const std::uint8_t* p = frame.data();
    const std::uint8_t* const end = p + frame.size();
    std::uint8_t* const o = out.data();
    const std::size_t cap = out.size();
    std::size_t w = 0;
    std::uint8_t code = 0xFF;
    while (p != end && *p != kDelimiter) {
        // A code byte; the block before it, unless a full one, ended at a zero.
        if (code != 0xFF) {
            if (w == cap) return std::unexpected(FramingError::BufferTooSmall);
            o[w++] = 0;
        }
        code = *p++;
        const std::size_t want = code - 1u;
        const std::size_t run = std::min(want, static_cast<std::size_t>(end - p));
        const std::uint8_t* const zero = find_zero(p, run);
        const std::size_t data = zero ? static_cast<std::size_t>(zero - p) : run;
        if (data > cap - w) return std::unexpected(FramingError::BufferTooSmall);
        if (data != 0) std::memcpy(o + w, p, data);
        w += data;
        p += data;
        // The delimiter or the input's end came inside the block.
        if (data != want) return std::unexpected(FramingError::Truncated);
    }
    return w;
}

}  // namespace trovik::serial::cobs
