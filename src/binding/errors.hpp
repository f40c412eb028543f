#pragma once
// Raising Python exceptions from binding code, and the module's own
// exception types.
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

// Exception types, created once per process on first use.
PyObject* trovik_error_type();
PyObject* fault_type();  // internal faults; derives from BaseException
PyObject* panic_type();  // faults inside runtime tasks; derives from Exception
// The subclasses of TrovikError with their `kind` attributes.
PyObject* modbus_client_error_type();
PyObject* lorawan_device_error_type();
PyObject* lorawan_relay_error_type();

// Sets the fault exception for a C++ exception that escaped a call.
void set_fault(std::string_view what);

// "'{}' object is not an instance of '{}'".
[[noreturn]] void raise_not_instance(PyObject* obj, std::string_view expected);
std::string type_name(PyObject* obj);

// Adds "while processing '{name}'" to the pending exception, where the
// interpreter supports exception notes.
void note_processing(const char* name);

}  // namespace trovik::py
