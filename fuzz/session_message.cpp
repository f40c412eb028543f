// Secure-session messages as they arrive: counter, tag, associated data and
// ciphertext taken from the input. Nothing forged opens, a refusal leaves the
// session as it was (the genuine message still opens), a failed tag leaves
// zeros; and a run of counters meets the replay window as a plain set of
// accepted counters says it should.
// libFuzzer options: -max_len=1024
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <vector>

#include "support.hpp"
#include "trovik/session/session.hpp"

namespace trovik::session {

// Puts a sender at any counter, so messages can arrive in any order.
struct SessionProbe {
    static void set_send_counter(Session& s, std::uint64_t counter) { s.send_counter_ = counter; }
};

}  // namespace trovik::session

using namespace trovik::session;

namespace {

struct Pair {
    Session sender, receiver;
};

Pair make_pair() {
    std::array<std::uint8_t, 32> seed_a, seed_b;
    seed_a.fill(0xa1);
    seed_b.fill(0xb2);
    const auto a = AgreementKey::from_seed(seed_a), b = AgreementKey::from_seed(seed_b);
    const std::array<std::uint8_t, 16> salt = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    return {Session::establish(a, b.public_key(), salt, Role::Initiator).value(),
            Session::establish(b, a.public_key(), salt, Role::Responder).value()};
}

std::uint64_t read_u64(std::span<const std::uint8_t> bytes) {
    std::uint64_t v = 0;
    for (const auto b : bytes)
        v = v << 8 | b;
    return v;
}

void forged_message(std::span<const std::uint8_t> input) {
    if (input.size() < 8 + 16 + 1) return;
    Pair p = make_pair();
    const std::uint64_t counter = read_u64(input.first(8));
    const auto tag = input.subspan<8, 16>();
    // The top bit of the length byte: whether the genuine message under the
    // same counter arrives first, making the forgery a replay.
    const bool genuine_first = (input[24] & 0x80) != 0;
    const std::size_t aad_size = std::min<std::size_t>(input[24] & 0x7f, input.size() - 25);
    const auto aad = input.subspan(25, aad_size);
    const auto body = input.subspan(25 + aad_size);

    const std::uint64_t genuine_counter = counter == UINT64_MAX ? counter - 1 : counter;
    SessionProbe::set_send_counter(p.sender, genuine_counter);
    std::vector<std::uint8_t> genuine = {'o', 'k'};
    const auto sealed = p.sender.seal(genuine, {}).value();
    const auto open_genuine = [&] {
        FUZZ_CHECK(p.receiver.open(sealed.counter, sealed.tag, genuine, {}).has_value());
        FUZZ_CHECK(genuine == std::vector<std::uint8_t>({'o', 'k'}));
    };
    if (genuine_first) open_genuine();

    std::vector<std::uint8_t> buffer(body.begin(), body.end());
    const auto opened = p.receiver.open(counter, tag, buffer, aad);
    FUZZ_CHECK(!opened);
    if (genuine_first && counter == genuine_counter) {
        FUZZ_CHECK(opened.error().kind == SessionError::Kind::Replayed);
        FUZZ_CHECK(std::ranges::equal(buffer, body));
    } else {
        FUZZ_CHECK(opened.error().kind == SessionError::Kind::Unauthenticated);
        FUZZ_CHECK(std::ranges::all_of(buffer, [](std::uint8_t b) { return b == 0; }));
    }
    if (!genuine_first) open_genuine();
}

void replay_run(std::span<const std::uint8_t> input) {
    Pair p = make_pair();
    std::set<std::uint64_t> accepted;
    std::uint64_t counter = 0;
    for (std::size_t at = 0; at + 2 <= input.size(); at += 2) {
        // Each step moves the counter forward or back by up to 127, or jumps far.
        const std::uint8_t step = input[at], amount = input[at + 1];
        if (step & 0x80) {
            counter = (step & 0x40) ? counter + (std::uint64_t{amount} << (step & 0x3f)) : counter - (step & 0x3f);
        } else {
            counter += step;
        }
        counter -= counter == UINT64_MAX;  // the sender never seals under the last value
        SessionProbe::set_send_counter(p.sender, counter);
        std::array<std::uint8_t, 1> buffer = {amount};
        const auto sealed = p.sender.seal(buffer, {}).value();
        FUZZ_CHECK(sealed.counter == counter);
        const std::uint64_t highest = accepted.empty() ? 0 : *accepted.rbegin();
        const bool fresh = !accepted.contains(counter) && (counter > highest || highest - counter < 64);
        const auto opened = p.receiver.open(counter, sealed.tag, buffer, {});
        FUZZ_CHECK(opened.has_value() == fresh);
        if (fresh) {
            FUZZ_CHECK(buffer[0] == amount);
            accepted.insert(counter);
        } else {
            FUZZ_CHECK(opened.error().kind == SessionError::Kind::Replayed);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::span<const std::uint8_t> input(data + 1, size - 1);
    if (data[0] & 1) {
        replay_run(input);
    } else {
        forged_message(input);
    }
    return 0;
}
