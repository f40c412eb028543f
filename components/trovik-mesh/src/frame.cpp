#include "trovik/mesh/frame.hpp"

#include <algorithm>

#include "trovik/core/text.hpp"
#include "trovik/mesh/crc.hpp"

namespace trovik::mesh {

std::string MeshError::message() const {
    switch (kind) {
        case Kind::TooShort: return "mesh frame is shorter than its header and checksum";
        case Kind::TooLong: return "mesh frame is larger than the maximum frame size";
        case Kind::PayloadTooLong: return "mesh payload is larger than a single frame can carry";
        case Kind::UnsupportedVersion: return "unsupported mesh protocol version " + std::to_string(version);
        case Kind::CrcMismatch:
            return "mesh CRC mismatch: expected " + core::text::hex_prefixed(expected, 6) + ", found " +
                   core::text::hex_prefixed(found, 6);
    }
    return {};
}

std::uint16_t Frame::checksum(std::span<const std::uint8_t> bytes, std::size_t len) noexcept {
    std::uint16_t crc = crc16_update(0xFFFF, bytes.first(11));
    return crc16_update(crc, bytes.subspan(kHeaderLen, len - kHeaderLen - 2));
}

std::expected<Frame, MeshError> Frame::make(std::uint32_t src, std::uint32_t dst, std::uint16_t id,
                                            std::span<const std::uint8_t> payload) {
    if (payload.size() > kMaxPayload) return std::unexpected(MeshError{MeshError::Kind::PayloadTooLong});
    Frame f;
    auto& b = f.buf_;
    b[0] = kVersion;
    for (int i = 0; i < 4; ++i) {
        b[1 + i] = static_cast<std::uint8_t>(src >> (24 - 8 * i));
        b[5 + i] = static_cast<std::uint8_t>(dst >> (24 - 8 * i));
    }
    b[9] = static_cast<std::uint8_t>(id >> 8);
    b[10] = static_cast<std::uint8_t>(id);
    b[11] = kDefaultHopLimit;
    std::copy(payload.begin(), payload.end(), b.begin() + kHeaderLen);
    f.len_ = payload.size() + kHeaderLen + 2;
    std::uint16_t crc = checksum(b, f.len_);
    b[f.len_ - 2] = static_cast<std::uint8_t>(crc >> 8);
    b[f.len_ - 1] = static_cast<std::uint8_t>(crc);
    return f;
}

std::expected<Frame, MeshError> Frame::parse(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderLen + 2) return std::unexpected(MeshError{MeshError::Kind::TooShort});
    if (bytes.size() > kMaxFrameLen) return std::unexpected(MeshError{MeshError::Kind::TooLong});
    if (bytes[0] != kVersion) {
        MeshError e{MeshError::Kind::UnsupportedVersion};
        e.version = bytes[0];
        return std::unexpected(e);
    }
    std::uint16_t computed = checksum(bytes, bytes.size());
    auto carried = static_cast<std::uint16_t>(bytes[bytes.size() - 2] << 8 | bytes[bytes.size() - 1]);
    if (computed != carried) {
        MeshError e{MeshError::Kind::CrcMismatch};
        e.expected = computed;
        e.found = carried;
        return std::unexpected(e);
    }
    Frame f;
    std::copy(bytes.begin(), bytes.end(), f.buf_.begin());
    f.len_ = bytes.size();
    return f;
}

std::expected<std::optional<Frame>, MeshError> relayed(std::span<const std::uint8_t> bytes) {
    auto frame = Frame::parse(bytes);
    if (!frame) return std::unexpected(frame.error());
    if (frame->hop_limit() == 0) return std::optional<Frame>{};
    frame->set_hop_limit(static_cast<std::uint8_t>(frame->hop_limit() - 1));
    return std::optional<Frame>{*frame};
}

}  // namespace trovik::mesh
