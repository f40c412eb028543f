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

std::string take_form_reason(std::string_view type, std::string_view form) {
    std::string out = "TypeError: failed to extract field ";
    out += type;
    out += "::";
    out += form;
    out += ".0, caused by ";
    out += take_pending_reason();
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

}  // namespace trovik::py
