// MAVLink 2 message signing and verification.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "mavlink/mavlink.hpp"
#include "trovik/mavlink/signing.hpp"

namespace trovik::py {

const BindingSource this_source{"mavlink"};

namespace {

using mavlink::Frame;
using mavlink::Header;
using mavlink::Signer;
using mavlink::Verifier;

struct SignerValue {
    std::unique_ptr<Guarded<Signer>> cell;
};
struct VerifierValue {
    std::unique_ptr<Guarded<Verifier>> cell;
};

mavlink::SigningKey key_of(ByteView key) {
    mavlink::SigningKey out;
    if (key.size() != out.size()) raise_value_error("a signing key is 32 bytes");
    std::copy(key.begin(), key.end(), out.begin());
    return out;
}

Class<SignerValue> signer_class{
    "MavlinkSigner", "A signing key and the monotonic timestamp that goes with it.", [](auto& c) {
        c.no_borrow();  // the signer sits behind a mutex of its own
        c.init(
            {"key", arg("link_id").def(0), arg("timestamp").def(0)},
            "Creates a signer from a 32-byte key, the link id its frames carry, and the\n"
            "first timestamp to sign with. Each signed frame advances the timestamp by\n"
            "one, which is what makes a replayed frame detectable; the link id separates\n"
            "two links from one system, so that traffic on one does not look like a replay\n"
            "of the other. Timestamps count 10 microseconds since 2015 and travel in 48\n"
            "bits: `mavlink_timestamp_from_unix_micros` gives the one for a wall-clock time.",
            [](ByteView key, std::uint8_t link_id, std::uint64_t timestamp) {
                const mavlink::SigningKey k = key_of(key);
                // A timestamp past 48 bits would go out cut short, and every
                // peer would take the frames for replays.
                if (timestamp > mavlink::kMaxTimestamp)
                    raise_value_error("signing timestamp " + std::to_string(timestamp) +
                                      " is above the 48-bit limit of " + std::to_string(mavlink::kMaxTimestamp));
                return SignerValue{std::make_unique<Guarded<Signer>>("the signer is poisoned", k, link_id, timestamp)};
            });
        c.def("sign",
              "Assembles and signs one MAVLink 2 frame with the next timestamp.\n\n"
              "The payload goes out without its trailing zeros, as in `MavlinkFrame.encode_v2`.",
              {"header", "msgid", "payload", "crc_extra"},
              [](const SignerValue& self, In<Header> header, std::uint32_t msgid, ByteView payload,
                 std::uint8_t crc_extra) {
                  auto frame = self.cell->with([&](Signer& s) { return s.sign(*header, msgid, payload, crc_extra); });
                  return make(unwrap_mavlink(std::move(frame)));
              });
        c.prop("link_id", "The link id the signer's frames carry.",
               [](const SignerValue& self) { return self.cell->with([](Signer& s) { return s.link_id(); }); });
    }};

Class<VerifierValue> verifier_class{
    "MavlinkVerifier", "A signing key and the timestamps it has already accepted.", [](auto& c) {
        c.no_borrow();  // the verifier sits behind a mutex of its own
        c.init({"key"},
               "Creates a verifier from a 32-byte key. It accepts a signed frame whose\n"
               "signature holds and whose timestamp moves its stream (system, component and\n"
               "link id) forward; a stream it has not seen may start at most `window`\n"
               "(6,000,000, a minute of signing time, until `set_window`) behind the newest\n"
               "timestamp it accepted.",
               [](ByteView key) {
                   return VerifierValue{std::make_unique<Guarded<Verifier>>("the verifier is poisoned", key_of(key))};
               });
        c.def("verify", "Checks a frame's signature and timestamp; raises when it is not accepted.", {"frame"},
              [](const VerifierValue& self, In<Frame> frame) {
                  auto verdict = self.cell->with([&](Verifier& v) { return v.verify(*frame); });
                  unwrap_mavlink(std::move(verdict));
              });
        c.def("set_window", "Sets how far behind the newest timestamp a stream not seen before may start.", {"window"},
              [](const VerifierValue& self, std::uint64_t window) {
                  self.cell->with([&](Verifier& v) { v.set_window(window); });
              });
    }};

const Function timestamp_fn{"mavlink_timestamp_from_unix_micros",
                            "The signing timestamp of a Unix time in microseconds: 10-microsecond units\n"
                            "since 2015-01-01 00:00:00 UTC, 0 for any time before.",
                            {"unix_micros"},
                            [](std::uint64_t unix_micros) { return mavlink::timestamp_from_unix_micros(unix_micros); }};

}  // namespace
}  // namespace trovik::py
