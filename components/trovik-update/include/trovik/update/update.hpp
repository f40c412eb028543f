#pragma once
// The device side of firmware delivery: which signed releases may enter a
// slot, taking their images whole or in pieces, and at each boot deciding
// what runs, so an image that never confirms itself is given up for the last
// confirmed one.
//
// It reads no clock and does no I/O: the caller passes `now` (Unix seconds,
// or nothing on a device without a clock) and the slots sit behind a store.
// Every operation leaves the updater as it was when it fails, except where
// a step says otherwise.
#include <algorithm>
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "trovik/security/identity.hpp"
#include "trovik/update/manifest.hpp"
#include "trovik/update/slots.hpp"
#include "trovik/update/trust.hpp"
#include "trovik/update/verify.hpp"

namespace trovik::update {

using slots::SlotRecord;
using slots::SlotState;

struct BootDecision {
    enum class Action : std::uint8_t { Confirmed, Trying, Reverted };
    Action action;
    std::uint8_t slot;      // the image the decision is about; the failed one when Reverted
    std::uint8_t fallback;  // the slot to run
};

std::string_view action_name(BootDecision::Action action) noexcept;

struct Progress {
    std::uint32_t written;
    std::uint32_t total;
};

// An image arriving in pieces.
struct Transfer {
    Manifest manifest;
    ImageVerifier verifier;     // holds the hash of everything written so far
    std::uint64_t generation;   // the updater's, when the transfer was opened
    std::uint32_t written = 0;  // bytes stored so far
    std::uint8_t slot;
};

using Now = std::optional<std::uint64_t>;

// Whether a document with this expiry is still good at `now`.
inline std::expected<void, UpdateError> judge_expiry(std::uint64_t expires, Now now) noexcept {
    if (expires == 0) return {};
    if (!now) return std::unexpected(UpdateError::NoClock);
    if (*now >= expires) return std::unexpected(UpdateError::Expired);
    return {};
}

template <slots::SlotStore Store>
class Updater {
public:
    Updater(const Id& vendor_id, const Id& class_id, security::PublicIdentity anchor, Store store)
        : vendor_id_(vendor_id), class_id_(class_id), anchor_(std::move(anchor)), store_(std::move(store)) {}

    // The release rules, in order, for a manifest whose signature holds.
    std::expected<void, UpdateError> check(const Manifest& m, Now now) const {
        if (m.vendor_id != vendor_id_ || m.class_id != class_id_) return fail(UpdateError::WrongDevice);
        if (auto r = judge_expiry(m.expires, now); !r) return r;
        if (m.sequence <= installed_sequence()) return fail(UpdateError::Rollback);
        const auto capacity = store_.capacity(m.storage);
        if (!capacity) return fail(capacity.error());
        if (m.size > *capacity) return fail(UpdateError::DoesNotFit);
        const auto record = store_.record(m.storage);
        if (!record) return fail(record.error());
        if (record->state == SlotState::Confirmed) return fail(UpdateError::BadSlotState);
        return {};
    }

    // Checks a release and opens its slot. Everything that can be judged
    // without the image is judged before the slot is touched.
    std::expected<Transfer, UpdateError> begin_at(std::span<const std::uint8_t> envelope, Now now) {
        auto m = verify_release(envelope, now);
        if (!m) return fail(m.error());
        if (auto r = check(*m, now); !r) return fail(r.error());
        return restart(*m);
    }

    // A transfer for a verified, accepted manifest: resumed from what its
    // slot holds when the slot is still receiving that image, else restarted.
    std::expected<Transfer, UpdateError> reopen(const Manifest& m) {
        const auto record = store_.record(m.storage);
        if (!record) return fail(record.error());
        if (record->state != SlotState::Receiving || record->digest != m.digest || record->size != m.size ||
            record->written > m.size)
            return restart(m);
        Transfer t{m, ImageVerifier(m), generation_, record->written, m.storage};
        std::array<std::uint8_t, 256> piece;
        for (std::uint32_t at = 0; at < record->written;) {
            const auto want = std::min<std::size_t>(piece.size(), record->written - at);
            const auto got = store_.read(m.storage, at, std::span(piece).first(want));
            if (!got) return fail(got.error());
            if (*got == 0) return fail(UpdateError::Malformed);
            if (auto r = t.verifier.update(std::span(piece).first(*got)); !r) return fail(r.error());
            at += static_cast<std::uint32_t>(*got);
        }
        return t;
    }

