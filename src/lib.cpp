// The module frame: the module definition, its one execution step, the
// exception types and constants, and `version`.
#include <cstdint>
#include <string_view>

#include "binding/binding.hpp"

#ifndef TROVIK_VERSION
#error "TROVIK_VERSION comes from the project's version in CMakeLists.txt"
#endif

namespace trovik::py {

extern PyObject* class_module_name;

namespace {

const BindingSource this_source{"lib"};

// The registration order of every name the module can hold.
constexpr OrderEntry kOrder[] = {
#include "registration_order.inc"
};

const Function version_fn{"version", "Returns the version of the native trovik module.", {}, []() -> PyObject* {
                              static PyObject* text =
                                  check(PyUnicode_FromString(TROVIK_VERSION));  // kept for the process
                              Py_INCREF(text);
                              return text;
                          }};

// ---- exceptions ----------------------------------------------------------------
PyObject* make_exception(PyObject*, const void* context) {
    auto type = reinterpret_cast<PyObject* (*)()>(const_cast<void*>(context));
    PyObject* t = type();
    Py_XINCREF(t);
    return t;
}

const bool trovik_error_contributed = [] {
    contribute_as("exception", "TrovikError", &make_exception, reinterpret_cast<const void*>(&trovik_error_type));
    return true;
}();

// ---- constants -----------------------------------------------------------------
struct Constant {
    const char* source;  // "constant" alone in its place in the order, "constants" in a group
    const char* name;
    std::uint64_t number;
    const char* text;  // set for the one text constant
};

constexpr Constant kConstants[] = {
    {"constants", "I2C_RESERVED_FROM", 120, nullptr},
    {"constants", "I2C_RESERVED_BELOW", 8, nullptr},
    {"constant", "CHIRPSTACK_UPLINK_TOPIC", 0, "application/+/device/+/event/up"},
    {"constant", "LORAWAN_SAVED_LEN", 1678, nullptr},
    {"constants", "LORAWAN_LA_FPORT_RELAY", 226, nullptr},
    {"constants", "LORAWAN_TRUSTED_ED_NUMBER", 16, nullptr},
    {"constants", "LORAWAN_WOR_ATTEMPTS_WO_ACK", 8, nullptr},
    {"constants", "LORAWAN_WOR_DATA_DELAY_US", 50000, nullptr},
    {"constants", "LORAWAN_WOR_ACK_DELAY_US", 50000, nullptr},
    {"constants", "LORAWAN_RELAY_FWD_DELAY_US", 50000, nullptr},
    {"constants", "LORAWAN_RXR_DELAY_US", 18000000, nullptr},
    {"constants", "LORAWAN_FORWARD_OVERHEAD", 6, nullptr},
    {"constants", "LORAWAN_MIN_WOR_PREAMBLE_SYMBOLS", 8, nullptr},
    {"constants", "LORAWAN_RECEIVE_DELAY1_US", 1000000, nullptr},
    {"constants", "LORAWAN_RECEIVE_DELAY2_US", 2000000, nullptr},
    {"constants", "LORAWAN_JOIN_ACCEPT_DELAY1_US", 5000000, nullptr},
    {"constants", "LORAWAN_JOIN_ACCEPT_DELAY2_US", 6000000, nullptr},
    {"constants", "LORAWAN_RECEIVE_WINDOW_TOLERANCE_US", 20, nullptr},
    {"constants", "LORAWAN_MAX_FCNT_GAP", 16384, nullptr},
    {"constants", "LORAWAN_ADR_ACK_LIMIT", 64, nullptr},
    {"constants", "LORAWAN_ADR_ACK_DELAY", 32, nullptr},
    {"constants", "LORAWAN_RETRANSMIT_TIMEOUT_MIN_US", 1000000, nullptr},
    {"constants", "LORAWAN_RETRANSMIT_TIMEOUT_MAX_US", 3000000, nullptr},
    {"constants", "LORAWAN_CLOCK_PORT", 202, nullptr},
    {"constants", "LORAWAN_FRAGMENT_PORT", 201, nullptr},
    {"constants", "LORAWAN_MULTICAST_PORT", 200, nullptr},
    {"constants", "LORAWAN_FIRMWARE_PORT", 203, nullptr},
    {"constants", "LORAWAN_MAX_FRAGMENTS", 16383, nullptr},
};

PyObject* make_constant(PyObject*, const void* context) {
    auto* c = static_cast<const Constant*>(context);
    if (c->text) return PyUnicode_FromString(c->text);
    return PyLong_FromUnsignedLongLong(c->number);
}

const bool constants_contributed = [] {
    for (const Constant& c : kConstants)
        contribute_as(c.source, c.name, &make_constant, &c);
    return true;
}();

// ---- the execution step --------------------------------------------------------
int exec_module(PyObject* module) {
    if (!module) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        return -1;
    }
    if (!PyModule_Check(module)) {
        raise_not_instance(module, "module");
    }
    PyObject* name = PyModule_GetNameObject(module);
    if (!name) return -1;
    Py_XDECREF(class_module_name);
    class_module_name = name;
    return populate(module, kOrder);
}

int exec_guarded(PyObject* module) {
    PyObject* r = guarded([&]() -> PyObject* { return exec_module(module) == 0 ? Py_None : nullptr; });
    return r ? 0 : -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_guarded)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "The generated low-level Python surface for the trovik core.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace trovik::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__native() {
    return PyModuleDef_Init(&trovik::py::module_def);
}
