#include "trovik/mavlink/parser.hpp"

#include <algorithm>
#include <cstring>

namespace trovik::mavlink {
namespace {

// What the held bytes call for next.
struct Step {
    enum class What { Wait, Drop, Take } what;
    // Wait: how many held bytes the next decision needs; Take: the frame's length.
    std::size_t len = 0;
};

// One turn of the loop on the held bytes `held`; a frame taken is put in `frame`.
Step decide(std::span<const std::uint8_t> held, SeedLookup lookup, std::optional<Frame>& frame) {
    if (held.empty()) return {Step::What::Wait, 1};
    if (held[0] != kMagicV1 && held[0] != kMagicV2) return {Step::What::Drop};
    const std::optional<std::size_t> need = Frame::needed_len(held);
    if (!need) return {Step::What::Wait, held[0] == kMagicV1 ? std::size_t{2} : std::size_t{3}};
    if (held.size() < *need) return {Step::What::Wait, *need};
    auto read = Frame::parse_with(held.first(*need), lookup);
    if (!read) return {Step::What::Drop};
    frame.emplace(*read);
    return {Step::What::Take, *need};
}

}  // namespace

void Parser::drop_front(std::size_t n) noexcept {
    n = std::min(n, len_);
    std::memmove(buf_.data(), buf_.data() + n, len_ - n);
    len_ -= n;
}

std::optional<Frame> Parser::push_byte(std::uint8_t byte, SeedLookup lookup) {
    // After every byte at most 279 bytes stay held: every frame fits in 280,
    // and held bytes that reach their frame's length are decided at once.
    buf_[len_++] = byte;
    std::optional<Frame> frame;
    for (;;) {
        const Step step = decide(held(), lookup, frame);
        switch (step.what) {
            case Step::What::Wait: return std::nullopt;
            case Step::What::Drop: drop_front(1); break;
            case Step::What::Take: drop_front(step.len); return frame;
        }
    }
}

void Parser::push(std::span<const std::uint8_t> data, SeedLookup lookup, FrameSink sink) {
    // While bytes from an earlier call are held, they and the new bytes must
    // sit together in the buffer: one byte at a time.
    std::size_t next = 0;
    while (len_ > 0 && next < data.size()) {
        if (auto frame = push_byte(data[next++], lookup)) sink(*frame);
    }
    if (next == data.size()) return;

    // Nothing held: the held bytes are a window [start, end) of `data` itself,
    // `end` being how many bytes have been pushed. While a frame waits for
    // bytes, pushing them one by one changes nothing until its length is
    // reached, so the window grows straight to it.
    std::size_t start = next;
    std::size_t end = next;
    std::optional<Frame> frame;
    for (;;) {
        const Step step = decide(data.subspan(start, end - start), lookup, frame);
        if (step.what == Step::What::Drop) {
            ++start;
            continue;
        }
        if (step.what == Step::What::Take) {
            sink(*frame);
            start += step.len;
        }
        if (end == data.size()) break;
        if (step.what == Step::What::Take)
            ++end;  // one frame per byte: the next decision waits for the next byte
        else
            end = std::min(start + step.len, data.size());
    }
    len_ = end - start;
    std::memcpy(buf_.data(), data.data() + start, len_);
}

}  // namespace trovik::mavlink
