#include <doctest/doctest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/audit/log.hpp"

namespace trovik::audit {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

security::DeviceIdentity identity(std::uint8_t fill) {
    std::array<std::uint8_t, 32> seed;
    seed.fill(fill);
    return security::DeviceIdentity::from_seed(seed);
}

std::vector<Entry> chain(const security::DeviceIdentity& signer, int count) {
    AuditLog log(signer);
    std::vector<Entry> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back(log.append(text("event " + std::to_string(i))));
    return entries;
}

std::string auth(std::string_view text) { return core::Error::auth(std::string(text)).display(); }

// The checks' outcomes, "ok" or the failure's display.
std::string check(Verifier& v, const Entry& e) {
    const auto result = v.check(e);
    return result ? "ok" : result.error().display();
}

TEST_CASE("entries chain by digest from a zero start") {
    const auto signer = identity(1);
    const auto entries = chain(signer, 3);
    CHECK(entries[0].index == 0);
    CHECK(entries[0].previous == Digest{});
    Bytes preimage(8 + 32);
    const auto payload = text("event 0");
    preimage.insert(preimage.end(), payload.begin(), payload.end());
    CHECK(entries[0].digest() == crypto::sha256(preimage));
    CHECK(entries[1].previous == entries[0].digest());
    CHECK(entries[2].index == 2);
    CHECK(signer.public_identity().verify(entries[2].digest(), entries[2].signature).has_value());
}

TEST_CASE("entries read back from the bytes they were written as") {
    AuditLog log(identity(2));
    for (const auto& payload : {Bytes{}, text("x"), Bytes(1000, 0xab)}) {
        const Entry e = log.append(payload);
        const Bytes bytes = e.to_bytes();
        CHECK(bytes.size() == Entry::kHeaderSize + payload.size());
        const auto back = Entry::from_bytes(bytes);
        REQUIRE(back.has_value());
        CHECK(back->index == e.index);
        CHECK(back->previous == e.previous);
        CHECK(back->signature == e.signature);
        CHECK(back->payload == e.payload);
        CHECK(back->to_bytes() == bytes);
    }
    const Bytes short_header(Entry::kHeaderSize - 1);
    CHECK(Entry::from_bytes(short_header).error().display() == "codec error: audit entry is shorter than its header");
    // The index is little-endian.
    Bytes header(Entry::kHeaderSize);
    header[0] = 0x02;
    header[7] = 0x01;
    CHECK(Entry::from_bytes(header)->index == 0x0100000000000002);
}

TEST_CASE("a verifier takes the chain in order and nothing else") {
    const auto signer = identity(3);
    const auto entries = chain(signer, 4);
    SUBCASE("in order") {
        Verifier v(signer.public_identity());
        for (const auto& e : entries)
            CHECK(check(v, e) == "ok");
    }
    SUBCASE("a skipped entry is refused, then the right one is taken") {
        Verifier v(signer.public_identity());
        CHECK(check(v, entries[0]) == "ok");
        CHECK(check(v, entries[2]) == auth("audit entry is out of sequence"));
        CHECK(check(v, entries[1]) == "ok");
        CHECK(check(v, entries[1]) == auth("audit entry is out of sequence"));
    }
    SUBCASE("the index is judged first, then the previous digest, then the signature") {
        Verifier v(signer.public_identity());
        Entry wrong_everything = entries[1];
        wrong_everything.previous[0] ^= 1;
        wrong_everything.payload.push_back(0);
        CHECK(check(v, wrong_everything) == auth("audit entry is out of sequence"));
        Entry wrong_previous = entries[0];
        wrong_previous.previous[5] ^= 1;
        CHECK(check(v, wrong_previous) == auth("audit chain is broken"));
        Entry wrong_payload = entries[0];
        wrong_payload.payload[0] ^= 1;
        CHECK(check(v, wrong_payload) == auth("signature verification failed"));
        CHECK(check(v, entries[0]) == "ok");
    }
    SUBCASE("another identity's key refuses the first entry") {
        Verifier v(identity(4).public_identity());
        CHECK(check(v, entries[0]) == auth("signature verification failed"));
    }
}

TEST_CASE("a whole chain: tampered, reordered, dropped, or from another chain") {
    const auto signer = identity(5);
    const auto key = signer.public_identity();
    const auto entries = chain(signer, 4);
    CHECK(verify_chain(key, entries).has_value());
    CHECK(verify_chain(key, {}).has_value());

    auto tampered = entries;
    tampered[1].payload.back() ^= 0x20;
    CHECK(verify_chain(key, tampered).error().display() == auth("signature verification failed"));

    auto reordered = entries;
    std::swap(reordered[1], reordered[2]);
    CHECK(verify_chain(key, reordered).error().display() == auth("audit entry is out of sequence"));

    auto dropped = entries;
    dropped.erase(dropped.begin() + 1);
    CHECK(verify_chain(key, dropped).error().display() == auth("audit entry is out of sequence"));

    // Same signer, same index, other history: the previous digest gives it away.
    AuditLog other(signer);
    other.append(text("something else"));
    auto spliced = entries;
    spliced[1] = other.append(text("event 1"));
    CHECK(verify_chain(key, spliced).error().display() == auth("audit chain is broken"));
}

TEST_CASE("a resumed log carries the chain on without a gap") {
    const auto signer = identity(6);
    auto entries = chain(signer, 5);
    AuditLog resumed = AuditLog::resume(signer, entries[4]);
    const Entry next = resumed.append(text("after restart"));
    CHECK(next.index == 5);
    CHECK(next.previous == entries[4].digest());
    entries.push_back(next);
    CHECK(verify_chain(signer.public_identity(), entries).has_value());
}

}  // namespace
}  // namespace trovik::audit
