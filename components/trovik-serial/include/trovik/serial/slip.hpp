#pragma once
// SLIP (RFC 1055): frames ended by an END byte, with END and ESC inside the
// payload written as two-byte escapes. Nothing here allocates: every output
// goes into a buffer the caller provides, and the streaming decoder keeps its
// frame in a fixed buffer of its own.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <optional>
#include <span>

#include "trovik/serial/frame_event.hpp"
#include "trovik/serial/framing_error.hpp"

namespace trovik::serial::slip {

inline constexpr std::uint8_t kEnd = 0xC0;     // ends a frame
inline constexpr std::uint8_t kEsc = 0xDB;     // starts an escape
inline constexpr std::uint8_t kEscEnd = 0xDC;  // after ESC: a data byte END
inline constexpr std::uint8_t kEscEsc = 0xDD;  // after ESC: a data byte ESC
// The frame buffer of the decoders the module hands out.
inline constexpr std::size_t kStreamCapacity = 2048;

// The longest frame a payload of this length encodes to: every byte escaped,
// and END. Saturates where the true length does not fit.
constexpr std::uint64_t max_encoded_len(std::uint64_t payload_len) noexcept {
    return payload_len > (UINT64_MAX - 1) / 2 ? UINT64_MAX : 2 * payload_len + 1;
}

// Writes the frame of `payload`, END included (none before it), to the front
// of `out` and returns its length; BufferTooSmall when it does not fit.
std::expected<std::size_t, FramingError> encode(std::span<const std::uint8_t> payload,
                                                std::span<std::uint8_t> out) noexcept;

// Decodes the first frame of `frame` into `out`: leading END bytes are
// skipped, the first END after some payload ends it, and a missing END is no
// error. InvalidEscape for ESC followed by anything but the two escape codes,
// Truncated for ESC followed by END or by the end of the input, BufferTooSmall
// when the payload does not fit (never when `out` is as long as the input).
std::expected<std::size_t, FramingError> decode(std::span<const std::uint8_t> frame,
                                                std::span<std::uint8_t> out) noexcept;

namespace detail {

// Whether any byte of `word` equals `byte`.
constexpr bool has_byte(std::uint64_t word, std::uint8_t byte) noexcept {
    constexpr std::uint64_t ones = 0x0101010101010101;
    const std::uint64_t x = word ^ (ones * byte);
    return ((x - ones) & ~x & (ones << 7)) != 0;
}

// The first END or ESC in [p, end), or `end`; eight bytes at a time.
inline const std::uint8_t* find_special(const std::uint8_t* p, const std::uint8_t* end) noexcept {
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (has_byte(word, kEnd) || has_byte(word, kEsc)) break;
        p += 8;
    }
    while (p != end && *p != kEnd && *p != kEsc)
        ++p;
    return p;
}

}  // namespace detail

// Reassembles frames from a stream that arrives in chunks, such as the reads of
// a serial port, and keeps going through corrupt input. Empty frames (END
// bytes in a row) are skipped. A frame met with a bad escape or too long for
// the buffer is dropped whole, up to and including its END, so no part of it
// is handed out as a frame of its own.
template <std::size_t Capacity>
class Decoder {
public:
    using Event = FrameEvent;

    Event push(std::uint8_t byte) noexcept {
        if (complete_) reset();
        if (skipping_) {
            if (byte == kEnd) skipping_ = false;
            return std::nullopt;
        }
        if (byte == kEnd) {
            if (escaped_) return fail(FramingError::Truncated);
            if (len_ == 0) return std::nullopt;
            complete_ = true;
            return std::span<const std::uint8_t>(buffer_.data(), len_);
        }
        if (escaped_) {
            if (byte != kEscEnd && byte != kEscEsc) return drop(FramingError::InvalidEscape);
            escaped_ = false;
            byte = byte == kEscEnd ? kEnd : kEsc;
        } else if (byte == kEsc) {
            escaped_ = true;
            return std::nullopt;
        }
        if (len_ == Capacity) return drop(FramingError::BufferTooSmall);
        buffer_[len_++] = byte;
        return std::nullopt;
    }

    // Pushes every byte of `chunk` in order: `on_frame(span)` for each frame,
    // `on_error(FramingError)` for each error. Runs of plain bytes are copied
    // whole, but the outcome is exactly that of pushing byte by byte.
    template <class OnFrame, class OnError>
    void feed(std::span<const std::uint8_t> chunk, OnFrame&& on_frame, OnError&& on_error) {
        const std::uint8_t* p = chunk.data();
        const std::uint8_t* const end = p + chunk.size();
        while (p != end) {
            if (skipping_) {
                const void* frame_end = std::memchr(p, kEnd, static_cast<std::size_t>(end - p));
                if (!frame_end) return;
                p = static_cast<const std::uint8_t*>(frame_end);
            } else if (!escaped_ && !complete_) {
                const std::uint8_t* stop = detail::find_special(p, p + std::min<std::size_t>(end - p, Capacity - len_));
                const auto plain = static_cast<std::size_t>(stop - p);
                std::memcpy(buffer_.data() + len_, p, plain);
                len_ += plain;
                p = stop;
                // What stopped the run (END, ESC, a full buffer) is the next
                // byte's to deal with, one push.
                if (p == end) return;
            }
            deliver(push(*p++), on_frame, on_error);
        }
    }

    void reset() noexcept {
        len_ = 0;
        escaped_ = false;
        complete_ = false;
        skipping_ = false;
    }

    // Bytes of the frame assembled so far.
    std::size_t size() const noexcept { return len_; }
    // Whether the decoder is dropping the rest of a corrupt or overlong frame.
    bool skipping() const noexcept { return skipping_; }

private:
    Event fail(FramingError error) noexcept {
        reset();
        return std::unexpected(error);
    }
    Event drop(FramingError error) noexcept {
        reset();
        skipping_ = true;
        return std::unexpected(error);
    }

    std::array<std::uint8_t, Capacity> buffer_{};
    std::size_t len_ = 0;
    bool escaped_ = false;   // the last byte was ESC
    bool complete_ = false;  // the last push handed out a frame
    bool skipping_ = false;  // dropping a corrupt or overlong frame up to its END
};

using StreamDecoder = Decoder<kStreamCapacity>;

}  // namespace trovik::serial::slip
