#include "trovik/lorawan/session.hpp"

#include <algorithm>

#include "fctrl.hpp"
#include "le.hpp"
#include "trovik/crypto/aes128.hpp"
#include "trovik/lorawan/header.hpp"

namespace trovik::lorawan {
namespace {

using crypto::AesBlock;
using crypto::Cipher;
using Kind = LorawanError::Kind;

// The shape shared by the MIC block B0 and the key-stream blocks A_i.
AesBlock frame_block(std::uint8_t tag, Direction direction, std::uint32_t dev_addr, std::uint32_t fcnt,
                     std::uint8_t last) {
    AesBlock block{};
    block[0] = tag;
    block[5] = static_cast<std::uint8_t>(direction);
    le::write(&block[6], dev_addr, 4);
    le::write(&block[10], fcnt, 4);
    block[15] = last;
    return block;
}

}  // namespace

void crypt_payload(const Key& key, std::uint32_t dev_addr, Direction direction, std::uint32_t fcnt,
                   std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    if (in.empty()) return;
    const Cipher cipher(key);
    // The key stream of up to one whole frame at a time, in one pass.
    constexpr std::size_t kBlocks = kMaxFrameSize / crypto::kAesBlockSize;
    std::array<std::uint8_t, kBlocks * crypto::kAesBlockSize> stream;
    std::size_t index = 1;
    for (std::size_t at = 0; at < in.size(); at += stream.size()) {
        const std::size_t length = std::min(stream.size(), in.size() - at);
        const std::size_t blocks = (length + crypto::kAesBlockSize - 1) / crypto::kAesBlockSize;
        for (std::size_t b = 0; b < blocks; ++b, ++index) {
            const AesBlock a = frame_block(0x01, direction, dev_addr, fcnt, static_cast<std::uint8_t>(index));
            std::ranges::copy(a, stream.begin() + static_cast<std::ptrdiff_t>(b * crypto::kAesBlockSize));
        }
        cipher.encrypt_blocks(std::span(stream).first(blocks * crypto::kAesBlockSize));
        for (std::size_t k = 0; k < length; ++k)
            out[at + k] = in[at + k] ^ stream[k];
    }
}

std::array<std::uint8_t, 4> data_mic(const Key& nwk_skey, std::uint32_t dev_addr, Direction direction,
                                     std::uint32_t fcnt, std::span<const std::uint8_t> message) {
    const Cipher cipher(nwk_skey);
    const AesBlock b0 = frame_block(0x49, direction, dev_addr, fcnt, static_cast<std::uint8_t>(message.size()));
    const AesBlock tag = crypto::CmacStream(cipher).update(b0).update(message).finish();
    return {tag[0], tag[1], tag[2], tag[3]};
}

std::expected<PhyPayload, LorawanError> Session::encode_uplink(const UplinkFrame& f) const {
    const auto flags = static_cast<std::uint8_t>(f.adr << 7 | f.adr_ack_req << 6 | f.ack << 5);
    return encode(Direction::Uplink, f.confirmed ? 0x80 : 0x40, flags, f.fcnt, f.fport, f.fopts, f.payload);
}

std::expected<PhyPayload, LorawanError> Session::encode_downlink(const DownlinkFrame& f) const {
    const auto flags = static_cast<std::uint8_t>(f.adr << 7 | f.ack << 5 | f.fpending << 4);
    return encode(Direction::Downlink, f.confirmed ? 0xA0 : 0x60, flags, f.fcnt, f.fport, f.fopts, f.payload);
}

std::expected<PhyPayload, LorawanError> Session::encode(Direction direction, std::uint8_t mhdr, std::uint8_t flags,
                                                        std::uint32_t fcnt, std::optional<std::uint8_t> fport,
                                                        std::span<const std::uint8_t> fopts,
                                                        std::span<const std::uint8_t> payload) const {
    if (fopts.size() > kMaxFOpts) return std::unexpected(LorawanError{Kind::PayloadTooLarge});
    const std::size_t header = fport ? 13 : 12;
    // Port 0 carries MAC commands in its payload, so none may ride in FOpts.
    if (fport == 0 && !fopts.empty()) return std::unexpected(LorawanError{Kind::Malformed});
    if (fopts.size() + payload.size() + header > kMaxFrameSize)
        return std::unexpected(LorawanError{Kind::PayloadTooLarge});

    PhyPayload frame;
    frame.push_back(mhdr);
    le::write(frame.extend(4).data(), dev_addr, 4);
    frame.push_back(static_cast<std::uint8_t>((flags & 0xF0) | fopts.size()));
    le::write(frame.extend(2).data(), fcnt & 0xFFFF, 2);
    frame.append(fopts);
    if (fport) {
        frame.push_back(*fport);
        const Key& key = *fport == 0 ? nwk_skey : app_skey;
        crypt_payload(key, dev_addr, direction, fcnt, payload, frame.extend(payload.size()));
    }
    frame.append(data_mic(nwk_skey, dev_addr, direction, fcnt, frame.as_bytes()));
    return frame;
}

std::expected<RxData, LorawanError> Session::decode(std::span<const std::uint8_t> frame, std::uint32_t fcnt) const {
    if (frame.size() < kMinDataFrame) return std::unexpected(LorawanError{Kind::TooShort});
    // Longer frames never come from a radio, and the fixed buffers below and
    // the one-byte length in B0 hold no more.
    if (frame.size() > kMaxFrameSize) return std::unexpected(LorawanError{Kind::Malformed});
    const auto type = mtype_of(frame[0]);
    if (!type || !is_data(*type))
        return std::unexpected(LorawanError{Kind::MessageType, static_cast<std::uint8_t>(frame[0] & 0xE0)});
    if (le::read(&frame[6], 2) != (fcnt & 0xFFFF)) return std::unexpected(LorawanError{Kind::FrameCounterMismatch});
    const std::uint8_t fctrl = frame[5];
    const std::size_t fopts_len = fctrl & 0x0F;
    const std::size_t message_len = frame.size() - 4;
    if (message_len < fopts_len + 8) return std::unexpected(LorawanError{Kind::TooShort});

    const Direction direction = is_downlink(*type) ? Direction::Downlink : Direction::Uplink;
    const auto message = frame.first(message_len);
    // The session's own address: a frame for another device fails here, and
    // so does one whose header names another address than its MIC covers.
    const auto mic = data_mic(nwk_skey, dev_addr, direction, fcnt, message);
    if (le::read(&frame[1], 4) != dev_addr || !std::ranges::equal(mic, frame.subspan(message_len)))
        return std::unexpected(LorawanError{Kind::MicMismatch});

    RxData rx;
    if (message_len > fopts_len + 8) {
        rx.fport = frame[8 + fopts_len];
        if (fopts_len > 0 && rx.fport == 0) return std::unexpected(LorawanError{Kind::Malformed});
    }
    rx.dev_addr = le::read(&frame[1], 4);
    rx.fcnt = static_cast<std::uint16_t>(fcnt & 0xFFFF);
    std::ranges::copy(frame.subspan(8, fopts_len), rx.fopts_.begin());
    rx.fopts_len_ = fopts_len;
    if (rx.fport) {
        const auto encrypted = message.subspan(9 + fopts_len);
        const Key& key = *rx.fport == 0 ? nwk_skey : app_skey;
        crypt_payload(key, rx.dev_addr, direction, fcnt, encrypted, rx.payload_);
        rx.payload_len_ = encrypted.size();
    }
    rx.direction = direction;
    rx.confirmed = is_confirmed(*type);
    read_fctrl_flags(rx, fctrl, direction == Direction::Downlink);
    return rx;
}

Key root_wor_s_key(const Key& nwk_skey) {
    AesBlock block{};
    block[0] = 0x01;
    return Cipher(nwk_skey).encrypt_block(block);
}

WorKeys WorKeys::derive(const Key& root, std::uint32_t dev_addr) {
    const Cipher cipher(root);
    AesBlock block{};
    le::write(&block[1], dev_addr, 4);
    WorKeys keys;
    block[0] = 0x01;
    keys.integrity = cipher.encrypt_block(block);
    block[0] = 0x02;
    keys.encryption = cipher.encrypt_block(block);
    return keys;
}

std::expected<std::uint32_t, CounterRefusal> widen_counter(std::optional<std::uint32_t> last, std::uint16_t fcnt,
                                                           bool limit_gap) noexcept {
    if (!last) return fcnt;
    std::uint32_t full = (*last & 0xFFFF0000u) | fcnt;
    if (full == *last) return std::unexpected(CounterRefusal::Seen);
    if (full < *last) {
        if (*last > 0xFFFEFFFFu) return std::unexpected(CounterRefusal::RunOut);
        full += 0x10000;
    }
    if (limit_gap && full - *last >= kMaxFcntGap) return std::unexpected(CounterRefusal::TooFarAhead);
    return full;
}

}  // namespace trovik::lorawan
