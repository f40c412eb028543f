#include <doctest/doctest.h>

#include <memory>
#include <optional>

#include "support.hpp"
#include "trovik/update/update.hpp"

namespace trovik::update {
namespace {

using slots::MemoryStore;
using update_test::Bytes;
using update_test::envelope;
using update_test::image;
using update_test::release;
using Action = BootDecision::Action;

const auto anchor = update_test::identity(1);
const auto release_signer = update_test::identity(3);

Updater<MemoryStore> fresh(std::uint8_t slots = 2, std::uint32_t capacity = 4096) {
    return {update_test::vendor, update_test::klass, anchor.public_identity(), MemoryStore(slots, capacity)};
}

template <class U>
SlotState state(const U& u, std::uint8_t slot) {
    return u.slot_record(slot)->state;
}

void check_decision(const std::expected<BootDecision, UpdateError>& d, Action action, int slot, int fallback) {
    REQUIRE(d);
    CHECK(d->action == action);
    CHECK(d->slot == slot);
    CHECK(d->fallback == fallback);
}

TEST_CASE("the release rules, in order") {
    auto u = fresh(2, 100);
    const Bytes img = image(50);
    CHECK(u.installed_sequence() == 0);
    CHECK(u.stage(envelope(release(0, 1, img), anchor), img, {}) == std::unexpected(UpdateError::Rollback));
    REQUIRE(u.provision(0, 5));
    CHECK(u.provision(1, 6) == std::unexpected(UpdateError::BadSlotState));

    struct Case {
        std::string_view name;
        Manifest manifest;
        std::optional<std::uint64_t> now;
        std::optional<UpdateError> error;
    };
    Manifest foreign = release(9, 1, img);
    foreign.class_id = update_test::id(0x33);
    Manifest too_big = release(9, 1, img);
    too_big.size = 101;
    const Case cases[] = {
        {"another device class", foreign, {}, UpdateError::WrongDevice},
        {"expiring without a clock", release(9, 1, img, 1000), {}, UpdateError::NoClock},
        {"expired", release(9, 1, img, 1000), 1000, UpdateError::Expired},
        {"the installed sequence", release(5, 1, img), {}, UpdateError::Rollback},
        {"no such slot", release(9, 2, img), {}, UpdateError::NoSuchSlot},
        {"one byte over the capacity", too_big, {}, UpdateError::DoesNotFit},
        {"the confirmed slot", release(9, 0, img), {}, UpdateError::BadSlotState},
        {"not yet expired", release(9, 1, img, 1000), 999, std::nullopt},
        {"never expires", release(6, 1, img), {}, std::nullopt},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        const auto result = u.check(c.manifest, c.now);
        if (c.error)
            CHECK(result == std::unexpected(*c.error));
        else
            CHECK(result);
    }
    // A refusal leaves the slot untouched.
    CHECK(u.begin(envelope(release(5, 1, img), anchor), {}) == std::unexpected(UpdateError::Rollback));
    CHECK(state(u, 1) == SlotState::Empty);
    CHECK_FALSE(u.transfer_open());
}

TEST_CASE("a transfer in one-byte pieces") {
    auto u = fresh();
    REQUIRE(u.provision(0, 1));
    const Bytes img = image(300);
    REQUIRE(u.begin(envelope(release(2, 1, img), anchor), {}) == 1);
    for (std::size_t i = 0; i < img.size(); ++i) {
        REQUIRE(u.write(std::span(img).subspan(i, 1)));
        const auto p = u.progress();
        REQUIRE(p);
        CHECK(p->written == i + 1);
        CHECK(p->total == 300);
    }
    REQUIRE(u.finish() == 1);
    CHECK_FALSE(u.transfer_open());
    const auto record = u.slot_record(1);
    CHECK(record->state == SlotState::Staged);
    CHECK(record->written == 300);
    CHECK(record->sequence == 2);
}

TEST_CASE("a refused write re-opens the transfer from what the slot holds") {
    auto u = fresh();
    const Bytes img = image(100);
    REQUIRE(u.begin(envelope(release(1, 1, img), anchor), {}));
    REQUIRE(u.write(std::span(img).first(60)));
    Bytes too_much(41, 0);
    CHECK(u.write(too_much) == std::unexpected(UpdateError::SizeMismatch));
    CHECK(u.progress()->written == 60);
    REQUIRE(u.write(std::span(img).subspan(60)));
    CHECK(u.finish() == 1);
}

TEST_CASE("a release overtaken during its transfer stops") {
    auto u = fresh(3);
    const Bytes img = image(100);
    REQUIRE(u.begin(envelope(release(1, 1, img), anchor), {}));
    REQUIRE(u.write(std::span(img).first(10)));
    REQUIRE(u.stage(envelope(release(2, 2, img), anchor), img, {}) == 2);
    CHECK(u.write(std::span(img).subspan(10)) == std::unexpected(UpdateError::Rollback));
    CHECK(u.progress() == std::unexpected(UpdateError::Rollback));
}

TEST_CASE("a delegation moves the signing of releases to its key") {
    auto u = fresh();
    const Bytes img = image(64);
    Delegation d;
    d.epoch = 1;
    d.release_key = release_signer.public_identity().to_bytes();

    SUBCASE("mid-transfer, the anchor-signed release stops") {
        REQUIRE(u.begin(envelope(release(1, 0, img), anchor), {}));
        REQUIRE(u.write(std::span(img).first(10)));
        REQUIRE(u.adopt(update_test::delegation_envelope(d, anchor), {}) == d);
        CHECK(u.write(std::span(img).subspan(10)) == std::unexpected(UpdateError::BadSignature));
        CHECK(u.begin(envelope(release(1, 0, img), release_signer), {}) == 0);
    }
    SUBCASE("adopting the same epoch again is a rollback") {
        REQUIRE(u.adopt(update_test::delegation_envelope(d, anchor), {}));
        CHECK(u.adopt(update_test::delegation_envelope(d, anchor), {}) == std::unexpected(UpdateError::Rollback));
        // Only the anchor signs delegations, also while one is honoured.
        d.epoch = 2;
        CHECK(u.adopt(update_test::delegation_envelope(d, release_signer), {}) ==
              std::unexpected(UpdateError::BadSignature));
    }
    SUBCASE("an expiring delegation is judged at every release") {
        d.expires = 1000;
        CHECK(u.adopt(update_test::delegation_envelope(d, anchor), {}) == std::unexpected(UpdateError::NoClock));
        CHECK(u.adopt(update_test::delegation_envelope(d, anchor), 1000) == std::unexpected(UpdateError::Expired));
        REQUIRE(u.adopt(update_test::delegation_envelope(d, anchor), 500));
        const Bytes env = envelope(release(1, 0, img), release_signer);
        CHECK(u.stage(env, img, {}) == std::unexpected(UpdateError::NoClock));
        CHECK(u.stage(env, img, 1000) == std::unexpected(UpdateError::Expired));
        CHECK(u.stage(env, img, 999) == 0);
    }
    SUBCASE("a release key that is no key is refused at adoption") {
        d.release_key.fill(0);
        CHECK(u.adopt(update_test::delegation_envelope(d, anchor), {}) == std::unexpected(UpdateError::BadSignature));
        CHECK_FALSE(u.delegation());
    }
}

TEST_CASE("boot cycles") {
    auto u = fresh();
    CHECK(u.on_boot() == std::unexpected(UpdateError::NothingToRevert));
    REQUIRE(u.provision(0, 5));
    check_decision(u.on_boot(), Action::Confirmed, 0, 0);
    const Bytes img = image(64);
    REQUIRE(u.stage(envelope(release(6, 1, img), anchor), img, {}) == 1);
    check_decision(u.on_boot(), Action::Trying, 1, 1);
    CHECK(state(u, 1) == SlotState::Pending);

    SUBCASE("an image that never confirms is given up") {
        check_decision(u.on_boot(), Action::Reverted, 1, 0);
        CHECK(state(u, 1) == SlotState::Failed);
        CHECK(u.stage(envelope(release(6, 1, img), anchor), img, {}) == std::unexpected(UpdateError::Rollback));
        CHECK(u.stage(envelope(release(7, 1, img), anchor), img, {}) == 1);
    }
    SUBCASE("an image that confirms runs from then on") {
        CHECK(u.confirm() == 1);
        CHECK(state(u, 0) == SlotState::Empty);
        check_decision(u.on_boot(), Action::Confirmed, 1, 1);
        CHECK(u.confirm() == std::unexpected(UpdateError::BadSlotState));
    }
    SUBCASE("revert goes back at once") {
        CHECK(u.revert() == 0);
        CHECK(state(u, 1) == SlotState::Failed);
        CHECK(u.revert() == std::unexpected(UpdateError::BadSlotState));
    }
}

TEST_CASE("a pending image with nothing to fall back to is tried again") {
    auto u = fresh();
    const Bytes img = image(64);
    REQUIRE(u.stage(envelope(release(1, 0, img), anchor), img, {}) == 0);
    for (int boot = 0; boot < 3; ++boot) {
        check_decision(u.on_boot(), Action::Trying, 0, 0);
        CHECK(state(u, 0) == SlotState::Pending);
    }
    CHECK(u.revert() == std::unexpected(UpdateError::NothingToRevert));
    CHECK(u.confirm() == 0);
    check_decision(u.on_boot(), Action::Confirmed, 0, 0);
}

TEST_CASE("the rollback floor survives the erasing of the images that set it") {
    auto u = fresh();
    REQUIRE(u.provision(0, 5));
    const Bytes img = image(64);
    REQUIRE(u.stage(envelope(release(8, 1, img), anchor), img, {}));
    check_decision(u.on_boot(), Action::Trying, 1, 1);
    check_decision(u.on_boot(), Action::Reverted, 1, 0);
    // A release whose image does not match erases the failed 8 and stops
    // there; 8 must not come back once its slot forgot it.
    CHECK(u.stage(envelope(release(9, 1, img), anchor), image(64, 1), {}) ==
          std::unexpected(UpdateError::DigestMismatch));
    CHECK(state(u, 1) == SlotState::Receiving);
    CHECK(u.installed_sequence() == 8);
    CHECK(u.stage(envelope(release(8, 1, img), anchor), img, {}) == std::unexpected(UpdateError::Rollback));
    REQUIRE(u.stage(envelope(release(9, 1, img), anchor), img, {}));
    check_decision(u.on_boot(), Action::Trying, 1, 1);
    REQUIRE(u.confirm() == 1);
    // Slot 0's old image is gone; the floor is not.
    CHECK(u.installed_sequence() == 9);
    CHECK(u.stage(envelope(release(9, 0, img), anchor), img, {}) == std::unexpected(UpdateError::Rollback));

    SUBCASE("an unfinished transfer does not raise it, so it can be begun again") {
        const Bytes env = envelope(release(10, 0, img), anchor);
        REQUIRE(u.begin(env, {}));
        REQUIRE(u.write(std::span(img).first(5)));
        CHECK(u.installed_sequence() == 9);
        REQUIRE(u.begin(env, {}) == 0);
        REQUIRE(u.write(img));
        REQUIRE(u.finish() == 0);
        CHECK(u.installed_sequence() == 10);
    }
}

// A store whose power goes at a chosen write: every change before it lands,
// that one and everything after it do not. What survives is what the next
// boot sees.
struct PowerCut {};

class FlakyStore {
public:
    FlakyStore(std::shared_ptr<MemoryStore> slots, std::shared_ptr<int> writes_left)
        : slots_(std::move(slots)), writes_left_(std::move(writes_left)) {}

