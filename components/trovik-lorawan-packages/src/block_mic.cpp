#include "trovik/lorawan_packages/block_mic.hpp"

#include <algorithm>

#include "trovik/core/little_endian.hpp"

namespace trovik::lorawan::packages::fragment {

BlockKey data_block_int_key(std::span<const std::uint8_t, 16> root_key) {
    crypto::AesBlock block{};
    block[0] = 0x30;
    return crypto::Cipher(root_key).encrypt_block(block);
}

BlockMic BlockMicKey::start(std::uint16_t session_cnt, std::uint8_t frag_index, std::uint32_t descriptor,
                            std::uint32_t block_len) const {
    crypto::AesBlock b0{};
    b0[0] = 0x49;
    core::write_le(&b0[1], session_cnt, 2);
    b0[3] = frag_index;
    core::write_le(&b0[4], descriptor, 4);
    core::write_le(&b0[12], block_len, 4);
    BlockMic mic(cipher_);
    mic.update(b0);
    return mic;
}

std::array<std::uint8_t, 4> BlockMic::finish() {
    const crypto::AesBlock tag = stream_.finish();
    std::array<std::uint8_t, 4> out;
    std::copy_n(tag.begin(), 4, out.begin());
    return out;
}

}  // namespace trovik::lorawan::packages::fragment
