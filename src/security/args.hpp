#pragma once
// The byte shapes of the security bindings: arguments of one fixed length,
// arguments that may be None, and keys, digests and signatures handed back.
#include <cstdint>
#include <span>
#include <string>

#include "binding/call.hpp"
#include "binding/convert.hpp"
#include "binding/errors.hpp"
#include "trovik/security/identity.hpp"

namespace trovik::py {

// The length text is the same everywhere, "{name} must be exactly {N}
// bytes"; identities raise it as ValueError, the session and audit bindings
// as TrovikError.
enum class RaiseAs { ValueError, TrovikError };

template <std::size_t N>
std::span<const std::uint8_t, N> fixed(ByteView bytes, const char* name, RaiseAs raise_as) {
    if (bytes.size() != N) {
        const std::string message = std::string(name) + " must be exactly " + std::to_string(N) + " bytes";
        if (raise_as == RaiseAs::ValueError) raise_value_error(message);
        raise_trovik(message);
    }
    return std::span<const std::uint8_t, N>(bytes.data(), N);
}

// A new `bytes` holding a copy: keys, digests and signatures are fixed-size
// arrays, which have no conversion of their own.
inline PyObject* bytes_of(std::span<const std::uint8_t> bytes) { return to_py(bytes); }

// A public key argument, whatever it is called: its length raised as
// TrovikError "public_key must be exactly 32 bytes", a key that is no curve
// point as the identity's own error.
inline security::PublicIdentity read_public_key(ByteView public_key) {
    return unwrap(security::PublicIdentity::from_bytes(
        fixed<security::PublicIdentity::kSize>(public_key, "public_key", RaiseAs::TrovikError)));
}

// Bytes, with None read as no bytes at all (associated data left out).
struct OptionalBytes {
    ByteView view;
};
template <>
struct Caster<OptionalBytes> {
    ByteArg bytes;
    explicit Caster(PyObject* o) : bytes(o == Py_None ? ByteArg() : ByteArg(o)) {}
    OptionalBytes get() const { return {bytes.view()}; }
};

}  // namespace trovik::py
