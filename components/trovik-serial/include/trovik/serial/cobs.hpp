#pragma once
// COBS (consistent overhead byte stuffing): frames that never contain 0x00,
// each ended by one 0x00 delimiter. Nothing here allocates: every output goes
// into a buffer the caller provides, and the streaming decoder keeps its frame
// in a fixed buffer of its own.
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

namespace trovik::serial::cobs {

inline constexpr std::uint8_t kDelimiter = 0x00;
// The frame buffer of the decoders the module hands out.
inline constexpr std::size_t kStreamCapacity = 2048;

// The longest frame, delimiter included, a payload of this length encodes to:
// one code byte per 254 payload bytes, one more, and the delimiter. Saturates
// where the true length does not fit, which no buffer could hold anyway.
constexpr std::uint64_t max_encoded_len(std::uint64_t payload_len) noexcept {
    const std::uint64_t extra = payload_len / 254 + 2;
    return payload_len > UINT64_MAX - extra ? UINT64_MAX : payload_len + extra;
}

// Writes the frame of `payload`, delimiter included, to the front of `out` and
// returns its length; BufferTooSmall when it does not fit.
std::expected<std::size_t, FramingError> encode(std::span<const std::uint8_t> payload,
                                                std::span<std::uint8_t> out) noexcept;

// Decodes the first frame of `frame` into `out`. The delimiter may be missing;
// whatever follows it is ignored. Truncated when a block runs past the
// delimiter or the input, BufferTooSmall when the payload does not fit (never
// when `out` is as long as the input).
std::expected<std::size_t, FramingError> decode(std::span<const std::uint8_t> frame,
                                                std::span<std::uint8_t> out) noexcept;

// Reassembles frames from a stream that arrives in chunks, such as the reads of
// a serial port, and keeps going through corrupt input: after an error the next
// byte starts a new frame, except that a frame too long for the buffer is
// dropped whole, up to and including its delimiter, so no part of it is handed
// out as a frame of its own.
template <std::size_t Capacity>
class Decoder {
public:
    using Event = FrameEvent;

    Event push(std::uint8_t byte) noexcept {
        if (complete_) reset();
        if (skipping_) {
            if (byte == kDelimiter) skipping_ = false;
            return std::nullopt;
        }
        if (byte == kDelimiter) {
            if (remaining_ != 0) return fail(FramingError::Truncated);
            complete_ = true;
            return std::span<const std::uint8_t>(buffer_.data(), len_);
        }
        if (remaining_ != 0) {
            if (len_ == Capacity) return overflow();
            buffer_[len_++] = byte;
            --remaining_;
            return std::nullopt;
        }
        // A code byte: the block before it, unless it was a full one, ended at a zero.
        if (code_ != 0xFF) {
            if (len_ == Capacity) return overflow();
            buffer_[len_++] = 0;
        }
        code_ = byte;
        remaining_ = static_cast<std::uint8_t>(byte - 1);
        return std::nullopt;
    }

    // Pushes every byte of `chunk` in order: `on_frame(span)` for each frame,
    // `on_error(FramingError)` for each error. Runs of data bytes are copied
    // whole, but the outcome is exactly that of pushing byte by byte.
    template <class OnFrame, class OnError>
    void feed(std::span<const std::uint8_t> chunk, OnFrame&& on_frame, OnError&& on_error) {
        const std::uint8_t* p = chunk.data();
        const std::uint8_t* const end = p + chunk.size();
        while (p != end) {
            if (skipping_) {
                const void* delimiter = std::memchr(p, kDelimiter, static_cast<std::size_t>(end - p));
                if (!delimiter) return;
                p = static_cast<const std::uint8_t*>(delimiter);
            } else if (remaining_ != 0 && !complete_) {
                const std::size_t run =
                    std::min<std::size_t>({remaining_, static_cast<std::size_t>(end - p), Capacity - len_});
                const void* zero = std::memchr(p, kDelimiter, run);
                const std::size_t data =
                    zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - p) : run;
                std::memcpy(buffer_.data() + len_, p, data);
                len_ += data;
                remaining_ = static_cast<std::uint8_t>(remaining_ - data);
                p += data;
                // What stopped the run (a zero, the block's end, a full buffer)
                // is the next byte's to deal with, one push.
                if (p == end) return;
            }
            deliver(push(*p++), on_frame, on_error);
        }
    }

    void reset() noexcept {
        len_ = 0;
        remaining_ = 0;
        code_ = 0xFF;
        complete_ = false;
        skipping_ = false;
    }

    // Bytes of the frame assembled so far.
    std::size_t size() const noexcept { return len_; }
    // Whether the decoder is dropping the rest of an overlong frame.
    bool skipping() const noexcept { return skipping_; }

private:
    Event fail(FramingError error) noexcept {
        reset();
        return std::unexpected(error);
    }
    Event overflow() noexcept {
        reset();
        skipping_ = true;
        return std::unexpected(FramingError::BufferTooSmall);
    }

    std::array<std::uint8_t, Capacity> buffer_{};
    std::size_t len_ = 0;
    std::uint8_t remaining_ = 0;  // data bytes still to come in this block
    std::uint8_t code_ = 0xFF;    // the last code byte read
    bool complete_ = false;       // the last push handed out a frame
    bool skipping_ = false;       // dropping an overlong frame up to its delimiter
};

using StreamDecoder = Decoder<kStreamCapacity>;

}  // namespace trovik::serial::cobs
