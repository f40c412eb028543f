#pragma once
// AES-128 (FIPS-197) keyed once, one 16-byte block at a time, and AES-CMAC
// (RFC 4493) over it: what every LoRaWAN integrity code, key stream and key
// derivation is built from.
#include <array>
#include <cstdint>
#include <memory>
#include <span>

struct evp_cipher_ctx_st;

namespace trovik::crypto {

inline constexpr std::size_t kAesBlockSize = 16;
using AesKey = std::span<const std::uint8_t, 16>;
using AesBlock = std::array<std::uint8_t, kAesBlockSize>;

// An AES-128 key schedule. Building one costs a context from OpenSSL; the
// blocks after that cost no allocation and no algorithm look-up. A cipher
// belongs to one thread at a time: callers build their own, they are cheap.
class Cipher {
public:
    explicit Cipher(AesKey key);
    Cipher(Cipher&&) noexcept;
    Cipher& operator=(Cipher&&) noexcept;
    ~Cipher();

    AesBlock encrypt_block(const AesBlock& block) const;
    // The inverse cipher. Its schedule is made on first use: most keys only
    // ever encrypt.
    AesBlock decrypt_block(const AesBlock& block) const;
    // Encrypts whole blocks in place (ECB, no chaining); `blocks` holds a
    // multiple of 16 bytes.
    void encrypt_blocks(std::span<std::uint8_t> blocks) const;
    void decrypt_blocks(std::span<std::uint8_t> blocks) const;

    // The AES-CMAC tag of `data`.
    AesBlock cmac(std::span<const std::uint8_t> data) const;

private:
    struct Free {
        void operator()(evp_cipher_ctx_st* ctx) const noexcept;
    };
    using Ctx = std::unique_ptr<evp_cipher_ctx_st, Free>;

    Ctx encrypt_;
    mutable Ctx decrypt_;
    // Kept only to build the inverse schedule when it is first needed;
    // wiped when the cipher goes.
    std::array<std::uint8_t, 16> key_;
};

// AES-CMAC over a message given in pieces. The last block stays pending
// until `finish`, since only then is it known whether it is the last one
// (K1 for a complete final block, K2 and padding otherwise).
class CmacStream {
public:
    explicit CmacStream(const Cipher& cipher) noexcept : cipher_(&cipher) {}

    CmacStream& update(std::span<const std::uint8_t> data);
    // The tag of everything absorbed; the stream is spent afterwards.
    AesBlock finish();

private:
    const Cipher* cipher_;
    AesBlock chain_{};
    AesBlock pending_{};
    std::size_t filled_ = 0;
};

}  // namespace trovik::crypto