    std::uint8_t count() const noexcept { return slots_->count(); }
    auto capacity(std::uint8_t slot) const { return slots_->capacity(slot); }
    auto record(std::uint8_t slot) const { return slots_->record(slot); }
    auto read(std::uint8_t slot, std::uint32_t offset, std::span<std::uint8_t> out) const {
        return slots_->read(slot, offset, out);
    }
    std::uint64_t highest_staged() const noexcept { return slots_->highest_staged(); }
    std::expected<void, UpdateError> erase(std::uint8_t slot) {
        spend();
        return slots_->erase(slot);
    }
    std::expected<void, UpdateError> write(std::uint8_t slot, std::uint32_t offset, std::span<const std::uint8_t> d) {
        spend();
        return slots_->write(slot, offset, d);
    }
    std::expected<void, UpdateError> set_record(std::uint8_t slot, SlotRecord record) {
        spend();
        return slots_->set_record(slot, record);
    }
    std::expected<void, UpdateError> set_highest_staged(std::uint64_t sequence) {
        spend();
        return slots_->set_highest_staged(sequence);
    }

private:
    void spend() {
        if (*writes_left_ == 0) throw PowerCut{};
        --*writes_left_;
    }
    std::shared_ptr<MemoryStore> slots_;
    std::shared_ptr<int> writes_left_;
};
static_assert(slots::SlotStore<FlakyStore>);

struct Device {
    std::shared_ptr<MemoryStore> slots = std::make_shared<MemoryStore>(2, 4096);
    std::shared_ptr<int> writes_left = std::make_shared<int>(1'000'000);