    std::expected<Delegation, UpdateError> adopt(std::span<const std::uint8_t> envelope, Now now) {
        auto d = Delegation::open(envelope, anchor_);
        if (!d) return fail(d.error());
        if (delegation_ && d->epoch <= delegation_->delegation.epoch) return fail(UpdateError::Rollback);
        if (auto r = judge_expiry(d->expires, now); !r) return fail(r.error());
        auto key = d->signer();
        if (!key) return fail(key.error());
        delegation_.emplace(Honoured{*d, std::move(*key)});
        return *d;
    }

    // ---- a transfer in pieces: begin, write..., finish ----

    std::expected<std::uint8_t, UpdateError> begin(std::span<const std::uint8_t> envelope, Now now) {
        auto t = begin_at(envelope, now);
        if (!t) return fail(t.error());
        const std::uint8_t slot = t->slot;
        open_.emplace(Open{{envelope.begin(), envelope.end()}, now, std::move(*t)});
        return slot;
    }

    // Whether begin() opened a transfer that has not finished; write(),
    // finish() and progress() need one.
    bool transfer_open() const noexcept { return open_.has_value(); }

    std::expected<void, UpdateError> write(std::span<const std::uint8_t> chunk) {
        auto t = resume();
        if (!t) return fail(t.error());
        // On a failure from here the transfer is dropped, and the next call
        // re-opens it from what the slot holds.
        if (auto r = t->verifier.update(chunk); !r) return r;
        if (auto r = store_.write(t->slot, t->written, chunk); !r) return r;
        t->written += static_cast<std::uint32_t>(chunk.size());
        auto record = store_.record(t->slot);
        if (!record) return fail(record.error());
        record->written = t->written;
        if (auto r = store_.set_record(t->slot, *record); !r) return r;
        open_->transfer.emplace(std::move(*t));
        return {};
    }

    std::expected<std::uint8_t, UpdateError> finish() {
        auto t = resume();
        if (!t) return fail(t.error());
        if (auto settled = std::move(t->verifier).finish(); !settled) return fail(settled.error());
        if (auto r = mark_staged(t->manifest); !r) return fail(r.error());
        open_.reset();
        return t->slot;
    }

    std::expected<Progress, UpdateError> progress() {
        auto t = resume();
        if (!t) return fail(t.error());
        const Progress p{t->written, t->manifest.size};
        open_->transfer.emplace(std::move(*t));
        return p;
    }

    // Checks a release and stages an image already held whole. The open
    // transfer, if any, notices the changed generation on its next call.
    std::expected<std::uint8_t, UpdateError> stage(std::span<const std::uint8_t> envelope,
                                                   std::span<const std::uint8_t> image, Now now) {
        auto t = begin_at(envelope, now);
        if (!t) return fail(t.error());
        if (auto r = t->verifier.update(image); !r) return fail(r.error());
        if (auto r = store_.write(t->slot, 0, image); !r) return fail(r.error());
        auto record = store_.record(t->slot);
        if (!record) return fail(record.error());
        record->written = static_cast<std::uint32_t>(image.size());
        if (auto r = store_.set_record(t->slot, *record); !r) return fail(r.error());
        if (auto settled = std::move(t->verifier).finish(); !settled) return fail(settled.error());
        if (auto r = mark_staged(t->manifest); !r) return fail(r.error());
        return t->slot;
    }

    // ---- booting ----

