#pragma once
// Simulated I2C parts between Python objects and library parts. A Python
// part is always a value of its own: putting it on a bus copies it in, and
// asking a bus for a part copies it out into a new object.
#include <cstdint>

#include "binding/convert.hpp"
#include "trovik/hal/parts.hpp"

namespace trovik::py {

// An `I2cPart`, `WordPart` or `CommandPart` argument, copied as it is now.
struct AnyPart {
    hal::sim::Part part;
};
template <>
struct Caster<AnyPart> {
    explicit Caster(PyObject* o);
    AnyPart get() && { return {std::move(v)}; }
    hal::sim::Part v;
};

// A new Python object of the part's own class holding a copy of it.
PyObject* held_part(const hal::sim::Part& part);

// The most bytes one I2C message carries: its length field is 16 bits. A
// length from Python beyond this is refused with `ValueError` before
// anything is allocated for it.
inline constexpr std::uint64_t kMaxTransferLen = 0xFFFF;
std::size_t checked_length(std::uint64_t length);

}  // namespace trovik::py
