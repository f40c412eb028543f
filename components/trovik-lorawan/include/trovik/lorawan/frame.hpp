#pragma once
// A whole LoRaWAN frame in a fixed buffer: no frame of ours is longer than
// 256 bytes, so building one never allocates.
#include <array>
#include <cstdint>
#include <span>

namespace trovik::lorawan {

inline constexpr std::size_t kMaxFrameSize = 256;

class PhyPayload {
public:
    std::span<const std::uint8_t> as_bytes() const { return {bytes_.data(), size_}; }
    std::size_t size() const { return size_; }

    // Appends bytes the caller has already checked to fit.
    void append(std::span<const std::uint8_t> bytes);
    void push_back(std::uint8_t byte) { bytes_[size_++] = byte; }
    // Room for `n` more bytes, written in place by the caller.
    std::span<std::uint8_t> extend(std::size_t n);

private:
    std::array<std::uint8_t, kMaxFrameSize> bytes_{};
    std::size_t size_ = 0;
};

}  // namespace trovik::lorawan
