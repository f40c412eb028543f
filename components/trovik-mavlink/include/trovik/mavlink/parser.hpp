#pragma once
// Cuts whole frames out of bytes that arrive in arbitrary pieces, skipping
// noise and frames that fail their checks, so a receiver can join a stream
// already in progress.
//
// Bytes are taken one at a time. The held bytes always start where a frame
// might; once they reach the length that frame's header promises, they are
// read with `Frame::parse_with`: a good frame is returned and its bytes
// dropped, anything else costs one byte from the front and the rest is
// scanned anew, so a real frame that began inside a false one is still
// found. One byte completes at most one frame: a frame already whole behind
// the one just returned comes out with the next byte.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "trovik/mavlink/frame.hpp"

namespace trovik::mavlink {

// Where the parser hands each completed frame.
using FrameSink = FunctionRef<void(const Frame&)>;

class Parser {
public:
    // Adds one byte; returns the frame it completed, if any.
    std::optional<Frame> push_byte(std::uint8_t byte, SeedLookup lookup);

    // Every byte of `data` through `push_byte`, in order, each completed
    // frame handed to `sink`; the same frames, without copying bytes that a
    // frame takes whole from `data`.
    void push(std::span<const std::uint8_t> data, SeedLookup lookup, FrameSink sink);

    // Removes the first `n` held bytes (all of them when fewer are held).
    void drop_front(std::size_t n) noexcept;

    std::span<const std::uint8_t> held() const noexcept { return {buf_.data(), len_}; }

private:
    std::array<std::uint8_t, kMaxFrameLen> buf_{};
    std::size_t len_ = 0;
};

}  // namespace trovik::mavlink
