// Firmware delivery: signed manifests and delegations, update blocks, image
// verification and the device's A/B slots.
#include <optional>
#include <tuple>
#include <vector>

#include "binding/binding.hpp"
#include "security/args.hpp"
#include "trovik/update/block.hpp"
#include "trovik/update/update.hpp"

namespace trovik::py {

const BindingSource this_source{"update"};

namespace {

using security::DeviceIdentity;
using update::BootDecision;
using update::Delegation;
using update::ImageVerifier;
using update::Manifest;
using update::Progress;
using update::SlotRecord;
using update::UpdateError;
using Updater = update::Updater<update::slots::MemoryStore>;

[[noreturn]] void raise_update(UpdateError error) { raise_trovik(update::message(error)); }

template <class T>
T ok(std::expected<T, UpdateError>&& result) {
    if (!result) raise_update(result.error());
    if constexpr (!std::is_void_v<T>) return std::move(*result);
}

template <std::size_t N>
std::array<std::uint8_t, N> fixed_array(ByteView bytes, const char* name) {
    std::array<std::uint8_t, N> out;
    std::ranges::copy(fixed<N>(bytes, name, RaiseAs::TrovikError), out.begin());
    return out;
}

// A manifest as Python holds it: lengths and the format are judged only
// when it is used, so one can be built field by field.
struct ManifestArgs {
    std::uint64_t sequence;
    ByteVec vendor_id;
    ByteVec class_id;
    std::uint8_t storage;
    ByteVec digest;
    std::uint32_t size;
    std::uint64_t expires;
    std::uint8_t format;
    std::uint8_t structure_version;

    Manifest checked() const {
        if (format != update::format_raw) raise_update(UpdateError::UnsupportedVersion);
        Manifest m;
        m.structure_version = structure_version;
        m.sequence = sequence;
        m.vendor_id = fixed_array<16>(vendor_id, "vendor_id");
        m.class_id = fixed_array<16>(class_id, "class_id");
        m.storage = storage;
        m.digest = fixed_array<32>(digest, "digest");
        m.size = size;
        m.expires = expires;
        return m;
    }

    static ManifestArgs of(const Manifest& m) {
        return {m.sequence,
                {m.vendor_id.begin(), m.vendor_id.end()},
                {m.class_id.begin(), m.class_id.end()},
                m.storage,
                {m.digest.begin(), m.digest.end()},
                m.size,
                m.expires,
                update::format_raw,
                m.structure_version};
    }
};

struct DelegationArgs {
    std::uint64_t epoch;
    ByteVec release_key;
    std::uint64_t expires;

    static DelegationArgs of(const Delegation& d) {
        return {d.epoch, {d.release_key.begin(), d.release_key.end()}, d.expires};
    }
};

// The verifier until it is spent.
struct VerifierBox {
    std::optional<ImageVerifier> verifier;

    ImageVerifier& live() {
        if (!verifier) raise_trovik("this verifier has already been settled");
        return *verifier;
    }
};

Class<ManifestArgs> manifest_class{
    "Manifest", "What a release says about itself, and what a device checks it against.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"sequence", "vendor_id", "class_id", "storage", "digest", "size", arg("expires").def(0),
                arg("format").def(1), arg("structure_version").def(1).show("...")},
               [](std::uint64_t sequence, ByteVec vendor_id, ByteVec class_id, std::uint8_t storage, ByteVec digest,
                  std::uint32_t size, std::uint64_t expires, std::uint8_t format, std::uint8_t structure_version) {
                   return ManifestArgs{
                       sequence, std::move(vendor_id), std::move(class_id), storage, std::move(digest), size, expires,
                       format,   structure_version};
               });
        c.prop("sequence", "Rises with every release, which is what stops an older image being replayed at a device.",
               [](const ManifestArgs& self) { return self.sequence; });
        c.prop("vendor_id", "Who built the image, as 16 bytes.",
               [](const ManifestArgs& self) { return bytes_of(self.vendor_id); });
        c.prop("class_id", "Which kind of device it is for, as 16 bytes.",
               [](const ManifestArgs& self) { return bytes_of(self.class_id); });
        c.prop("storage", "Which slot the payload belongs in.", [](const ManifestArgs& self) { return self.storage; });
        c.prop("digest", "The SHA-256 of the payload, which every other guarantee rests on.",
               [](const ManifestArgs& self) { return bytes_of(self.digest); });
        c.prop("size", "The payload length in bytes, known before a single byte is accepted.",
               [](const ManifestArgs& self) { return self.size; });
        c.prop("expires", "When the release stops being offered, in Unix seconds; 0 if it never expires.",
               [](const ManifestArgs& self) { return self.expires; });
        c.prop("format", "How the payload is encoded, currently only the raw format.",
               [](const ManifestArgs& self) { return self.format; });
        c.prop("structure_version", "Which iteration of the manifest format this is.",
               [](const ManifestArgs& self) { return self.structure_version; });
    }};

