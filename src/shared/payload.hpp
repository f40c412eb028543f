#pragma once
// The payload argument most messaging calls take: text (its UTF-8 bytes) or a
// byte string.
#include <cstdint>
#include <span>
#include <vector>

#include "binding/convert.hpp"

namespace trovik::py {

// The bytes of a payload argument, borrowed from the Python object where they
// can be (a `str`, a `bytes`), owned where converting had to copy them.
class Payload {
public:
    std::span<const std::uint8_t> bytes() const noexcept { return view_; }
    // The bytes, owned: handed over when converting made a copy anyway, else
    // copied once. For a payload that outlives the call.
    std::vector<std::uint8_t> take() && {
        if (text_) return {view_.begin(), view_.end()};
        return std::move(bytes_).take();
    }

private:
    friend struct Caster<Payload>;
    ByteArg bytes_;  // a byte-string argument, borrowed or converted
    bool text_ = false;
    std::span<const std::uint8_t> view_;
};

template <>
struct Caster<Payload> {
    Payload v;
    explicit Caster(PyObject* o);
    Payload get() && { return std::move(v); }
};

}  // namespace trovik::py
