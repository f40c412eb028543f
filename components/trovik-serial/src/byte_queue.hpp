#pragma once
// The bytes waiting to be read on a line inside the program: appended at the
// back, taken from the front.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace trovik::serial {

class ByteQueue {
public:
    std::size_t size() const noexcept { return bytes_.size() - head_; }

    void append(std::span<const std::uint8_t> data) {
        if (head_ == bytes_.size()) clear();
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }

    // Moves the first min(out.size(), size()) bytes into the front of `out`.
    std::size_t take(std::span<std::uint8_t> out) noexcept {
        const std::size_t n = std::min(out.size(), size());
        if (n == 0) return 0;
        std::memcpy(out.data(), bytes_.data() + head_, n);
        head_ += n;
        // Taken bytes are dropped once they are the larger part, so a queue
        // that is read as fast as it is written stays small.
        if (head_ == bytes_.size()) {
            clear();
        } else if (head_ > 4096 && head_ * 2 > bytes_.size()) {
            bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
        return n;
    }

    void clear() noexcept {
        bytes_.clear();
        head_ = 0;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t head_ = 0;
};

}  // namespace trovik::serial
