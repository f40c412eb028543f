// Device identities: Ed25519 signing, verification and key fingerprints.
#include <string>

#include "binding/binding.hpp"
#include "security/args.hpp"
#include "trovik/security/identity.hpp"

namespace trovik::py {

const BindingSource this_source{"security"};

namespace {

using security::DeviceIdentity;
using security::PublicIdentity;
using security::Signature;

Class<DeviceIdentity> identity_class{
    "DeviceIdentity", "A device's private signing identity.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"seed"}, [](ByteView seed) {
            return DeviceIdentity::from_seed(fixed<DeviceIdentity::kSeedSize>(seed, "seed", RaiseAs::ValueError));
        });
        c.def("sign", "Signs a payload, returning the 64-byte detached signature.", {"payload"},
              [](const DeviceIdentity& self, ByteView payload) { return bytes_of(self.sign(payload).to_bytes()); });
        c.def("sign_message", "Signs a payload and returns the signature followed by the payload, as one message.",
              {"payload"}, [](const DeviceIdentity& self, ByteView payload) { return self.sign_message(payload); });
        c.prop("public_key", "The public key matching this identity, which is safe to share.",
               [](const DeviceIdentity& self) { return bytes_of(self.public_identity().to_bytes()); });
        c.prop("fingerprint", "The short hex fingerprint of this identity, for logs and displays.",
               [](const DeviceIdentity& self) { return self.public_identity().fingerprint(); });
        // The seed is never shown.
        c.repr([](const DeviceIdentity& self) {
            return "DeviceIdentity(fingerprint=\"" + self.public_identity().fingerprint() + "\")";
        });
    }};

std::span<const std::uint8_t, PublicIdentity::kSize> key_bytes(ByteView public_key) {
    return fixed<PublicIdentity::kSize>(public_key, "public_key", RaiseAs::ValueError);
}

const Function verify_fn{"verify",
                         "Verifies that a signature covers a payload and was made by a public key.",
                         {"public_key", "payload", "signature"},
                         [](ByteView public_key, ByteView payload, ByteView signature) {
                             const auto encoded = key_bytes(public_key);
                             const auto sig = fixed<Signature::kSize>(signature, "signature", RaiseAs::ValueError);
                             const auto key = PublicIdentity::from_bytes(encoded);
                             return key && key->verify(payload, Signature::from_bytes(sig)).has_value();
                         }};

const Function verify_message_fn{"verify_message",
                                 "Verifies a signed message and returns the payload it carries.",
                                 {"public_key", "message"},
                                 [](ByteView public_key, ByteView message) -> PyObject* {
                                     const auto key = PublicIdentity::from_bytes(key_bytes(public_key));
                                     if (!key) return none();
                                     const auto payload = key->verify_message(message);
                                     return payload ? bytes_of(*payload) : none();
                                 }};

const Function fingerprint_fn{
    "fingerprint", "Returns the short hex fingerprint of a public key.", {"public_key"}, [](ByteView public_key) {
        return unwrap(PublicIdentity::from_bytes(key_bytes(public_key))).fingerprint();
    }};

}  // namespace
}  // namespace trovik::py