    // Called once per boot, before jumping to an image; the decision is in
    // the records before it is returned.
    std::expected<BootDecision, UpdateError> on_boot() {
        // Two confirmed images mean a confirm was cut short after the new
        // image was marked: it finishes here, keeping the newer one.
        const auto newest = newest_confirmed();
        if (newest) {
            for (std::uint8_t s = 0; s < store_.count(); ++s)
                if (s != *newest && state_of(s) == SlotState::Confirmed)
                    if (auto r = store_.erase(s); !r) return fail(r.error());
        }
        if (const auto p = lowest(SlotState::Pending)) {
            // The image did not confirm itself before this boot.
            if (newest) {
                if (auto r = set_state(*p, SlotState::Failed); !r) return fail(r.error());
                return BootDecision{BootDecision::Action::Reverted, *p, *newest};
            }
            // Failing the only image would leave nothing to run: try it again.
            return BootDecision{BootDecision::Action::Trying, *p, *p};
        }
        if (const auto s = lowest(SlotState::Staged)) {
            if (auto r = set_state(*s, SlotState::Pending); !r) return fail(r.error());
            return BootDecision{BootDecision::Action::Trying, *s, *s};
        }
        if (newest) return BootDecision{BootDecision::Action::Confirmed, *newest, *newest};
        return fail(UpdateError::NothingToRevert);
    }

    std::expected<std::uint8_t, UpdateError> confirm() {
        const auto p = lowest(SlotState::Pending);
        if (!p) return fail(UpdateError::BadSlotState);
        // The new image is confirmed before the old one goes, so a cut in
        // between leaves two confirmed images rather than none.
        if (auto r = set_state(*p, SlotState::Confirmed); !r) return fail(r.error());
        for (std::uint8_t s = 0; s < store_.count(); ++s)
            if (s != *p && state_of(s) == SlotState::Confirmed)
                if (auto r = store_.erase(s); !r) return fail(r.error());
        return *p;
    }

    std::expected<std::uint8_t, UpdateError> revert() {
        const auto p = lowest(SlotState::Pending);
        if (!p) return fail(UpdateError::BadSlotState);
        const auto c = newest_confirmed();
        if (!c) return fail(UpdateError::NothingToRevert);
        if (auto r = set_state(*p, SlotState::Failed); !r) return fail(r.error());
        return *c;
    }

    // How a device that shipped with firmware states what it runs.
    std::expected<void, UpdateError> provision(std::uint8_t slot, std::uint64_t sequence) {
        if (lowest(SlotState::Confirmed)) return fail(UpdateError::BadSlotState);
        auto record = store_.record(slot);
        if (!record) return fail(record.error());
        record->sequence = sequence;
        record->state = SlotState::Confirmed;
        return store_.set_record(slot, *record);
    }

    std::expected<SlotRecord, UpdateError> slot_record(std::uint8_t slot) const { return store_.record(slot); }

    // The rollback floor: the highest sequence among the images held
    // (staged, pending, confirmed or failed) and every image ever staged, so
    // an erased failed or older release cannot come back.
    std::uint64_t installed_sequence() const {
        std::uint64_t highest = store_.highest_staged();
        for (std::uint8_t s = 0; s < store_.count(); ++s) {
            const auto record = store_.record(s);
            if (record && counts(record->state)) highest = std::max(highest, record->sequence);
        }
        return highest;
    }

    std::uint8_t slot_count() const { return store_.count(); }
    std::optional<Delegation> delegation() const {
        if (!delegation_) return std::nullopt;
        return delegation_->delegation;
    }
    const Store& store() const noexcept { return store_; }

private:
    struct Honoured {
        Delegation delegation;
        security::PublicIdentity key;
    };
    // The transfer begin() opened: its envelope and `now` are kept so every
    // later call verifies and checks the release again.
    struct Open {
        std::vector<std::uint8_t> envelope;
        Now now;
        std::optional<Transfer> transfer;
    };

    static std::unexpected<UpdateError> fail(UpdateError e) noexcept { return std::unexpected(e); }

    static bool counts(SlotState state) noexcept {
        return state == SlotState::Staged || state == SlotState::Pending || state == SlotState::Confirmed ||
               state == SlotState::Failed;
    }

