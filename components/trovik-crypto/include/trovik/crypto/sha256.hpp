#pragma once
// SHA-256 (FIPS 180-4) over data given whole or in pieces: what the audit
// chain hashes its entries with and what HMAC and HKDF are built on.
#include <array>
#include <cstdint>
#include <memory>
#include <span>

struct evp_md_ctx_st;

namespace trovik::crypto {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
public:
    static constexpr std::size_t kBlockSize = 64;

    Sha256();
    // A copy carries on from the same absorbed state, so a common prefix
    // (an HMAC key block) is hashed once and reused.
    Sha256(const Sha256& other);
    Sha256& operator=(const Sha256& other);
    Sha256(Sha256&&) noexcept = default;
    Sha256& operator=(Sha256&&) noexcept = default;
    ~Sha256() = default;

    Sha256& update(std::span<const std::uint8_t> data);
    // The digest of everything absorbed. The state is spent afterwards: only
    // assigning a fresh one makes it usable again.
    Sha256Digest finish();

private:
    struct Free {
        void operator()(evp_md_ctx_st* ctx) const noexcept;
    };
    std::unique_ptr<evp_md_ctx_st, Free> ctx_;
};

Sha256Digest sha256(std::span<const std::uint8_t> data);

}  // namespace trovik::crypto
