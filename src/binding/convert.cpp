#include "binding/convert.hpp"

#include <string>

namespace trovik::py {
namespace {

constexpr const char* kOutOfRange = "out of range integral type conversion attempted";

bool is_numpy_bool(PyObject* o) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
    PyObject* module = PyObject_GetAttrString(type, "__module__");
    if (!module) {
        PyErr_Clear();
        return false;
    }
    bool numpy = PyUnicode_Check(module) && PyUnicode_CompareWithASCIIString(module, "numpy") == 0;
    Py_DECREF(module);
    if (!numpy) return false;
    std::string name = type_name(o);
    return name == "bool_" || name == "bool";
}

}  // namespace

long long int_in_range(PyObject* o, long long lo, long long hi) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (v == -1 && PyErr_Occurred()) throw PendingError{};
    if (overflow != 0 || v < lo || v > hi) raise_overflow_error(kOutOfRange);
    return v;
}

std::uint64_t to_u64(PyObject* o) {
    Ref index(check(PyNumber_Index(o)));
    unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PendingError{};
    return v;
}

std::int64_t to_i64(PyObject* o) {
    long long v = PyLong_AsLongLong(o);
    if (v == -1 && PyErr_Occurred()) throw PendingError{};
    return v;
}

WideInt to_wide_int(PyObject* o) {
    Ref index(check(PyNumber_Index(o)));
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) throw PendingError{};
    if (overflow == 0) return {v < 0, static_cast<std::uint64_t>(v)};
    if (overflow < 0) raise_overflow_error(kOutOfRange);
    const unsigned long long u = PyLong_AsUnsignedLongLong(index.get());
    if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        raise_overflow_error(kOutOfRange);
    }
    return {false, u};
}

double to_double(PyObject* o) {
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw PendingError{};
    return v;
}

bool to_bool(PyObject* o) {
    if (o == Py_True) return true;
    if (o == Py_False) return false;
    if (is_numpy_bool(o)) {
        int truth = PyObject_IsTrue(o);
        if (truth < 0) throw PendingError{};
        return truth != 0;
    }
    raise_not_instance(o, "bool");
}

std::string_view to_text(PyObject* o) {
    if (!PyUnicode_Check(o)) raise_not_instance(o, "str");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(o, &size);
    if (!data) throw PendingError{};
    return {data, static_cast<std::size_t>(size)};
}

Py_ssize_t sequence_length(PyObject* o) {
    if (PyUnicode_Check(o)) raise_type_error("a str is not accepted where a sequence is expected");
    if (!PySequence_Check(o)) raise_not_instance(o, "Sequence");
    Py_ssize_t n = PySequence_Size(o);
    if (n < 0) throw PendingError{};
    return n;
}

namespace {

// Fills `out` from any sequence of integers 0..255; raises the binding text
// when given `str` or a non-sequence.
void bytes_from_sequence(PyObject* o, std::vector<std::uint8_t>& out) {
    if (PyUnicode_Check(o)) raise_type_error("a str is not accepted as bytes; encode it first");
    Py_ssize_t n = sequence_length(o);
    out.resize(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref item(check(PySequence_GetItem(o, i)));
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(int_in_range(item.get(), 0, 255));
    }
}

}  // namespace

ByteArg::ByteArg(PyObject* o) {
    if (PyBytes_Check(o)) {
        char* data = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(o, &data, &size) < 0) throw PendingError{};
        view_ = {reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
        return;
    }
    if (PyByteArray_Check(o)) {
        const char* data = PyByteArray_AsString(o);
        auto size = static_cast<std::size_t>(PyByteArray_Size(o));
        owned_.assign(data, data + size);
    } else {
        bytes_from_sequence(o, owned_);
    }
    view_ = owned_;
}

PyObject* none() {
    Py_INCREF(Py_None);
    return Py_None;
}
PyObject* to_py(bool v) { return check(PyBool_FromLong(v ? 1 : 0)); }
PyObject* to_py(long long v) { return check(PyLong_FromLongLong(v)); }
PyObject* to_py(unsigned long long v) { return check(PyLong_FromUnsignedLongLong(v)); }
PyObject* to_py(unsigned __int128 v) {
    if (v <= UINT64_MAX) return to_py(static_cast<unsigned long long>(v));
    Ref high(check(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(v >> 64))));
    Ref bits(check(PyLong_FromLong(64)));
    Ref shifted(check(PyNumber_Lshift(high.get(), bits.get())));
    Ref low(check(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(v))));
    return check(PyNumber_Or(shifted.get(), low.get()));
}
PyObject* to_py(double v) { return check(PyFloat_FromDouble(v)); }
PyObject* to_py(std::string_view v) {
    return check(PyUnicode_FromStringAndSize(v.data(), static_cast<Py_ssize_t>(v.size())));
}
PyObject* to_py(std::span<const std::uint8_t> v) {
    return check(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(v.data()), static_cast<Py_ssize_t>(v.size())));
}

}  // namespace trovik::py
