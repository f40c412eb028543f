#include "trovik/mavlink/frame.hpp"

#include <algorithm>
#include <cstring>

#include "trovik/mavlink/crc.hpp"

namespace trovik::mavlink {
namespace {

using Kind = MavlinkError::Kind;

std::unexpected<MavlinkError> fail(Kind kind, std::uint32_t value = 0) {
    return std::unexpected(MavlinkError{kind, value});
}

std::uint16_t le16(const std::uint8_t* p) noexcept { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

}  // namespace

std::size_t trimmed_len(std::span<const std::uint8_t> payload) noexcept {
    std::size_t n = payload.size();
    while (n > 1 && payload[n - 1] == 0)
        --n;
    return n;
}

std::expected<Frame, MavlinkError> Frame::encode_v1(Header header, std::uint32_t msgid,
                                                    std::span<const std::uint8_t> payload, std::uint8_t crc_extra) {
    if (payload.size() > kMaxPayloadLen) return fail(Kind::PayloadTooLong);
    if (msgid > 0xFF) return fail(Kind::UnknownMessage, msgid);
    Frame f;
    auto& b = f.buf_;
    b[0] = kMagicV1;
    b[1] = static_cast<std::uint8_t>(payload.size());
    b[2] = header.sequence;
    b[3] = header.system_id;
    b[4] = header.component_id;
    b[5] = static_cast<std::uint8_t>(msgid);
    if (!payload.empty()) std::memcpy(b.data() + kHeaderLenV1, payload.data(), payload.size());
    const std::size_t end = kHeaderLenV1 + payload.size();
    const std::uint16_t crc = checksum({b.data() + 1, end - 1}, crc_extra);
    b[end] = static_cast<std::uint8_t>(crc);
    b[end + 1] = static_cast<std::uint8_t>(crc >> 8);
    f.len_ = static_cast<std::uint16_t>(end + kChecksumLen);
    return f;
}

std::expected<Frame, MavlinkError> Frame::assemble_v2(Header header, std::uint32_t msgid,
                                                      std::span<const std::uint8_t> payload, std::uint8_t crc_extra,
                                                      std::uint8_t incompat_flags) {
    if (payload.size() > kMaxPayloadLen) return fail(Kind::PayloadTooLong);
    if (auto checked = check_message_id(msgid); !checked) return std::unexpected(checked.error());
    const std::size_t len = trimmed_len(payload);
    Frame f;
    auto& b = f.buf_;
    b[0] = kMagicV2;
    b[1] = static_cast<std::uint8_t>(len);
    b[2] = incompat_flags;
    b[3] = 0;
    b[4] = header.sequence;
    b[5] = header.system_id;
    b[6] = header.component_id;
    b[7] = static_cast<std::uint8_t>(msgid);
    b[8] = static_cast<std::uint8_t>(msgid >> 8);
    b[9] = static_cast<std::uint8_t>(msgid >> 16);
    if (len) std::memcpy(b.data() + kHeaderLenV2, payload.data(), len);
    const std::size_t end = kHeaderLenV2 + len;
    const std::uint16_t crc = checksum({b.data() + 1, end - 1}, crc_extra);
    b[end] = static_cast<std::uint8_t>(crc);
    b[end + 1] = static_cast<std::uint8_t>(crc >> 8);
    f.len_ = static_cast<std::uint16_t>(end + kChecksumLen + ((incompat_flags & kIncompatSigned) ? kSignatureLen : 0));
    return f;
}

std::optional<std::size_t> Frame::needed_len(std::span<const std::uint8_t> data) noexcept {
    if (data.size() >= 2 && data[0] == kMagicV1) return data[1] + kHeaderLenV1 + kChecksumLen;
    if (data.size() >= 3 && data[0] == kMagicV2)
        return data[1] + kHeaderLenV2 + kChecksumLen + ((data[2] & kIncompatSigned) ? kSignatureLen : 0);
    return std::nullopt;
}

namespace {

// The reader's checks up to the seed: the frame's full length, or why there
// is no frame.
std::expected<std::size_t, MavlinkError> check_shape(std::span<const std::uint8_t> data) {
    if (data.empty()) return fail(Kind::FrameTooShort);
    const std::uint8_t magic = data[0];
    if (magic != kMagicV1 && magic != kMagicV2) return fail(Kind::BadMagic, magic);
    if (data.size() < (magic == kMagicV1 ? kHeaderLenV1 : kHeaderLenV2)) return fail(Kind::FrameTooShort);
    if (magic == kMagicV2 && data[2] > kIncompatSigned) return fail(Kind::UnknownIncompatFlags, data[2]);
    const std::size_t need = *Frame::needed_len(data);
    if (data.size() < need) return fail(Kind::Truncated);
    return need;
}

std::uint32_t id_of(std::span<const std::uint8_t> data) {
    if (data[0] == kMagicV1) return data[5];
    return std::uint32_t{data[7]} | std::uint32_t{data[8]} << 8 | std::uint32_t{data[9]} << 16;
}

}  // namespace

std::expected<Frame, MavlinkError> Frame::parse(std::span<const std::uint8_t> data, std::uint8_t crc_extra) {
    return parse_with(data, [crc_extra](std::uint32_t) { return std::optional<std::uint8_t>(crc_extra); });
}

std::expected<Frame, MavlinkError> Frame::parse_with(std::span<const std::uint8_t> data, SeedLookup lookup) {
    const auto need = check_shape(data);
    if (!need) return std::unexpected(need.error());
    const std::uint32_t msgid = id_of(data);
    const std::optional<std::uint8_t> seed = lookup(msgid);
    if (!seed) return fail(Kind::UnknownMessage, msgid);
    const std::size_t end = (data[0] == kMagicV1 ? kHeaderLenV1 : kHeaderLenV2) + data[1];
    const std::uint16_t computed = checksum(data.subspan(1, end - 1), *seed);
    const std::uint16_t carried = le16(data.data() + end);
    if (computed != carried) return std::unexpected(MavlinkError::crc_mismatch(computed, carried));
    Frame f;
    std::memcpy(f.buf_.data(), data.data(), *need);
    f.len_ = static_cast<std::uint16_t>(*need);
    return f;
}

}  // namespace trovik::mavlink
