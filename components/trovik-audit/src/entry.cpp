#include "trovik/audit/entry.hpp"

#include <algorithm>

namespace trovik::audit {
namespace {

std::array<std::uint8_t, 8> little_endian(std::uint64_t value) {
    std::array<std::uint8_t, 8> out;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return out;
}

}  // namespace

Digest entry_digest(std::uint64_t index, const Digest& previous, std::span<const std::uint8_t> payload) {
    return crypto::Sha256().update(little_endian(index)).update(previous).update(payload).finish();
}

std::vector<std::uint8_t> Entry::to_bytes() const {
    std::vector<std::uint8_t> out(kHeaderSize + payload.size());
    auto at = std::ranges::copy(little_endian(index), out.begin()).out;
    at = std::ranges::copy(previous, at).out;
    at = std::ranges::copy(signature.to_bytes(), at).out;
    std::ranges::copy(payload, at);
    return out;
}

std::expected<Entry, core::Error> Entry::from_bytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderSize)
        return std::unexpected(core::Error::codec("audit entry is shorter than its header"));
    std::uint64_t index = 0;
    for (std::size_t i = 0; i < 8; ++i)
        index |= std::uint64_t{bytes[i]} << (8 * i);
    Digest previous;
    std::ranges::copy(bytes.subspan<8, 32>(), previous.begin());
    const auto rest = bytes.subspan(kHeaderSize);
    return Entry{index, previous, security::Signature::from_bytes(bytes.subspan<40, security::Signature::kSize>()),
                 std::vector<std::uint8_t>(rest.begin(), rest.end())};
}

}  // namespace trovik::audit
