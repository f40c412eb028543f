#include "trovik/lorawan/frame.hpp"

#include <algorithm>

namespace trovik::lorawan {

void PhyPayload::append(std::span<const std::uint8_t> bytes) {
    std::ranges::copy(bytes, bytes_.begin() + static_cast<std::ptrdiff_t>(size_));
    size_ += bytes.size();
}

std::span<std::uint8_t> PhyPayload::extend(std::size_t n) {
    const std::span<std::uint8_t> room(bytes_.data() + size_, n);
    size_ += n;
    return room;
}

}  // namespace trovik::lorawan
