#pragma once
// The four-byte integrity code over a whole data block, keyed from the
// session's root key, which a receiver checks once the block is rebuilt.
#include <array>
#include <cstdint>
#include <span>

#include "trovik/crypto/aes128.hpp"

namespace trovik::lorawan::packages::fragment {

using BlockKey = std::array<std::uint8_t, 16>;

// The data block integrity key of a root key.
BlockKey data_block_int_key(std::span<const std::uint8_t, 16> root_key);

class BlockMic {
public:
    BlockMic& update(std::span<const std::uint8_t> bytes) {
        stream_.update(bytes);
        return *this;
    }
    // The first four bytes of the CMAC.
    std::array<std::uint8_t, 4> finish();

private:
    friend class BlockMicKey;
    explicit BlockMic(const crypto::Cipher& cipher) noexcept : stream_(cipher) {}
    crypto::CmacStream stream_;
};

class BlockMicKey {
public:
    explicit BlockMicKey(std::span<const std::uint8_t, 16> data_block_int_key) : cipher_(data_block_int_key) {}
    // A code already fed with the block's header: counter, index,
    // descriptor and length. It borrows this key, which must stay where it
    // is until the code is finished.
    BlockMic start(std::uint16_t session_cnt, std::uint8_t frag_index, std::uint32_t descriptor,
                   std::uint32_t block_len) const;

private:
    crypto::Cipher cipher_;
};

}  // namespace trovik::lorawan::packages::fragment
