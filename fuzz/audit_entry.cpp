// Audit entries: reading, writing back the same bytes, the digest over the
// header and payload, checking against a known signer, and resuming a log.
// libFuzzer options: -max_len=512
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/audit/log.hpp"

using namespace trovik;

namespace {

const security::DeviceIdentity& signer() {
    static const security::DeviceIdentity identity = [] {
        std::array<std::uint8_t, 32> seed;
        for (std::size_t i = 0; i < seed.size(); ++i)
            seed[i] = static_cast<std::uint8_t>(i);
        return security::DeviceIdentity::from_seed(seed);
    }();
    return identity;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const auto entry = audit::Entry::from_bytes(input);
    if (size < audit::Entry::kHeaderSize) {
        FUZZ_CHECK(!entry && entry.error().display() == "codec error: audit entry is shorter than its header");
        return 0;
    }
    FUZZ_CHECK(entry.has_value());
    FUZZ_CHECK(entry->to_bytes() == std::vector<std::uint8_t>(input.begin(), input.end()));
    FUZZ_CHECK(entry->payload.size() == size - audit::Entry::kHeaderSize);

    // The digest covers exactly the index and previous digest as written, then the payload.
    std::vector<std::uint8_t> covered(input.begin(), input.begin() + 40);
    covered.insert(covered.end(), input.begin() + audit::Entry::kHeaderSize, input.end());
    std::array<std::uint8_t, 32> digest;
    FUZZ_CHECK(EVP_Digest(covered.data(), covered.size(), digest.data(), nullptr, EVP_sha256(), nullptr) == 1);
    FUZZ_CHECK(entry->digest() == digest);

    // A fresh verifier takes only the signer's own first entry.
    audit::Verifier verifier(signer().public_identity());
    const auto checked = verifier.check(*entry);
    const bool zero_previous = std::ranges::all_of(entry->previous, [](std::uint8_t b) { return b == 0; });
    if (checked) {
        FUZZ_CHECK(entry->index == 0 && zero_previous);
        FUZZ_CHECK(signer().sign(digest) == entry->signature);
    } else if (entry->index != 0) {
        FUZZ_CHECK(checked.error().display() == "authentication error: audit entry is out of sequence");
    } else if (!zero_previous) {
        FUZZ_CHECK(checked.error().display() == "authentication error: audit chain is broken");
    } else {
        FUZZ_CHECK(checked.error().display() == "authentication error: signature verification failed");
    }

    // A log resumed from it chains its next entry on.
    auto log = audit::AuditLog::resume(signer(), *entry);
    const auto next = log.append(entry->payload);
    FUZZ_CHECK(next.index == entry->index + 1 && next.previous == digest);
    return 0;
}
