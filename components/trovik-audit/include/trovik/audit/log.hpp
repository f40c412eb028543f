#pragma once
// The signing side of an audit chain and the checking side.
//
// Removing, reordering, inserting or altering an entry breaks the chain for
// anyone holding the device's public key. Failures of a check are the shared
// error's authentication case: "audit entry is out of sequence", "audit chain
// is broken", or "signature verification failed".
#include <cstdint>
#include <expected>
#include <span>

#include "trovik/audit/entry.hpp"
#include "trovik/core/error.hpp"
#include "trovik/security/identity.hpp"

namespace trovik::audit {

class AuditLog {
public:
    // A new chain: the first entry has index 0 and a zero previous digest.
    explicit AuditLog(security::DeviceIdentity identity) : identity_(std::move(identity)) {}

    // Carries on after the last entry an earlier log wrote, as a device does
    // after a restart, so a reboot leaves no gap. `last` is taken as it is:
    // its signature is not checked.
    static AuditLog resume(security::DeviceIdentity identity, const Entry& last);

    // Signs the payload and chains it onto the last entry.
    Entry append(std::span<const std::uint8_t> payload);

private:
    security::DeviceIdentity identity_;
    Digest last_digest_{};
    std::uint64_t next_index_ = 0;
};

class Verifier {
public:
    // Expects index 0 with a zero previous digest first.
    explicit Verifier(security::PublicIdentity key) : key_(std::move(key)) {}

    // Accepts the next entry and moves on, or reports the first problem in
    // this order: index, previous digest, signature. A refusal changes
    // nothing, so the right entry may be offered next.
    std::expected<void, core::Error> check(const Entry& entry);

private:
    security::PublicIdentity key_;
    Digest last_digest_{};
    std::uint64_t next_index_ = 0;
};

// Checks a whole chain from its first entry; an empty one passes.
std::expected<void, core::Error> verify_chain(const security::PublicIdentity& key, std::span<const Entry> entries);

}  // namespace trovik::audit
