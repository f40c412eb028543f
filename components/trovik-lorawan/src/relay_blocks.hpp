#pragma once
// What the relay frames share: the key-stream block A, whose shape the WOR
// and its acknowledgement have in common, and the head of every integrity
// input.
#include <cstdint>

#include "frequency.hpp"
#include "le.hpp"
#include "trovik/crypto/aes128.hpp"
#include "trovik/lorawan/relay/codes.hpp"
#include "trovik/lorawan/session.hpp"

namespace trovik::lorawan::relay {

// Encrypted under WorSEncKey, its first bytes are the key stream. `carrier`
// is the one the frame itself goes on.
inline crypto::AesBlock stream_block(Direction direction, std::uint32_t dev_addr, std::uint32_t wfcnt,
                                     const Carrier& carrier) noexcept {
    crypto::AesBlock a{};
    a[0] = 0x01;
    a[3] = static_cast<std::uint8_t>(direction);
    le::write(&a[4], dev_addr, 4);
    le::write(&a[8], wfcnt, 4);
    frequency::write(&a[12], carrier.frequency_hz);
    a[15] = carrier.data_rate;
    return a;
}

// The first sixteen bytes of every relay integrity input.
inline crypto::AesBlock mic_block(Direction direction, std::uint32_t dev_addr, std::uint32_t wfcnt,
                                  std::uint8_t length) noexcept {
    crypto::AesBlock b{};
    b[0] = 0x49;
    b[5] = static_cast<std::uint8_t>(direction);
    le::write(&b[6], dev_addr, 4);
    le::write(&b[10], wfcnt, 4);
    b[15] = length;
    return b;
}

}  // namespace trovik::lorawan::relay
