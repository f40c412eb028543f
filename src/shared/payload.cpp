#include "shared/payload.hpp"

#include <string>
#include <string_view>

#include "binding/forms.hpp"

namespace trovik::py {
namespace {

// "TypeError: failed to extract field Payload::Text.0, caused by TypeError: ..."
std::string field_reason(const char* field) {
    std::string cause = take_pending_reason();
    return std::string("TypeError: failed to extract field Payload::") + field + ".0, caused by " + cause;
}

}  // namespace

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
    std::string bytes_reason = field_reason("Bytes");
    try {
        to_text(o);  // fails: only to state why, in the interpreter's words
    } catch (const PendingError&) {
    }
    std::string text_reason = field_reason("Text");
    raise_no_form("Payload", {"Text", "Bytes"}, {text_reason, bytes_reason});
}

}  // namespace trovik::py
