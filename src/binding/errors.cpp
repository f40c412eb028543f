#include "binding/errors.hpp"

#include <string>

namespace trovik::py {

PyObject* new_exception_type(const char* qualified, const char* doc, PyObject* base) {
    PyObject* type = PyErr_NewExceptionWithDoc(qualified, doc, base, nullptr);
    if (!type) {
        // The interpreter's reason goes after our own sentence.
        PyObject *t, *v, *tb;
        PyErr_Fetch(&t, &v, &tb);
        std::string message = "Failed to initialize new exception type.";
        if (v) {
            if (PyObject* s = PyObject_Str(v)) {
                if (const char* text = PyUnicode_AsUTF8AndSize(s, nullptr)) {
                    message += " ";
                    message += text;
                }
                Py_DECREF(s);
            }
        }
        Py_XDECREF(t);
        Py_XDECREF(v);
        Py_XDECREF(tb);
        PyErr_Clear();
        set_fault(message);
        return nullptr;
    }
    return type;
}

PyObject* fault_type() {
    static PyObject* type = nullptr;
    if (!type) {
        type = PyErr_NewExceptionWithDoc("trovik.InternalFault",
                                         "Raised when trovik meets a broken internal invariant. It derives from\n"
                                         "BaseException so that `except Exception` does not swallow it.",
                                         PyExc_BaseException, nullptr);
    }
    return type;
}

PyObject* panic_type() {
    static PyObject* type = nullptr;
    if (!type) {
        type = PyErr_NewExceptionWithDoc("trovik.TaskPanic",
                                         "Raised by an awaitable whose background task hit an internal fault.",
                                         PyExc_Exception, nullptr);
    }
    return type;
}

PyObject* trovik_error_type() {
    static PyObject* type = nullptr;
    if (!type)
        type = new_exception_type("trovik.TrovikError", "Raised when a trovik operation fails.", PyExc_Exception);
    return type;
}

void raise(PyObject* type, std::string_view message) {
    if (!type) throw PendingError{};
    PyObject* text = PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()));
    if (text) {
        PyErr_SetObject(type, text);
        Py_DECREF(text);
    }
    throw PendingError{};
}

void raise_type_error(std::string_view message) { raise(PyExc_TypeError, message); }
void raise_value_error(std::string_view message) { raise(PyExc_ValueError, message); }
void raise_runtime_error(std::string_view message) { raise(PyExc_RuntimeError, message); }
void raise_overflow_error(std::string_view message) { raise(PyExc_OverflowError, message); }
void raise_trovik(std::string_view message) { raise(trovik_error_type(), message); }

void set_fault(std::string_view what) {
    PyObject* type = fault_type();
    if (!type) return;
    PyObject* text = PyUnicode_FromStringAndSize(what.data(), static_cast<Py_ssize_t>(what.size()));
    if (text) {
        PyErr_SetObject(type, text);
        Py_DECREF(text);
    }
}

std::string type_name(PyObject* obj) {
    std::string out = "?";
    PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__");
    if (name) {
        if (const char* s = PyUnicode_AsUTF8AndSize(name, nullptr)) out = s;
        Py_DECREF(name);
    }
    PyErr_Clear();
    return out;
}

void raise_not_instance(PyObject* obj, std::string_view expected) {
    std::string message = "'";
    message += type_name(obj);
    message += "' object is not an instance of '";
    message += expected;
    message += "'";
    raise_type_error(message);
}

void note_processing(const char* name) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (!type) return;
    PyErr_NormalizeException(&type, &value, &tb);
    if (value && PyObject_HasAttrString(value, "add_note")) {
        std::string note = "while processing '";
        note += name;
        note += "'";
        PyObject* r = PyObject_CallMethod(value, "add_note", "s", note.c_str());
        if (r)
            Py_DECREF(r);
        else
            PyErr_Clear();
    }
    if (tb && value) PyException_SetTraceback(value, tb);
    PyErr_Restore(type, value, tb);
}

}  // namespace trovik::py
