#include "trovik/codec/delta.hpp"

#include <string>

namespace trovik::codec {

void append_uvarint(core::Bytes& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(value));
}

std::expected<std::uint64_t, core::Error> read_uvarint(std::span<const std::uint8_t> bytes, std::size_t& pos) {
    std::uint64_t value = 0;
    for (std::size_t at = pos, shift = 0; at < bytes.size(); ++at, shift += 7) {
        const std::uint8_t byte = bytes[at];
        // The tenth byte holds bit 63 alone: more would not fit.
        if (shift == 63 && byte > 1)
            return std::unexpected(core::Error::codec("a value in the batch does not fit in 64 bits"));
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            pos = at + 1;
            return value;
        }
    }
    return std::unexpected(core::Error::codec("the batch ends part-way through a value"));
}

core::Bytes encode_deltas(std::span<const std::int64_t> samples) {
    core::Bytes out;
    out.reserve(1 + samples.size());
    append_uvarint(out, samples.size());
    std::uint64_t previous = 0;
    for (const std::int64_t sample : samples) {
        const auto current = static_cast<std::uint64_t>(sample);
        append_uvarint(out, zigzag(static_cast<std::int64_t>(current - previous)));
        previous = current;
    }
    return out;
}

std::expected<std::vector<std::int64_t>, core::Error> decode_deltas(std::span<const std::uint8_t> batch) {
    std::size_t pos = 0;
    const auto count = read_uvarint(batch, pos);
    if (!count) return std::unexpected(count.error());
    // The count is untrusted: samples are appended as they are read, never reserved from it.
    std::vector<std::int64_t> samples;
    std::uint64_t sum = 0;
    for (std::uint64_t i = 0; i < *count; ++i) {
        const auto delta = read_uvarint(batch, pos);
        if (!delta) return std::unexpected(delta.error());
        sum += static_cast<std::uint64_t>(unzigzag(*delta));
        samples.push_back(static_cast<std::int64_t>(sum));
    }
    if (pos != batch.size())
        return std::unexpected(
            core::Error::codec(std::to_string(batch.size() - pos) + " bytes follow the batch's last sample"));
    return samples;
}

}  // namespace trovik::codec