    Updater<FlakyStore> boot() const {
        return {update_test::vendor, update_test::klass, anchor.public_identity(), FlakyStore(slots, writes_left)};
    }
};

// A device running slot 0 at sequence 5 with release 6 pending in slot 1.
Device trying_new_image() {
    Device device;
    auto u = device.boot();
    REQUIRE(u.provision(0, 5));
    const Bytes img = image(64);
    REQUIRE(u.stage(envelope(release(6, 1, img), anchor), img, {}));
    check_decision(u.on_boot(), Action::Trying, 1, 1);
    return device;
}

TEST_CASE("a power cut inside confirm never leaves the device without a confirmed image") {
    for (int allowed = 0;; ++allowed) {
        CAPTURE(allowed);
        Device device = trying_new_image();
        *device.writes_left = allowed;
        bool finished = false;
        try {
            auto u = device.boot();
            const auto confirmed = u.confirm();  // a cut throws out of here
            CHECK(confirmed == 1);
            finished = true;
        } catch (const PowerCut&) {
        }
        *device.writes_left = 1'000'000;
        auto after = device.boot();
        const auto decision = after.on_boot();
        REQUIRE(decision);
        if (allowed == 0) {
            // Cut before anything landed: the confirm never happened.
            check_decision(decision, Action::Reverted, 1, 0);
        } else {
            // The new image is confirmed and runs; the old one is gone.
            check_decision(decision, Action::Confirmed, 1, 1);
            CHECK(state(after, 0) == SlotState::Empty);
        }
        if (finished) break;
    }
}

TEST_CASE("a power cut inside on_boot leaves a decision the next boot can make") {
    struct Start {
        std::string_view name;
        Device (*make)();
        Action first_try;  // what the boot that is cut would have said
    };
    const Start starts[] = {
        {"staged image",
         [] {
             Device d;
             auto u = d.boot();
             REQUIRE(u.provision(0, 5));
             const Bytes i = image(64);
             REQUIRE(u.stage(envelope(release(6, 1, i), anchor), i, {}));
             return d;
         },
         Action::Trying},
        {"pending image with a fallback", trying_new_image, Action::Reverted},
        {"pending image alone",
         [] {
             Device d;
             auto u = d.boot();
             const Bytes i = image(64);
             REQUIRE(u.stage(envelope(release(6, 1, i), anchor), i, {}));
             check_decision(u.on_boot(), Action::Trying, 1, 1);
             return d;
         },
         Action::Trying},
        {"two confirmed images after a cut confirm",
         [] {
             Device d = trying_new_image();
             *d.writes_left = 1;
             try {
                 auto u = d.boot();
                 (void)u.confirm();
             } catch (const PowerCut&) {
             }
             *d.writes_left = 1'000'000;
             return d;
         },
         Action::Confirmed},
    };
    for (const auto& start : starts) {
        CAPTURE(start.name);
        for (int allowed = 0;; ++allowed) {
            CAPTURE(allowed);
            Device device = start.make();
            *device.writes_left = allowed;
            std::optional<BootDecision> cut_decision;
            try {
                auto u = device.boot();
                const auto d = u.on_boot();
                REQUIRE(d);
                cut_decision = *d;
            } catch (const PowerCut&) {
            }
            *device.writes_left = 1'000'000;
            auto after = device.boot();
            const auto decision = after.on_boot();
            REQUIRE(decision);
            // Some image always runs, and a confirmed one wins over a try
            // only once the try has been recorded as failed.
            CHECK(after.slot_record(decision->fallback)->state != SlotState::Failed);
            CHECK(after.slot_record(decision->fallback)->state != SlotState::Empty);
            if (!cut_decision) {
                // The cut boot recorded nothing or its whole decision; the
                // next one decides from there.
                CHECK((decision->action == start.first_try || decision->action == Action::Confirmed ||
                       decision->action == Action::Reverted));
            } else {
                CHECK(cut_decision->action == start.first_try);
                break;
            }
        }
    }
}

TEST_CASE("a memory store reads within its capacity") {
    MemoryStore store(1, 10);
    REQUIRE(store.write(0, 8, Bytes{1, 2}));
    CHECK(store.write(0, 9, Bytes{1, 2}) == std::unexpected(UpdateError::DoesNotFit));
    Bytes out(5, 0xFF);
    CHECK(store.read(0, 7, out) == 3);
    CHECK(out[0] == 0);
    CHECK(out[1] == 1);
    CHECK(out[2] == 2);
    CHECK(store.read(0, 12, out) == 0);
    CHECK(store.read(1, 0, out) == std::unexpected(UpdateError::NoSuchSlot));
    MemoryStore none(0, 10);
    CHECK(none.record(0) == std::unexpected(UpdateError::NoSuchSlot));
    CHECK(none.erase(0) == std::unexpected(UpdateError::NoSuchSlot));
}

}  // namespace
}  // namespace trovik::update