    // The delegation's key while it stands, else the anchor. A delegation's
    // expiry is judged here, at every release, as it was when it was adopted.
    std::expected<std::reference_wrapper<const security::PublicIdentity>, UpdateError> release_key(Now now) const {
        if (!delegation_) return std::cref(anchor_);
        if (auto r = judge_expiry(delegation_->delegation.expires, now); !r) return fail(r.error());
        return std::cref(delegation_->key);
    }

    std::expected<Manifest, UpdateError> verify_release(std::span<const std::uint8_t> envelope, Now now) const {
        const auto opened = Envelope::decode(envelope);
        if (!opened) return fail(opened.error());
        const auto key = release_key(now);
        if (!key) return fail(key.error());
        return opened->verify(key->get());
    }

    std::expected<Transfer, UpdateError> restart(const Manifest& m) {
        ++generation_;
        if (auto r = store_.erase(m.storage); !r) return fail(r.error());
        if (auto r = store_.set_record(m.storage, {m.sequence, m.digest, m.size, 0, SlotState::Receiving}); !r)
            return fail(r.error());
        return Transfer{m, ImageVerifier(m), generation_, 0, m.storage};
    }

    // The open transfer, verified and checked again with the key that applies
    // now and the `now` given to begin(). A failure leaves the envelope open
    // without a live transfer, so later calls fail the same way.
    std::expected<Transfer, UpdateError> resume() {
        if (!open_) return fail(UpdateError::BadSlotState);  // callers ask transfer_open() first
        std::optional<Transfer> held = std::exchange(open_->transfer, std::nullopt);
        auto m = verify_release(open_->envelope, open_->now);
        if (!m) return fail(m.error());
        if (auto r = check(*m, open_->now); !r) return fail(r.error());
        const auto record = store_.record(m->storage);
        if (!record) return fail(record.error());
        if (held && held->generation == generation_ && record->state == SlotState::Receiving && held->manifest == *m &&
            record->digest == m->digest && record->size == m->size && record->written == held->written)
            return std::move(*held);
        return reopen(*m);
    }

    // Staged, and the floor raised: only a whole, matching image raises it,
    // so a transfer cut short can be begun again.
    std::expected<void, UpdateError> mark_staged(const Manifest& m) {
        if (auto r = store_.set_record(m.storage, {m.sequence, m.digest, m.size, m.size, SlotState::Staged}); !r)
            return r;
        if (m.sequence > store_.highest_staged()) return store_.set_highest_staged(m.sequence);
        return {};
    }

    SlotState state_of(std::uint8_t slot) const {
        const auto record = store_.record(slot);
        return record ? record->state : SlotState::Empty;
    }

    std::optional<std::uint8_t> lowest(SlotState state) const {
        for (std::uint8_t s = 0; s < store_.count(); ++s)
            if (state_of(s) == state) return s;
        return std::nullopt;
    }

    // The confirmed image with the highest sequence (the lowest-numbered
    // one among equals).
    std::optional<std::uint8_t> newest_confirmed() const {
        std::optional<std::uint8_t> best;
        std::uint64_t best_sequence = 0;
        for (std::uint8_t s = 0; s < store_.count(); ++s) {
            const auto record = store_.record(s);
            if (!record || record->state != SlotState::Confirmed) continue;
            if (!best || record->sequence > best_sequence) {
                best = s;
                best_sequence = record->sequence;
            }
        }
        return best;
    }

    std::expected<void, UpdateError> set_state(std::uint8_t slot, SlotState state) {
        auto record = store_.record(slot);
        if (!record) return fail(record.error());
        record->state = state;
        return store_.set_record(slot, *record);
    }

    Id vendor_id_;
    Id class_id_;
    security::PublicIdentity anchor_;
    std::optional<Honoured> delegation_;
    Store store_;
    std::uint64_t generation_ = 0;
    std::optional<Open> open_;
};

}  // namespace trovik::update
