#include "binding/forms.hpp"

namespace trovik::py {

std::string take_pending_reason() {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    std::string out = value ? type_name(value) : "Exception";
    if (value) {
        if (PyObject* s = PyObject_Str(value)) {
            if (const char* text = PyUnicode_AsUTF8AndSize(s, nullptr)) {
                out += ": ";
                out += text;
            }
            Py_DECREF(s);
        }
    }
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(tb);
    PyErr_Clear();
    return out;
}

void raise_no_form(const char* type, std::initializer_list<const char*> forms,
                   std::initializer_list<std::string> reasons) {
    std::string m = "failed to extract enum ";
    m += type;
    m += " ('";
    bool first = true;
    for (const char* f : forms) {
        if (!first) m += " | ";
        m += f;
        first = false;
    }
    m += "')";
    auto reason = reasons.begin();
    for (const char* f : forms) {
        m += "\n- variant ";
        m += f;
        m += " (";
        m += f;
        m += "): ";
        m += reason != reasons.end() ? *reason++ : std::string();
    }
    raise_type_error(m);
}

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
        v.bytes = ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        return;
    }
    try {
        bytes.emplace(o);
        v.bytes = bytes->view();
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