Class<DelegationArgs> delegation_class{
    "Delegation", "A statement, signed by the anchor, that a second key may sign releases.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"epoch", "release_key", arg("expires").def(0)},
               [](std::uint64_t epoch, ByteVec release_key, std::uint64_t expires) {
                   return DelegationArgs{epoch, std::move(release_key), expires};
               });
        c.prop("epoch",
               "Rises with every rotation, so that a retired key cannot be reinstated by replaying the statement "
               "that once authorized it.",
               [](const DelegationArgs& self) { return self.epoch; });
        c.prop("release_key", "The public key that may sign manifests while this delegation stands.",
               [](const DelegationArgs& self) { return bytes_of(self.release_key); });
        c.prop("expires", "When the delegation stops being honoured, in Unix seconds; 0 if it never expires.",
               [](const DelegationArgs& self) { return self.expires; });
    }};

Class<SlotRecord> slot_record_class{
    "SlotRecord", "The record a device keeps about one slot, durable across a reboot.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.prop("state", "The state of the slot, by name.",
               [](const SlotRecord& self) { return update::slots::state_name(self.state); });
        c.prop("sequence", "The sequence number of the image in the slot.",
               [](const SlotRecord& self) { return self.sequence; });
        c.prop("size", "The length of the image in bytes.", [](const SlotRecord& self) { return self.size; });
        c.prop("digest", "The digest of the image.", [](const SlotRecord& self) { return bytes_of(self.digest); });
        c.prop("written", "How many bytes have been stored, which is where a resumed transfer picks up.",
               [](const SlotRecord& self) { return self.written; });
    }};

Class<BootDecision> boot_decision_class{
    "BootDecision", "The decision a device made at boot, already recorded before it was returned.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.prop("action", "What the bootloader should do: \"Confirmed\", \"Trying\" or \"Reverted\".",
               [](const BootDecision& self) { return update::action_name(self.action); });
        c.prop("slot", "The image the decision is about; for \"Reverted\", the one that failed.",
               [](const BootDecision& self) { return self.slot; });
        c.prop("fallback", "The slot to run, the same as `slot` for anything but \"Reverted\".",
               [](const BootDecision& self) { return self.fallback; });
    }};

Class<Progress> progress_class{
    "Progress", "How much of an image has arrived.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.prop("written", "The bytes stored so far.", [](const Progress& self) { return self.written; });
        c.prop("total", "The total the manifest declares.", [](const Progress& self) { return self.total; });
    }};

Class<VerifierBox> verifier_class{
    "ImageVerifier", "Hashes an image as it arrives and settles it against its manifest.", [](auto& c) {
        c.init({"manifest"}, [](In<ManifestArgs> manifest) { return VerifierBox{ImageVerifier(manifest->checked())}; });
        c.def("update", "Takes the next piece of the image, in order.", {"chunk"},
              [](VerifierBox& self, ByteView chunk) { ok(self.live().update(chunk)); });
        c.def("finish",
              "Settles the image, returning its digest, and spends this verifier.\n\n"
              "Raises if the image is not the one the manifest described.",
              [](VerifierBox& self) {
                  ImageVerifier spent = std::move(self.live());
                  self.verifier.reset();  // spent whether or not the image matches
                  return bytes_of(ok(std::move(spent).finish()).digest);
              });
    }};

void require_transfer(const Updater& self) {
    if (!self.transfer_open()) raise_trovik("no transfer is open; call begin() first");
}

