#pragma once
// Raising Python exceptions from binding code, and the module's own
// exception types.
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "binding/python.hpp"

namespace trovik::py {

// Thrown through binding code once a Python exception is pending; the call
// boundary turns it back into a NULL return.
struct PendingError {};

[[noreturn]] void raise(PyObject* type, std::string_view message);
[[noreturn]] void raise_type_error(std::string_view message);
[[noreturn]] void raise_value_error(std::string_view message);
[[noreturn]] void raise_runtime_error(std::string_view message);
[[noreturn]] void raise_overflow_error(std::string_view message);
[[noreturn]] void raise_trovik(std::string_view message);
// A NULL from the C API means an exception is pending.
inline PyObject* check(PyObject* result) {
    if (!result) throw PendingError{};
    return result;
}

// Makes a value that takes all its memory at once (a table of a caller-given
// capacity). A capacity past what any allocation can hold is a MemoryError
// with the component's own text; memory that cannot be had now is a plain
// MemoryError.
template <class Make>
auto allocating(Make&& make) -> decltype(make()) {
    try {
        return make();
    } catch (const std::length_error& e) {
        raise(PyExc_MemoryError, e.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        throw PendingError{};
    }
}

// Exception types, created once per process on first use. The subclasses of
// TrovikError that carry a `kind` are declared with `ErrorSubclass`.
PyObject* trovik_error_type();
PyObject* fault_type();  // internal faults; derives from BaseException
PyObject* panic_type();  // faults inside runtime tasks; derives from Exception

// A new exception type from its qualified name ("trovik.Name"), docstring and
// base alone. NULL with the fault exception set if the interpreter refuses,
// its reason after "Failed to initialize new exception type.".
PyObject* new_exception_type(const char* qualified_name, const char* doc, PyObject* base);

// Sets the fault exception for a C++ exception that escaped a call.
void set_fault(std::string_view what);

// "'{}' object is not an instance of '{}'".
[[noreturn]] void raise_not_instance(PyObject* obj, std::string_view expected);
std::string type_name(PyObject* obj);

// Adds "while processing '{name}'" to the pending exception, where the
// interpreter supports exception notes.
void note_processing(const char* name);

}  // namespace trovik::py
