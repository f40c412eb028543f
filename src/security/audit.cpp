// The audit log: signed, hash-chained entries and their verification.
#include <vector>

#include "binding/binding.hpp"
#include "security/args.hpp"
#include "trovik/audit/log.hpp"

namespace trovik::py {

const BindingSource this_source{"audit"};

namespace {

using audit::AuditLog;
using audit::Entry;
using audit::Verifier;
using security::DeviceIdentity;
using security::PublicIdentity;

Class<Entry> entry_class{
    "AuditEntry", "One signed record, chained onto the one before it.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.def_static("from_bytes", "Reads an entry back from the bytes it was written as.", {"data"},
                     [](ByteView data) { return make(unwrap(Entry::from_bytes(data))); });
        c.def("to_bytes", "Encodes this entry for storage or transmission.",
              [](const Entry& self) { return self.to_bytes(); });
        c.prop("index", "The position of this entry in its chain.", [](const Entry& self) { return self.index; });
        c.prop("previous", "The hash of the entry before this one, all zeroes for the first.",
               [](const Entry& self) { return bytes_of(self.previous); });
        c.prop("signature", "The signature over this entry.",
               [](const Entry& self) { return bytes_of(self.signature.to_bytes()); });
        c.prop("payload", "The record this entry carries.", [](const Entry& self) { return bytes_of(self.payload); });
        c.prop("digest", "The hash of this entry, which the next one chains onto.",
               [](const Entry& self) { return bytes_of(self.digest()); });
    }};

Class<AuditLog> log_class{
    "AuditLog", "A log that signs what it is given and chains it onto what came before.", [](auto& c) {
        c.init({"identity"}, [](In<DeviceIdentity> identity) { return AuditLog(*identity); });
        c.def("append", "Appends a payload, signing it and chaining it onto the last entry.", {"payload"},
              [](AuditLog& self, ByteView payload) { return make(self.append(payload)); });
        c.def_static("resume",
                     "Creates a log that carries on from the last entry an earlier one wrote.\n\n"
                     "This is what a device does after a restart: the chain continues at the\n"
                     "next index and hashes onto the entry it left off at.",
                     {"identity", "last"}, [](In<DeviceIdentity> identity, In<Entry> last) {
                         return make(AuditLog::resume(*identity, *last));
                     });
    }};

Class<Verifier> verifier_class{
    "AuditVerifier", "Checks a chain one entry at a time, in the order the entries were written.", [](auto& c) {
        c.init({"public_key"}, "Creates a verifier for a chain signed by a 32-byte public key.",
               [](ByteView public_key) { return Verifier(read_public_key(public_key)); });
        c.def("check",
              "Checks the next entry, returning whether it belongs where it was offered.\n\n"
              "Feeding entries out of order, skipping one, or repeating one is refused\n"
              "just as an altered payload is.",
              {"entry"}, [](Verifier& self, In<Entry> entry) { return self.check(*entry).has_value(); });
    }};

// The entries, each held by a reference of its own while the chain is
// checked: a sequence may hand out objects that nothing else keeps alive.
struct HeldEntries {
    std::vector<Ref> refs;
    std::vector<const Entry*> entries;
};

HeldEntries hold_entries(PyObject* sequence) {
    try {
        HeldEntries held;
        const Py_ssize_t n = sequence_length(sequence);
        for (Py_ssize_t i = 0; i < n; ++i) {
            Ref item(check(PySequence_GetItem(sequence, i)));
            held.entries.push_back(&Class<Entry>::value_of(item.get()));
            held.refs.push_back(std::move(item));
        }
        return held;
    } catch (const PendingError&) {
        note_processing("entries");
        throw;
    }
}

const Function verify_audit_chain_fn{"verify_audit_chain",
                                     "Checks a whole chain that has already arrived.\n\n"
                                     "Raises with the reason if any entry fails to follow the one before it or\n"
                                     "carries a signature that does not hold.",
                                     {"public_key", "entries"},
                                     [](ByteView public_key, PyObject* entries) {
                                         const HeldEntries held = hold_entries(entries);
                                         // What verify_chain does, over entries that live in Python objects.
                                         Verifier verifier(read_public_key(public_key));
                                         for (const Entry* entry : held.entries)
                                             unwrap(verifier.check(*entry));
                                     }};

}  // namespace
}  // namespace trovik::py