Class<Updater> updater_class{
    "Updater", "A device's slots, and the rules applied to what is offered for them.", [](auto& c) {
        c.init({"vendor_id", "class_id", "anchor_public_key", "slot_count", "slot_capacity"},
               [](ByteView vendor_id, ByteView class_id, ByteView anchor_public_key, std::uint8_t slot_count,
                  std::uint32_t slot_capacity) {
                   const auto vendor = fixed_array<16>(vendor_id, "vendor_id");
                   const auto klass = fixed_array<16>(class_id, "class_id");
                   return Updater(vendor, klass, read_public_key(anchor_public_key),
                                  update::slots::MemoryStore(slot_count, slot_capacity));
               });
        c.def("adopt", "Adopts a delegation, so releases signed by the key it names are accepted.",
              {"envelope", arg("now").none()}, [](Updater& self, ByteView envelope, std::optional<std::uint64_t> now) {
                  return make(DelegationArgs::of(ok(self.adopt(envelope, now))));
              });
        c.def("begin",
              "Checks a manifest and opens the slot it names for a transfer in pieces.\n\n"
              "Every check that can be made without the image runs here, before a byte is\n"
              "accepted. The envelope is remembered until finish() and verified again by\n"
              "every later call, so a delegation adopted meanwhile is honoured; the hash is\n"
              "carried from call to call, so the image is never held whole.",
              {"envelope", arg("now").none()}, [](Updater& self, ByteView envelope, std::optional<std::uint64_t> now) {
                  return ok(self.begin(envelope, now));
              });
        c.def("stage",
              "Checks a manifest and stages an image that is already held whole, returning the slot it went into.",
              {"envelope", "image", arg("now").none()},
              [](Updater& self, ByteView envelope, ByteView image, std::optional<std::uint64_t> now) {
                  return ok(self.stage(envelope, image, now));
              });
        c.def("write", "Takes the next piece of an image opened with begin().", {"chunk"},
              [](Updater& self, ByteView chunk) {
                  require_transfer(self);
                  ok(self.write(chunk));
              });
        c.def("finish",
              "Finishes an opened image and marks the slot bootable if it matched, returning the slot now holding "
              "it.",
              [](Updater& self) {
                  require_transfer(self);
                  return ok(self.finish());
              });
        c.def("progress", "Reports how much of an opened image has arrived.", [](Updater& self) {
            require_transfer(self);
            return make(ok(self.progress()));
        });
        c.def("on_boot",
              "Decides what to run, and records that decision before returning it.\n\n"
              "Call it once per boot, before jumping to an image. A staged image becomes\n"
              "pending and is tried; a pending image that did not confirm itself before\n"
              "this boot is given up for the confirmed one, or tried again when there is\n"
              "none to go back to.",
              [](Updater& self) { return make(ok(self.on_boot())); });
        c.def("confirm", "Confirms the pending image, so it will be run from now on.",
              [](Updater& self) { return ok(self.confirm()); });
        c.def("revert", "Fails the pending image and goes back to the confirmed one.",
              [](Updater& self) { return ok(self.revert()); });
        c.def("provision",
              "Records that a slot already holds a confirmed image at a sequence number.\n\n"
              "This is how a device that shipped with firmware states what it runs, so the\n"
              "first release offered to it must come after that.",
              {"slot", "sequence"},
              [](Updater& self, std::uint8_t slot, std::uint64_t sequence) { ok(self.provision(slot, sequence)); });
        c.def("slot_record", "Reads what the device believes about one slot.", {"slot"},
              [](const Updater& self, std::uint8_t slot) { return make(ok(self.slot_record(slot))); });
        c.prop("delegation",
               "The delegation currently honoured, or None when releases must be signed by the anchor itself.",
               [](const Updater& self) -> PyObject* {
                   const auto d = self.delegation();
                   return d ? make(DelegationArgs::of(*d)) : none();
               });
        c.prop("slot_count", "How many slots this device has.", [](const Updater& self) { return self.slot_count(); });
        c.prop("installed_sequence", "The highest sequence number the device already holds.",
               [](const Updater& self) { return self.installed_sequence(); });
    }};

std::vector<std::uint8_t> encode(const Manifest& m) {
    std::array<std::uint8_t, update::manifest_area> out;
    return {out.begin(), out.begin() + static_cast<std::ptrdiff_t>(ok(m.encode(out)))};
}

const Function image_digest_fn{
    "image_digest", "Hashes a complete image, for a publisher filling in a manifest.", {"image"}, [](ByteView image) {
        return bytes_of(update::image_digest(image));
    }};

