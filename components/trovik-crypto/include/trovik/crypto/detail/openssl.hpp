#pragma once
// The OpenSSL habits of the components built on it, for their sources only
// (no public header includes this): a call that fails where only memory or a
// broken library can make it fail is an internal fault, not a result.
#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>
#include <new>
#include <stdexcept>

namespace trovik::crypto::detail {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const noexcept { EVP_MD_CTX_free(ctx); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

inline MdCtx new_md_ctx() {
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx) throw std::bad_alloc();
    return ctx;
}

[[noreturn]] inline void fail(const char* what) {
    ERR_clear_error();
    throw std::runtime_error(what);
}

inline void require(int ok, const char* what) {
    if (ok != 1) fail(what);
}

}  // namespace trovik::crypto::detail
