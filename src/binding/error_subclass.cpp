#include "binding/error_subclass.hpp"

#include <cstring>
#include <stdexcept>

#include "binding/errors.hpp"
#include "binding/registry.hpp"

namespace trovik::py {
namespace {

PyObject* make_type(PyObject*, const void* context) {
    PyObject* t = static_cast<const ErrorSubclass*>(context)->type();
    Py_XINCREF(t);
    return t;
}

bool is_snake_case(std::string_view kind) {
    if (kind.empty() || kind.front() < 'a' || kind.front() > 'z') return false;
    for (char c : kind) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    }
    return true;
}

void set_attribute(PyObject* instance, const char* name, PyObject* value) {
    if (PyObject_SetAttrString(instance, name, value) < 0) throw PendingError{};
}

}  // namespace

ErrorSubclass::ErrorSubclass(const char* name, const char* doc, std::initializer_list<const char*> attributes)
    : qualified_name_(std::string("trovik.") + name), doc_(doc), attributes_(attributes) {
    contribute_as("exception", name, &make_type, this);
}

PyObject* ErrorSubclass::type() const {
    if (!type_) {
        PyObject* base = trovik_error_type();
        if (!base) return nullptr;
        type_ = new_exception_type(qualified_name_.c_str(), doc_, base);
    }
    return type_;
}

PyObject* ErrorSubclass::instance(std::string_view kind, std::string_view message,
                                  std::initializer_list<Detail> details) const {
    if (!is_snake_case(kind))
        throw std::logic_error(qualified_name_ + ": kind '" + std::string(kind) + "' is not snake_case");
    for (const Detail& d : details) {
        bool declared = false;
        for (const char* a : attributes_)
            declared = declared || std::strcmp(a, d.name) == 0;
        if (!declared) throw std::logic_error(qualified_name_ + " has no attribute '" + d.name + "'");
    }
    PyObject* t = type();
    if (!t) throw PendingError{};
    Ref text(check(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()))));
    Ref instance(check(PyObject_CallFunctionObjArgs(t, text.get(), nullptr)));
    Ref kind_text(check(PyUnicode_FromStringAndSize(kind.data(), static_cast<Py_ssize_t>(kind.size()))));
    set_attribute(instance.get(), "kind", kind_text.get());
    for (const char* a : attributes_) {
        PyObject* value = Py_None;
        for (const Detail& d : details) {
            if (std::strcmp(a, d.name) == 0) value = d.value.get();
        }
        set_attribute(instance.get(), a, value);
    }
    return instance.release();
}

void ErrorSubclass::raise(std::string_view kind, std::string_view message,
                          std::initializer_list<Detail> details) const {
    Ref exc(instance(kind, message, details));
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    throw PendingError{};
}

}  // namespace trovik::py