const Function encode_manifest_fn{"encode_manifest",
                                  "Encodes the body of a manifest, which is the part a signature covers.",
                                  {"manifest"},
                                  [](In<ManifestArgs> manifest) { return encode(manifest->checked()); }};

const Function decode_manifest_fn{"decode_manifest",
                                  "Reads a manifest body back from its bytes.\n\n"
                                  "It proves nothing about who wrote it; verify_envelope() reads one whose\n"
                                  "signature has been verified.",
                                  {"data"},
                                  [](ByteView data) { return make(ManifestArgs::of(ok(Manifest::decode(data)))); }};

const Function block_descriptor_fn{
    "update_block_descriptor", "The text that names the update block convention, for a transport's field.", {}, [] {
        return update::block::descriptor;
    }};

const Function frame_block_fn{"frame_update_block",
                              "Writes a signed update into one block, for a transport that moves blocks.\n\n"
                              "Nothing in the header is trusted: every rule that decides whether the image\n"
                              "runs is still the manifest's.",
                              {"envelope", "image"},
                              [](ByteView envelope, ByteView image) {
                                  std::vector<std::uint8_t> out(update::block::block_size(envelope, image));
                                  ok(update::block::frame(envelope, image, out));
                                  return out;
                              }};

const Function split_block_fn{"split_update_block",
                              "Reads a block back into the signed manifest and the image.\n\n"
                              "Raises when the block does not carry this convention's header.",
                              {"block"},
                              [](ByteView block) {
                                  const auto parts = ok(update::block::split(block));
                                  return std::tuple{Ref(bytes_of(parts.envelope)), Ref(bytes_of(parts.image))};
                              }};

const Function sign_manifest_fn{"sign_manifest",
                                "Signs a manifest into the envelope that is offered to a device.",
                                {"manifest", "author"},
                                [](In<ManifestArgs> manifest, In<DeviceIdentity> author) {
                                    const Manifest m = manifest->checked();
                                    std::array<std::uint8_t, update::manifest_envelope_area> out;
                                    const std::size_t n = ok(m.sign(*author, out));
                                    return bytes_of(std::span(out).first(n));
                                }};

const Function verify_envelope_fn{"verify_envelope",
                                  "Verifies an envelope against a key and reads the manifest inside it.\n\n"
                                  "Raises when the signature is not from that key.",
                                  {"data", "public_key"},
                                  [](ByteView data, ByteView public_key) {
                                      const auto key = read_public_key(public_key);
                                      const auto envelope = ok(update::Envelope::decode(data));
                                      return make(ManifestArgs::of(ok(envelope.verify(key))));
                                  }};

const Function envelope_body_fn{"envelope_body",
                                "Copies out the signed body of an envelope, without checking the signature.\n\n"
                                "This is what a gateway relays onward unchanged.",
                                {"data"},
                                [](ByteView data) { return bytes_of(ok(update::Envelope::decode(data)).body); }};

const Function sign_delegation_fn{"sign_delegation",
                                  "Signs a delegation, naming a release key the anchor stands behind.",
                                  {"delegation", "anchor"},
                                  [](In<DelegationArgs> delegation, In<DeviceIdentity> anchor) {
                                      // Whether the key is a curve point is judged by whoever adopts it.
                                      Delegation d;
                                      d.epoch = delegation->epoch;
                                      d.release_key = fixed_array<32>(delegation->release_key, "release_key");
                                      d.expires = delegation->expires;
                                      std::array<std::uint8_t, update::delegation_envelope_area> out;
                                      const std::size_t n = ok(d.sign(*anchor, out));
                                      return bytes_of(std::span(out).first(n));
                                  }};

const Function open_delegation_fn{"open_delegation",
                                  "Opens a signed delegation against the anchor that should have signed it.",
                                  {"data", "anchor_public_key"},
                                  [](ByteView data, ByteView anchor_public_key) {
                                      const auto anchor = read_public_key(anchor_public_key);
                                      return make(DelegationArgs::of(ok(Delegation::open(data, anchor))));
                                  }};

// The raw format and the structure version are both 1 in this build.
unsigned one() { return 1; }

const Function structure_version_fn{
    "update_structure_version", "The manifest structure version this build writes.", {}, [] { return one(); }};

const Function format_raw_fn{
    "update_format_raw", "The payload format meaning the payload is the image itself, byte for byte.", {}, [] {
        return one();
    }};

}  // namespace
}  // namespace trovik::py
