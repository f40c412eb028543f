#include <doctest/doctest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/crypto/chacha20_poly1305.hpp"
#include "trovik/crypto/hkdf_sha256.hpp"
#include "trovik/session/session.hpp"

namespace trovik::session {

// Sealing 2^64 messages to reach the last counter is out of reach; the probe
// puts a session there directly.
struct SessionProbe {
    static void set_send_counter(Session& s, std::uint64_t counter) { s.send_counter_ = counter; }
};

namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = SessionError::Kind;

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

AgreementKey agreement(std::uint8_t fill) {
    std::array<std::uint8_t, 32> seed;
    seed.fill(fill);
    return AgreementKey::from_seed(seed);
}

const Bytes kSalt = text("sixteen byte salt");

struct Pair {
    AgreementKey a = agreement(0x11), b = agreement(0x22);
    Session initiator = Session::establish(a, b.public_key(), kSalt, Role::Initiator).value();
    Session responder = Session::establish(b, a.public_key(), kSalt, Role::Responder).value();
};

struct Message {
    std::uint64_t counter;
    crypto::chacha20_poly1305::Tag tag;
    Bytes ciphertext;
};

Message sealed(Session& s, std::string_view plaintext, std::string_view aad = "") {
    Bytes buffer = text(plaintext);
    const auto out = s.seal(buffer, text(aad)).value();
    return {out.counter, out.tag, buffer};
}

Message sealed_at(Session& s, std::uint64_t counter, std::string_view plaintext) {
    SessionProbe::set_send_counter(s, counter);
    return sealed(s, plaintext);
}

// The plaintext, or the failure's message.
std::string opened(Session& s, const Message& m, std::string_view aad = "") {
    Bytes buffer = m.ciphertext;
    const auto result = s.open(m.counter, m.tag, buffer, text(aad));
    if (!result) return std::string(result.error().message());
    return std::string(buffer.begin(), buffer.end());
}

TEST_CASE("two sides with opposite roles open each other's messages") {
    Pair p;
    const auto first = sealed(p.initiator, "hello", "device-7");
    CHECK(first.counter == 0);
    CHECK(first.ciphertext.size() == 5);
    CHECK(opened(p.responder, first, "device-7") == "hello");
    const auto answer = sealed(p.responder, "welcome");
    CHECK(answer.counter == 0);
    CHECK(opened(p.initiator, answer) == "welcome");
    CHECK(sealed(p.initiator, "again").counter == 1);
    // The same counter in the two directions never shares a nonce.
    CHECK(first.tag != sealed_at(p.responder, 0, "hello").tag);
}

TEST_CASE("the key, prefix and nonce come out as the layout says") {
    Pair p;
    const auto shared = p.a.agree(p.b.public_key()).value();
    Bytes info(81);
    std::ranges::copy(Session::kLabel, info.begin());
    std::ranges::copy(p.a.public_key(), info.begin() + 17);
    std::ranges::copy(p.b.public_key(), info.begin() + 49);
    std::array<std::uint8_t, 35> okm;
    crypto::hkdf_sha256(kSalt, shared, info, okm);

    const auto m = sealed_at(p.responder, 0x0102030405060708, "layout");
    std::array<std::uint8_t, 12> nonce = {1, okm[32], okm[33], okm[34], 1, 2, 3, 4, 5, 6, 7, 8};
    Bytes buffer = text("layout");
    const auto tag = crypto::chacha20_poly1305::seal(crypto::chacha20_poly1305::Key(okm.data(), 32), nonce, {}, buffer);
    CHECK(buffer == m.ciphertext);
    CHECK(tag == m.tag);
}

TEST_CASE("sides that do not agree on roles or salt cannot read each other") {
    Pair p;
    const auto both_initiators = Session::establish(p.b, p.a.public_key(), kSalt, Role::Initiator);
    Session other_salt = Session::establish(p.b, p.a.public_key(), text("another sixteen b"), Role::Responder).value();
    Session same_role = Session::establish(p.b, p.a.public_key(), kSalt, Role::Initiator).value();
    const auto m = sealed(p.initiator, "secret");
    CHECK(opened(same_role, m) == "session message failed authentication");
    CHECK(opened(other_salt, m) == "session message failed authentication");
    CHECK(opened(p.responder, m) == "secret");
    CHECK(both_initiators.has_value());
}

TEST_CASE("the replay window") {
    struct Step {
        std::uint64_t counter;
        bool accepted;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max() - 1;
    const Case cases[] = {
        {"the first message opens once", {{0, true}, {0, false}}},
        {"out of order within the window", {{5, true}, {3, true}, {4, true}, {3, false}, {0, true}, {5, false}}},
        {"63 behind is the oldest still tracked", {{100, true}, {37, true}, {37, false}, {36, false}}},
        {"a jump past the window forgets it", {{100, true}, {200, true}, {150, true}, {136, false}, {100, false}}},
        {"gaps are allowed", {{0, true}, {1000, true}, {999, true}, {1001, true}, {1000, false}}},
        {"the far end of the counters", {{top, true}, {top, false}, {top - 63, true}, {top - 64, false}}},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        Pair p;
        for (const auto& step : c.steps) {
            CAPTURE(step.counter);
            const auto m = sealed_at(p.initiator, step.counter, "payload");
            CHECK(opened(p.responder, m) == (step.accepted ? "payload" : "session message is a replay"));
        }
    }
}

TEST_CASE("a refused message leaves the session as it was") {
    Pair p;
    const auto m = sealed_at(p.initiator, 10, "genuine");
    for (std::size_t part = 0; part < 3; ++part) {
        Message forged = m;
        if (part == 0) forged.ciphertext[0] ^= 1;
        if (part == 1) forged.tag[0] ^= 1;
        const std::string aad = part == 2 ? "altered" : "";
        CHECK(opened(p.responder, forged, aad) == "session message failed authentication");
    }
    // A forgery at a high counter did not move the window: 10 still opens.
    const auto far = sealed_at(p.initiator, 500, "far");
    Message forged_far = far;
    forged_far.tag[3] ^= 4;
    CHECK(opened(p.responder, forged_far) == "session message failed authentication");
    CHECK(opened(p.responder, m) == "genuine");
    // A replay does not move it either.
    CHECK(opened(p.responder, m) == "session message is a replay");
    CHECK(opened(p.responder, sealed_at(p.initiator, 11, "next")) == "next");
}

TEST_CASE("establishing refuses a short salt and a small-order peer key") {
    const auto a = agreement(0x11), b = agreement(0x22);
    for (const std::size_t size : {0, 1, 15}) {
        CAPTURE(size);
        const auto s = Session::establish(a, b.public_key(), Bytes(size, 7), Role::Initiator);
        REQUIRE_FALSE(s.has_value());
        CHECK(s.error().kind == Kind::ShortSalt);
        CHECK(s.error().message() == "a session salt needs at least 16 bytes");
    }
    CHECK(Session::establish(a, b.public_key(), Bytes(16, 7), Role::Initiator).has_value());
    const std::array<std::uint8_t, 32> identity = {1};
    const auto s = Session::establish(a, identity, kSalt, Role::Responder);
    REQUIRE_FALSE(s.has_value());
    CHECK(s.error().message() == "the peer's key gives an all-zero shared secret");
}

TEST_CASE("the send counter stops at its last value instead of wrapping") {
    Pair p;
    const std::uint64_t last = std::numeric_limits<std::uint64_t>::max();
    const auto final_message = sealed_at(p.initiator, last - 1, "final");
    CHECK(final_message.counter == last - 1);
    Bytes buffer = text("one more");
    const auto refused = p.initiator.seal(buffer, {});
    REQUIRE_FALSE(refused.has_value());
    CHECK(refused.error().message() == "the session has sealed all the messages it can");
    CHECK(buffer == text("one more"));  // nothing was encrypted
    CHECK(opened(p.responder, final_message) == "final");
}

TEST_CASE("a moved-from session seals nothing") {
    Pair p;
    Session moved = std::move(p.initiator);
    Bytes buffer = text("x");
    CHECK(p.initiator.seal(buffer, {}).error().kind == Kind::Exhausted);
    CHECK(opened(p.responder, sealed(moved, "still works")) == "still works");
}

}  // namespace
}  // namespace trovik::session
