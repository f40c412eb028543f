#include "trovik/lorawan/join.hpp"

#include <algorithm>

#include "le.hpp"
#include "trovik/crypto/aes128.hpp"
#include "trovik/lorawan/header.hpp"

namespace trovik::lorawan {
namespace {

using Kind = LorawanError::Kind;

Key session_key(const crypto::Cipher& cipher, std::uint8_t which, std::uint32_t app_nonce, std::uint32_t net_id,
                std::uint16_t dev_nonce) {
    crypto::AesBlock block{};
    block[0] = which;
    le::write(&block[1], app_nonce & 0xFFFFFF, 3);
    le::write(&block[4], net_id & 0xFFFFFF, 3);
    le::write(&block[7], dev_nonce, 2);
    return cipher.encrypt_block(block);
}

}  // namespace

Session derive_session(const Key& app_key, std::uint32_t app_nonce, std::uint32_t net_id, std::uint16_t dev_nonce,
                       std::uint32_t dev_addr) {
    const crypto::Cipher cipher(app_key);
    return Session{session_key(cipher, 0x01, app_nonce, net_id, dev_nonce),
                   session_key(cipher, 0x02, app_nonce, net_id, dev_nonce), dev_addr};
}

PhyPayload Device::join_request(std::uint16_t dev_nonce) const {
    PhyPayload frame;
    frame.push_back(0x00);
    std::ranges::reverse_copy(app_eui, frame.extend(8).begin());
    std::ranges::reverse_copy(dev_eui, frame.extend(8).begin());
    le::write(frame.extend(2).data(), dev_nonce, 2);
    const auto tag = crypto::Cipher(app_key).cmac(frame.as_bytes());
    frame.append(std::span(tag).first(4));
    return frame;
}

std::expected<JoinAccept, LorawanError> Device::accept_join(std::span<const std::uint8_t> frame,
                                                            std::uint16_t dev_nonce) const {
    if (frame.empty()) return std::unexpected(LorawanError{Kind::TooShort});
    if (frame.size() > kMaxFrameSize) return std::unexpected(LorawanError{Kind::Malformed});
    if (mtype_of(frame[0]) != MType::JoinAccept)
        return std::unexpected(LorawanError{Kind::MessageType, static_cast<std::uint8_t>(frame[0] & 0xE0)});
    if (frame.size() != kJoinAcceptSize && frame.size() != kJoinAcceptWithListSize)
        return std::unexpected(LorawanError{Kind::Malformed});

    // The network decrypted the accept so that the device need only encrypt.
    std::array<std::uint8_t, kJoinAcceptWithListSize> plain{};
    plain[0] = frame[0];
    const auto body = std::span(plain).subspan(1, frame.size() - 1);
    std::ranges::copy(frame.subspan(1), body.begin());
    const crypto::Cipher cipher(app_key);
    cipher.encrypt_blocks(body);
    const auto signed_part = std::span(plain).first(frame.size() - 4);
    const auto tag = cipher.cmac(signed_part);
    if (!std::ranges::equal(std::span(tag).first(4), std::span(plain).subspan(frame.size() - 4, 4)))
        return std::unexpected(LorawanError{Kind::MicMismatch});

    const std::uint8_t* fields = body.data();
    const std::uint32_t app_nonce = le::read(fields, 3);
    JoinAccept accept;
    accept.net_id = le::read(fields + 3, 3);
    accept.dev_addr = le::read(fields + 6, 4);
    accept.dl_settings = fields[10];
    accept.rx_delay = fields[11];
    if (frame.size() == kJoinAcceptWithListSize)
        accept.cflist = CfList(std::span<const std::uint8_t, CfList::kSize>(fields + 12, CfList::kSize));
    accept.session = derive_session(app_key, app_nonce, accept.net_id, dev_nonce, accept.dev_addr);
    return accept;
}

}  // namespace trovik::lorawan
