#pragma once
// Arguments that may come in one of several forms, and the payload argument
// (text or bytes) that most messaging calls take.
#include <initializer_list>
#include <optional>
#include <string>

#include "binding/convert.hpp"

namespace trovik::py {

// The pending exception as "TypeName: message", cleared.
std::string take_pending_reason();

// Raises "failed to extract enum {type} ('{A | B}')" with one line per form
// and the reason that form failed.
[[noreturn]] void raise_no_form(const char* type, std::initializer_list<const char*> forms,
                                std::initializer_list<std::string> reasons);

// A payload: a `str` (its UTF-8 bytes) or a byte string.
struct Payload {
    ByteView bytes;
};

template <>
struct Caster<Payload> {
    std::optional<ByteArg> bytes;
    Payload v;
    explicit Caster(PyObject* o);
    Payload get() const { return v; }
};

}  // namespace trovik::py
