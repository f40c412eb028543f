#include "trovik/audit/log.hpp"

namespace trovik::audit {

AuditLog AuditLog::resume(security::DeviceIdentity identity, const Entry& last) {
    AuditLog log(std::move(identity));
    log.last_digest_ = last.digest();
    log.next_index_ = last.index + 1;
    return log;
}

Entry AuditLog::append(std::span<const std::uint8_t> payload) {
    const std::uint64_t index = next_index_;
    const Digest previous = last_digest_;
    const Digest digest = entry_digest(index, previous, payload);
    Entry entry{index, previous, identity_.sign(digest), std::vector<std::uint8_t>(payload.begin(), payload.end())};
    last_digest_ = digest;
    next_index_ = index + 1;
    return entry;
}

std::expected<void, core::Error> Verifier::check(const Entry& entry) {
    if (entry.index != next_index_) return std::unexpected(core::Error::auth("audit entry is out of sequence"));
    if (entry.previous != last_digest_) return std::unexpected(core::Error::auth("audit chain is broken"));
    const Digest digest = entry.digest();
    if (auto verified = key_.verify(digest, entry.signature); !verified) return verified;
    last_digest_ = digest;
    next_index_ = entry.index + 1;
    return {};
}

std::expected<void, core::Error> verify_chain(const security::PublicIdentity& key, std::span<const Entry> entries) {
    Verifier verifier(key);
    for (const Entry& entry : entries) {
        if (auto checked = verifier.check(entry); !checked) return checked;
    }
    return {};
}

}  // namespace trovik::audit
