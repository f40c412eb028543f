#include <algorithm>

#include "relay_blocks.hpp"
#include "trovik/lorawan/relay/ack.hpp"

namespace trovik::lorawan::relay {
namespace {

using Kind = LorawanError::Kind;

// The codes a StateSync carries, each in range: an ACK built from anything
// else would be one its reader refuses or misreads.
bool in_range(const StateSync& s) noexcept {
    return s.t_offset_ms <= StateSync::kMaxTOffsetMs && s.relay_data_rate <= 15 &&
           static_cast<std::uint8_t>(s.cad_periodicity) < kCadPeriodicities &&
           static_cast<std::uint8_t>(s.cad_to_rx) <= 3 && static_cast<std::uint8_t>(s.forward) <= 3 &&
           static_cast<std::uint8_t>(s.xtal_accuracy) <= 3;
}

std::uint32_t pack(const StateSync& s) noexcept {
    return std::uint32_t{s.t_offset_ms} | static_cast<std::uint32_t>(s.cad_periodicity) << 11 |
           static_cast<std::uint32_t>(s.xtal_accuracy) << 14 | std::uint32_t{s.relay_data_rate} << 16 |
           static_cast<std::uint32_t>(s.forward) << 20 | static_cast<std::uint32_t>(s.cad_to_rx) << 22;
}

StateSync unpack(std::uint32_t w) noexcept {
    StateSync s;
    s.t_offset_ms = static_cast<std::uint16_t>(w & 0x7FF);
    s.cad_periodicity = static_cast<CadPeriodicity>((w >> 11) & 7);
    s.xtal_accuracy = static_cast<XtalAccuracy>((w >> 14) & 3);
    s.relay_data_rate = static_cast<std::uint8_t>((w >> 16) & 0x0F);
    s.forward = static_cast<ForwardState>((w >> 20) & 3);
    s.cad_to_rx = static_cast<CadToRx>((w >> 22) & 3);
    return s;
}

std::array<std::uint8_t, 3> crypt_state(const WorKeys& keys, std::uint32_t dev_addr, std::uint32_t wfcnt,
                                        const Carrier& ack, std::span<const std::uint8_t, 3> in) {
    const crypto::AesBlock stream =
        crypto::Cipher(keys.encryption).encrypt_block(stream_block(Direction::Downlink, dev_addr, wfcnt, ack));
    return {static_cast<std::uint8_t>(in[0] ^ stream[0]), static_cast<std::uint8_t>(in[1] ^ stream[1]),
            static_cast<std::uint8_t>(in[2] ^ stream[2])};
}

// The integrity code covers the sealed state and where the uplink follows.
std::array<std::uint8_t, 4> ack_mic(const WorKeys& keys, std::uint32_t dev_addr, std::uint32_t wfcnt,
                                    const Carrier& uplink, std::span<const std::uint8_t, 3> sealed) {
    std::array<std::uint8_t, 32> input{};
    const crypto::AesBlock head = mic_block(Direction::Downlink, dev_addr, wfcnt, 0x07);
    std::ranges::copy(head, input.begin());
    std::ranges::copy(sealed, input.begin() + 16);
    input[19] = uplink.data_rate;
    frequency::write(&input[20], uplink.frequency_hz);
    le::write(&input[23], wfcnt & 0xFFFF, 2);
    le::write(&input[25], dev_addr, 4);
    const crypto::AesBlock tag = crypto::Cipher(keys.integrity).cmac(input);
    return {tag[0], tag[1], tag[2], tag[3]};
}

}  // namespace

std::expected<std::array<std::uint8_t, kWorAckSize>, LorawanError> wor_ack(const WorKeys& keys, std::uint32_t dev_addr,
                                                                           std::uint32_t wfcnt, const Carrier& ack,
                                                                           const Carrier& uplink,
                                                                           const StateSync& state) {
    if (!in_range(state) || !ack.valid() || !uplink.valid()) return std::unexpected(LorawanError{Kind::Malformed});
    std::array<std::uint8_t, 3> plain{};
    le::write(plain.data(), pack(state), 3);
    const auto sealed = crypt_state(keys, dev_addr, wfcnt, ack, plain);
    const auto mic = ack_mic(keys, dev_addr, wfcnt, uplink, sealed);
    std::array<std::uint8_t, kWorAckSize> frame{};
    std::ranges::copy(sealed, frame.begin());
    std::ranges::copy(mic, frame.begin() + 3);
    return frame;
}

std::expected<StateSync, LorawanError> open_wor_ack(std::span<const std::uint8_t> frame, const WorKeys& keys,
                                                    std::uint32_t dev_addr, std::uint32_t wfcnt, const Carrier& ack,
                                                    const Carrier& uplink) {
    if (frame.size() != kWorAckSize || !uplink.valid()) return std::unexpected(LorawanError{Kind::Malformed});
    const auto sealed = frame.first<3>();
    if (!std::ranges::equal(ack_mic(keys, dev_addr, wfcnt, uplink, sealed), frame.subspan(3)))
        return std::unexpected(LorawanError{Kind::MicMismatch});
    if (!ack.valid()) return std::unexpected(LorawanError{Kind::Malformed});
    const auto plain = crypt_state(keys, dev_addr, wfcnt, ack, sealed);
    const std::uint32_t w = le::read(plain.data(), 3);
    // Periodicity codes 6 and 7 name no scan period.
    if (((w >> 11) & 7) >= kCadPeriodicities) return std::unexpected(LorawanError{Kind::Malformed});
    return unpack(w);
}

}  // namespace trovik::lorawan::relay
