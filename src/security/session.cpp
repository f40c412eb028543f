// Secure sessions: key agreement, sealing and opening, and the HMAC and HKDF
// primitives on their own.
#include <string>
#include <string_view>

#include "binding/binding.hpp"
#include "security/args.hpp"
#include "trovik/crypto/hkdf_sha256.hpp"
#include "trovik/crypto/hmac_sha256.hpp"
#include "trovik/session/session.hpp"

namespace trovik::py {

const BindingSource this_source{"session"};

namespace {

using session::AgreementKey;
using session::Session;

// What travels beside the ciphertext. The tag's length is checked only when
// the message is opened, so a malformed one still reads back as it came.
struct SealedMessage {
    std::uint64_t counter;
    ByteVec tag;
    ByteVec ciphertext;
};

[[noreturn]] void raise_session(session::SessionError error) { raise_trovik(error.message()); }

Class<AgreementKey> agreement_key_class{
    "AgreementKey", "A key-agreement secret, and the public key to hand to a peer.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"seed"}, "Creates a key-agreement secret from a provisioned 32-byte seed.", [](ByteView seed) {
            return AgreementKey::from_seed(fixed<AgreementKey::kSize>(seed, "seed", RaiseAs::TrovikError));
        });
        c.prop("public_key", "The public key to hand to a peer.",
               [](const AgreementKey& self) { return bytes_of(self.public_key()); });
    }};

Class<SealedMessage> sealed_message_class{
    "SealedMessage", "A message that has been sealed, with the header that travels beside it.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.init({"counter", "tag", "ciphertext"}, "Rebuilds a sealed message from the parts that arrived over the wire.",
               [](std::uint64_t counter, ByteVec tag, ByteVec ciphertext) {
                   return SealedMessage{counter, std::move(tag), std::move(ciphertext)};
               });
        c.prop("counter", "The counter naming this message within the session.",
               [](const SealedMessage& self) { return self.counter; });
        c.prop("tag", "The tag over the ciphertext and its associated data.",
               [](const SealedMessage& self) { return self.tag; });
        c.prop("ciphertext", "The encrypted message.", [](const SealedMessage& self) { return self.ciphertext; });
    }};

session::Role role_named(std::string_view role) {
    if (role == "Initiator") return session::Role::Initiator;
    if (role == "Responder") return session::Role::Responder;
    raise_trovik("unknown role " + std::string(role));
}

Class<Session> session_class{
    "Session", "A confidential, tamper-evident, replay-protected channel with one peer.", [](auto& c) {
        c.init({"local", "peer_public_key", "salt", "role"},
               "Establishes a session with a peer.\n\n"
               "Both devices call this with the same salt and opposite roles, and arrive\n"
               "at the same key without either sending it. The salt is a fresh\n"
               "per-session value of at least 16 bytes, exchanged in the clear: reusing\n"
               "one with the same pair of keys reuses the session key, so it must change\n"
               "each session.",
               [](In<AgreementKey> local, ByteView peer_public_key, ByteView salt, std::string_view role) {
                   const auto peer =
                       fixed<AgreementKey::kSize>(peer_public_key, "peer_public_key", RaiseAs::TrovikError);
                   const auto chosen = role_named(role);
                   auto established = Session::establish(*local, peer, salt, chosen);
                   if (!established) raise_session(established.error());
                   return std::move(*established);
               });
        c.def("seal",
              "Seals a message for the peer.\n\n"
              "The associated data is authenticated but not encrypted: it stays readable\n"
              "on the wire yet cannot be altered, which is where a device identifier or a\n"
              "routing header belongs.",
              {"plaintext", arg("aad").none()}, [](Session& self, ByteVec plaintext, OptionalBytes aad) {
                  const auto sealed = self.seal(plaintext, aad.view);
                  if (!sealed) raise_session(sealed.error());
                  return make(SealedMessage{sealed->counter, ByteVec(sealed->tag.begin(), sealed->tag.end()),
                                            std::move(plaintext)});
              });
        c.def("open",
              "Opens a message from the peer, returning the plaintext.\n\n"
              "Raises if the counter repeats or is older than the replay window still\n"
              "tracks, and if the tag does not authenticate. Nothing readable is ever\n"
              "returned from a message that failed either check.",
              {"sealed", arg("aad").none()}, [](Session& self, In<SealedMessage> sealed, OptionalBytes aad) {
                  const auto tag = fixed<session::aead::kTagSize>(sealed->tag, "tag", RaiseAs::TrovikError);
                  ByteVec buffer = sealed->ciphertext;
                  const auto opened = self.open(sealed->counter, tag, buffer, aad.view);
                  if (!opened) raise_session(opened.error());
                  return buffer;
              });
    }};

const Function hkdf_sha256_expand_fn{"hkdf_sha256_expand",
                                     "Expands input keying material into `length` bytes bound to `info`.\n\n"
                                     "Runs both HKDF-SHA256 steps: extract with `salt` and `ikm`, then expand\n"
                                     "with `info`. At most 8160 bytes can be produced.",
                                     {"salt", "ikm", "info", "length"},
                                     [](ByteView salt, ByteView ikm, ByteView info, std::size_t length) {
                                         // Refused before anything is allocated.
                                         if (length > crypto::kHkdfMaxLength)
                                             raise_trovik("length must be at most 8160 bytes");
                                         ByteVec out(length);
                                         crypto::hkdf_sha256(salt, ikm, info, out);
                                         return out;
                                     }};

const Function hmac_sha256_digest_fn{"hmac_sha256_digest",
                                     "Computes a keyed hash over a message.\n\n"
                                     "This is the primitive a host uses to authenticate a pairing exchange or a\n"
                                     "single command, where a whole session would be more than the job needs.",
                                     {"key", "message"},
                                     [](ByteView key, ByteView message) {
                                         const auto mac = crypto::hmac_sha256(key, message);
                                         return bytes_of(mac);
                                     }};

}  // namespace
}  // namespace trovik::py
