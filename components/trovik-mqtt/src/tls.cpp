#include "trovik/mqtt/tls.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <asio/ssl/context.hpp>

namespace trovik::mqtt::tls {

using core::Bytes;
using core::Error;

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// The reason of the newest OpenSSL error, and a clean error queue after it.
std::string openssl_reason(const char* fallback = "unknown error") {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    std::string text = reason ? reason : fallback;
    ERR_clear_error();
    return text;
}

// Walks the PEM blocks of `pem` in order, skipping text between them, and
// calls `each(label, der)` for each until it returns false. Gives the
// reader's reason when a block is damaged.
template <class Each>
std::expected<void, std::string> walk_pem(std::span<const std::uint8_t> pem, Each&& each) {
    if (pem.empty()) return {};
    ERR_clear_error();
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return std::unexpected(openssl_reason());
    for (;;) {
        char* label = nullptr;
        char* header = nullptr;
        unsigned char* data = nullptr;
        long length = 0;
        if (!PEM_read_bio(bio.get(), &label, &header, &data, &length)) {
            const unsigned long code = ERR_peek_last_error();
            if (ERR_GET_LIB(code) == ERR_LIB_PEM && ERR_GET_REASON(code) == PEM_R_NO_START_LINE) {
                ERR_clear_error();  // no further block: the normal end
                return {};
            }
            return std::unexpected(openssl_reason());
        }
        const std::string name(label);
        Bytes der(data, data + length);
        OPENSSL_free(label);
        OPENSSL_free(header);
        OPENSSL_free(data);
        if (!each(name, std::move(der))) return {};
    }
}

X509Ptr parse_certificate(const Bytes& der) {
    const unsigned char* p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

Bytes read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Adds every certificate of a PEM file the store takes; unreadable files and
// refused certificates are skipped. Returns how many were added.
std::size_t add_roots_from_file(X509_STORE* store, const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return 0;
    auto certs = certificates(read_file(path), "a system root file");
    if (!certs) return 0;
    std::size_t added = 0;
    for (const auto& der : *certs) {
        auto cert = parse_certificate(der);
        if (cert && X509_STORE_add_cert(store, cert.get())) ++added;
    }
    ERR_clear_error();
    return added;
}

std::size_t add_roots_from_dirs(X509_STORE* store, std::string_view dirs) {
    std::size_t added = 0;
    // A colon separates several directories, as OpenSSL reads the variable.
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string_view::npos) end = dirs.size();
        const std::string dir(dirs.substr(start, end - start));
        std::error_code ec;
        if (!dir.empty()) {
            for (std::filesystem::directory_iterator it(dir, ec), last; !ec && it != last; it.increment(ec)) {
                added += add_roots_from_file(store, it->path());
            }
        }
        start = end + 1;
    }
    return added;
}

const char* non_empty_env(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// The system's trusted roots: from SSL_CERT_FILE and SSL_CERT_DIR when either
// is set, otherwise from OpenSSL's default bundle (or directory, when the
// bundle gives nothing).
std::size_t add_system_roots(X509_STORE* store) {
    const char* file = non_empty_env(X509_get_default_cert_file_env());
    const char* dir = non_empty_env(X509_get_default_cert_dir_env());
    if (file || dir) {
        std::size_t added = 0;
        if (file) added += add_roots_from_file(store, file);
        if (dir) added += add_roots_from_dirs(store, dir);
        return added;
    }
    std::size_t added = add_roots_from_file(store, X509_get_default_cert_file());
    if (added == 0) added = add_roots_from_dirs(store, X509_get_default_cert_dir());
    return added;
}

bool is_private_key_label(const std::string& label) {
    return label == "PRIVATE KEY" || label == "RSA PRIVATE KEY" || label == "EC PRIVATE KEY";
}

Error fault(std::string text) { return Error::transport_fault(std::move(text)); }

}  // namespace

Result<std::vector<Bytes>> certificates(std::span<const std::uint8_t> pem, std::string_view name) {
    std::vector<Bytes> found;
    auto walked = walk_pem(pem, [&](const std::string& label, Bytes der) {
        if (label == "CERTIFICATE") found.push_back(std::move(der));
        return true;
    });
    if (!walked) return std::unexpected(fault(std::string(name) + " is not PEM: " + walked.error()));
    if (found.empty()) return std::unexpected(fault(std::string(name) + " holds no CERTIFICATE block"));
    return found;
}

Result<std::shared_ptr<asio::ssl::context>> Tls::client_config() const {
    // The trust anchors first, so that a bad CA file names itself before anything else.
    std::vector<X509Ptr> anchors;
    if (ca_pem) {
        auto ders = certificates(*ca_pem, "the CA file");
        if (!ders) return std::unexpected(ders.error());
        for (const auto& der : *ders) {
            ERR_clear_error();
            auto cert = parse_certificate(der);
            if (!cert) {
                return std::unexpected(
                    fault("the CA file holds a certificate that OpenSSL refuses: " + openssl_reason()));
            }
            anchors.push_back(std::move(cert));
        }
    }

    std::shared_ptr<asio::ssl::context> context;
    try {
        context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
    } catch (const std::system_error& e) {
        return std::unexpected(fault(e.code().message()));
    }
    SSL_CTX* ctx = context->native_handle();
    if (!SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) || !SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION))
        return std::unexpected(fault(openssl_reason()));
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);

    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    if (ca_pem) {
        for (const auto& cert : anchors) {
            if (!X509_STORE_add_cert(store, cert.get())) {
                return std::unexpected(
                    fault("the CA file holds a certificate that OpenSSL refuses: " + openssl_reason()));
            }
        }
    } else if (add_system_roots(store) == 0) {
        return std::unexpected(fault("the system trusts no certificate authority this client can read"));
    }

    if (client_certificate) {
        auto chain = certificates(client_certificate->certificate_pem, "the client certificate");
        if (!chain) return std::unexpected(chain.error());

        std::optional<Bytes> key_der;
        auto walked = walk_pem(client_certificate->key_pem, [&](const std::string& label, Bytes der) {
            if (!is_private_key_label(label)) return true;
            key_der = std::move(der);
            return false;
        });
        if (!walked) return std::unexpected(fault("the client key is not a PEM private key: " + walked.error()));
        if (!key_der) {
            return std::unexpected(fault(
                "the client key is not a PEM private key: no PRIVATE KEY, RSA PRIVATE KEY or EC PRIVATE KEY block"));
        }

        auto refused = [] {
            return std::unexpected(fault("the client certificate cannot be used: " + openssl_reason()));
        };
        ERR_clear_error();
        auto leaf = parse_certificate(chain->front());
        if (!leaf || !SSL_CTX_use_certificate(ctx, leaf.get())) return refused();
        for (std::size_t i = 1; i < chain->size(); ++i) {
            auto link = parse_certificate((*chain)[i]);
            if (!link || !SSL_CTX_add1_chain_cert(ctx, link.get())) return refused();
        }
        const unsigned char* p = key_der->data();
        std::unique_ptr<EVP_PKEY, KeyFree> key(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(key_der->size())));
        // Checked against the leaf first: OpenSSL drops a leaf whose key does not match and
        // would then only say that no certificate is assigned.
        if (!key || !X509_check_private_key(leaf.get(), key.get()) || !SSL_CTX_use_PrivateKey(ctx, key.get()))
            return refused();
    }
    return context;
}

}  // namespace trovik::mqtt::tls
