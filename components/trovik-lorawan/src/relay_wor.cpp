#include <algorithm>

#include "relay_blocks.hpp"
#include "trovik/lorawan/relay/wor.hpp"

namespace trovik::lorawan::relay {
namespace {

using Kind = LorawanError::Kind;

// The integrity code of an uplink WOR. The length byte says 14 although ten
// bytes follow and the type byte is left out: both ends compute it so.
std::array<std::uint8_t, 4> uplink_mic(const WorKeys& keys, std::uint32_t dev_addr, std::uint32_t wfcnt,
                                       std::span<const std::uint8_t, 4> carrier) {
    std::array<std::uint8_t, 26> input{};
    const crypto::AesBlock head = mic_block(Direction::Uplink, dev_addr, wfcnt, 0x0E);
    std::ranges::copy(head, input.begin());
    le::write(&input[16], dev_addr, 4);
    std::ranges::copy(carrier, input.begin() + 20);
    le::write(&input[24], wfcnt & 0xFFFF, 2);
    const crypto::AesBlock tag = crypto::Cipher(keys.integrity).cmac(input);
    return {tag[0], tag[1], tag[2], tag[3]};
}

// Seals or opens the four carrier bytes: the same XOR both ways.
std::array<std::uint8_t, 4> crypt_carrier(const WorKeys& keys, std::uint32_t dev_addr, std::uint32_t wfcnt,
                                          const Carrier& wor, std::span<const std::uint8_t, 4> in) {
    const crypto::AesBlock stream =
        crypto::Cipher(keys.encryption).encrypt_block(stream_block(Direction::Uplink, dev_addr, wfcnt, wor));
    std::array<std::uint8_t, 4> out;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = in[i] ^ stream[i];
    return out;
}

}  // namespace

std::expected<std::array<std::uint8_t, kJoinRequestWorSize>, LorawanError> wor_join_request(const Carrier& uplink) {
    if (!uplink.valid()) return std::unexpected(LorawanError{Kind::Malformed});
    std::array<std::uint8_t, kJoinRequestWorSize> frame{};
    frame[0] = 0x00;
    frame[1] = uplink.data_rate;
    frequency::write(&frame[2], uplink.frequency_hz);
    return frame;
}

std::expected<std::array<std::uint8_t, kUplinkWorSize>, LorawanError> wor_uplink(
    const WorKeys& keys, std::uint32_t dev_addr, std::uint32_t wfcnt, const Carrier& uplink, const Carrier& wor) {
    if (!uplink.valid() || !wor.valid()) return std::unexpected(LorawanError{Kind::Malformed});
    std::array<std::uint8_t, 4> plain{};
    plain[0] = uplink.data_rate;
    frequency::write(&plain[1], uplink.frequency_hz);
    const auto sealed = crypt_carrier(keys, dev_addr, wfcnt, wor, plain);
    const auto mic = uplink_mic(keys, dev_addr, wfcnt, sealed);

    std::array<std::uint8_t, kUplinkWorSize> frame{};
    frame[0] = 0x01;
    le::write(&frame[1], dev_addr, 4);
    std::ranges::copy(sealed, frame.begin() + 5);
    le::write(&frame[9], wfcnt & 0xFFFF, 2);
    std::ranges::copy(mic, frame.begin() + 11);
    return frame;
}

std::expected<Wor, LorawanError> Wor::parse(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return std::unexpected(LorawanError{Kind::TooShort});
    const std::uint8_t type = bytes[0] & 0x0F;
    if (type == 0 && bytes.size() == kJoinRequestWorSize)
        return Wor{JoinRequestWor{Carrier{frequency::read(&bytes[2]), static_cast<std::uint8_t>(bytes[1] & 0x0F)}}};
    if (type == 1 && bytes.size() == kUplinkWorSize) {
        SealedWor sealed;
        sealed.dev_addr = le::read(&bytes[1], 4);
        std::copy_n(&bytes[5], 4, sealed.carrier.begin());
        sealed.wfcnt = static_cast<std::uint16_t>(le::read(&bytes[9], 2));
        std::copy_n(&bytes[11], 4, sealed.mic.begin());
        return Wor{sealed};
    }
    return std::unexpected(LorawanError{Kind::Malformed});
}

std::expected<Carrier, LorawanError> SealedWor::open(const WorKeys& keys, std::uint32_t full_wfcnt,
                                                     const Carrier& wor) const {
    if (this->wfcnt != (full_wfcnt & 0xFFFF)) return std::unexpected(LorawanError{Kind::FrameCounterMismatch});
    if (uplink_mic(keys, dev_addr, full_wfcnt, carrier) != mic) return std::unexpected(LorawanError{Kind::MicMismatch});
    if (!wor.valid()) return std::unexpected(LorawanError{Kind::Malformed});
    const auto plain = crypt_carrier(keys, dev_addr, full_wfcnt, wor, carrier);
    return Carrier{frequency::read(&plain[1]), static_cast<std::uint8_t>(plain[0] & 0x0F)};
}

}  // namespace trovik::lorawan::relay
