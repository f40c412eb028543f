#include "shared/payload.hpp"

#include <string>
#include <string_view>

#include "binding/forms.hpp"

namespace trovik::py {
Caster<Payload>::Caster(PyObject* o) {
    if (PyUnicode_Check(o)) {
        std::string_view text = to_text(o);
        v.view_ = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        v.text_ = true;
        return;
    }
    try {
        v.bytes_ = ByteArg(o);
        v.view_ = v.bytes_.view();
        return;
    } catch (const PendingError&) {
    }
    std::string bytes_reason = take_form_reason("Payload", "Bytes");
    try {
        to_text(o);  // fails: only to state why, in the interpreter's words
    } catch (const PendingError&) {
    }
    std::string text_reason = take_form_reason("Payload", "Text");
    raise_no_form("Payload", {"Text", "Bytes"}, {text_reason, bytes_reason});
}

}  // namespace trovik::py
