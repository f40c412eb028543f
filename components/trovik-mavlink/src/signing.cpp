#include "trovik/mavlink/signing.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

// The one-call SHA-256 interface of OpenSSL 3 allocates a context for every
// digest; the plain one keeps its state on the stack and runs the same
// assembly. It is marked deprecated, not going away in the 3.x series.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/sha.h>

namespace trovik::mavlink {
namespace {

using Kind = MavlinkError::Kind;

std::uint64_t le48(const std::uint8_t* p) noexcept {
    std::uint64_t v = 0;
    for (int i = 5; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

}  // namespace

Signature48 signature_48(const SigningKey& key, std::span<const std::uint8_t> frame_through_checksum,
                         std::span<const std::uint8_t, 7> link_and_timestamp) noexcept {
    SHA256_CTX ctx;
    SHA256_Init(&ctx);
    SHA256_Update(&ctx, key.data(), key.size());
    SHA256_Update(&ctx, frame_through_checksum.data(), frame_through_checksum.size());
    SHA256_Update(&ctx, link_and_timestamp.data(), link_and_timestamp.size());
    std::uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256_Final(digest, &ctx);
    OPENSSL_cleanse(&ctx, sizeof ctx);  // it held the key
    Signature48 out;
    std::memcpy(out.data(), digest, out.size());
    return out;
}

std::expected<Frame, MavlinkError> Signer::sign(Header header, std::uint32_t msgid,
                                                std::span<const std::uint8_t> payload, std::uint8_t crc_extra) {
    auto frame = Frame::assemble_v2(header, msgid, payload, crc_extra, kIncompatSigned);
    if (!frame) return frame;
    // Past 48 bits the timestamp would wrap to a small one, and every peer
    // would take each later frame for a replay.
    if (timestamp_ > kMaxTimestamp) return std::unexpected(MavlinkError{Kind::TimestampExhausted});
    std::uint8_t* block = frame->buf_.data() + frame->signed_part().size();
    block[0] = link_id_;
    for (int i = 0; i < 6; ++i)
        block[1 + i] = static_cast<std::uint8_t>(timestamp_ >> (8 * i));
    const Signature48 signature = signature_48(key_, frame->signed_part(), std::span<const std::uint8_t, 7>(block, 7));
    std::memcpy(block + 7, signature.data(), signature.size());
    ++timestamp_;
    return frame;
}

std::size_t Verifier::remember() const noexcept {
    std::size_t oldest = 0;
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (!slots_[i]) return i;
        if (slots_[i]->timestamp < slots_[oldest]->timestamp) oldest = i;
    }
    return oldest;
}

std::expected<void, MavlinkError> Verifier::verify(const Frame& frame) {
    if (!frame.is_signed()) return std::unexpected(MavlinkError{Kind::Unsigned});
    const std::span<const std::uint8_t> block = frame.signature();
    const Signature48 expected = signature_48(key_, frame.signed_part(), block.first<7>());
    if (CRYPTO_memcmp(expected.data(), block.data() + 7, expected.size()) != 0)
        return std::unexpected(MavlinkError{Kind::BadSignature});

    const Header header = frame.header();
    const std::uint8_t link_id = block[0];
    const std::uint64_t t = le48(block.data() + 1);
    auto known = std::ranges::find_if(slots_, [&](const std::optional<Stream>& s) {
        return s && s->system_id == header.system_id && s->component_id == header.component_id && s->link_id == link_id;
    });
    if (known != slots_.end()) {
        // A stream it knows moves only forward, however far behind the newest.
        if (t <= (*known)->timestamp) return std::unexpected(MavlinkError{Kind::ReplayedTimestamp});
        (*known)->timestamp = t;
    } else {
        // A new stream may start at most a window behind the newest timestamp.
        // The sum saturates, so a wider window never refuses what a narrower
        // one accepts.
        const std::uint64_t reach = t > std::numeric_limits<std::uint64_t>::max() - window_
                                        ? std::numeric_limits<std::uint64_t>::max()
                                        : t + window_;
        if (reach < newest_) return std::unexpected(MavlinkError{Kind::ReplayedTimestamp});
        slots_[remember()] = Stream{t, header.system_id, header.component_id, link_id};
    }
    newest_ = std::max(newest_, t);
    return {};
}

}  // namespace trovik::mavlink
