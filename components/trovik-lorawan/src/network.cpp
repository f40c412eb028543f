#include "trovik/lorawan/network.hpp"

#include <algorithm>

#include "le.hpp"
#include "trovik/crypto/aes128.hpp"

namespace trovik::lorawan {
namespace {

using Kind = LorawanError::Kind;

}  // namespace

std::expected<JoinRequest, LorawanError> JoinRequest::parse(std::span<const std::uint8_t> frame, const Key& app_key) {
    if (frame.empty()) return std::unexpected(LorawanError{Kind::TooShort});
    // Every reader of whole frames refuses what no frame of ours can be.
    if (frame.size() > kMaxFrameSize) return std::unexpected(LorawanError{Kind::Malformed});
    if ((frame[0] & 0xE0) != 0)
        return std::unexpected(LorawanError{Kind::MessageType, static_cast<std::uint8_t>(frame[0] & 0xE0)});
    if (frame.size() != kJoinRequestSize) return std::unexpected(LorawanError{Kind::Malformed});
    const auto tag = crypto::Cipher(app_key).cmac(frame.first(19));
    if (!std::ranges::equal(std::span(tag).first(4), frame.subspan(19)))
        return std::unexpected(LorawanError{Kind::MicMismatch});
    JoinRequest request;
    std::ranges::reverse_copy(frame.subspan(1, 8), request.app_eui.begin());
    std::ranges::reverse_copy(frame.subspan(9, 8), request.dev_eui.begin());
    request.dev_nonce = static_cast<std::uint16_t>(le::read(&frame[17], 2));
    return request;
}

PhyPayload JoinGrant::accept(const Key& app_key) const {
    // MHDR, the fields, the list when there is one, and the MIC: signed in
    // the clear, then decrypted block by block so the device can encrypt.
    std::array<std::uint8_t, kJoinAcceptWithListSize> plain{};
    const std::size_t size = cflist ? kJoinAcceptWithListSize : kJoinAcceptSize;
    plain[0] = 0x20;
    le::write(&plain[1], app_nonce & 0xFFFFFF, 3);
    le::write(&plain[4], net_id & 0xFFFFFF, 3);
    le::write(&plain[7], dev_addr, 4);
    plain[11] = dl_settings;
    plain[12] = rx_delay;
    if (cflist) std::ranges::copy(cflist->bytes(), plain.begin() + 13);
    const crypto::Cipher cipher(app_key);
    const auto tag = cipher.cmac(std::span(plain).first(size - 4));
    std::copy_n(tag.begin(), 4, plain.begin() + static_cast<std::ptrdiff_t>(size - 4));
    cipher.decrypt_blocks(std::span(plain).subspan(1, size - 1));
    PhyPayload frame;
    frame.append(std::span(plain).first(size));
    return frame;
}

Session JoinGrant::session(const Key& app_key, std::uint16_t dev_nonce) const {
    return derive_session(app_key, app_nonce, net_id, dev_nonce, dev_addr);
}

}  // namespace trovik::lorawan
