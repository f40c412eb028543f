#pragma once
// Module functions.
//
//     static const py::Function mesh_crc16_fn{"mesh_crc16", "Computes the CRC-16 a mesh frame carries.",
//         {"data"}, [](py::ByteView data) { return mesh::crc16(data); }};
//
// The declaration contributes the function under its name, for the binding
// source the declaring file names; start-up adds it to the module at its
// place in the registration order.
#include <source_location>
#include <utility>

#include "binding/call.hpp"
#include "binding/registry.hpp"

namespace trovik::py {

class Function {
public:
    template <class F>
    Function(const char* name, const char* doc, Params params, F,
             std::source_location where = std::source_location::current()) {
        static_assert(std::is_empty_v<F>, "module functions are captureless lambdas");
        using T = Traits<F>;
        Thunk<F>::sig() = Signature(nullptr, name, params, false);
        def_.ml_name = name;
        if constexpr (T::arity == 0) {
            def_.ml_meth = reinterpret_cast<PyCFunction>(&Thunk<F>::noargs);
            def_.ml_flags = METH_NOARGS;
        } else {
            def_.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Thunk<F>::fastcall));
            def_.ml_flags = METH_FASTCALL | METH_KEYWORDS;
        }
        def_.ml_doc = make_doc(Thunk<F>::sig(), name, doc);
        contribute(name, &Function::make, this, where);
    }
    Function(const Function&) = delete;

private:
    template <class F>
    struct Thunk {
        // A function-local static: template statics have no initialisation order.
        static Signature& sig() {
            static Signature s;
            return s;
        }
        static PyObject* noargs(PyObject*, PyObject*) {
            return guarded([] { return call_and_convert<typename Traits<F>::Ret>([] { return F{}(); }); });
        }
        static PyObject* fastcall(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
            return guarded([&] {
                constexpr std::size_t n = Traits<F>::arity;
                PyObject* slots[n];
                sig().parse(args, nargs, kwnames, slots);
                return invoke_with<typename Traits<F>::Args, 0>(sig(), slots, F{}, std::make_index_sequence<n>{});
            });
        }
    };
    static PyObject* make(PyObject* module, const void* self);

    PyMethodDef def_{};
};

}  // namespace trovik::py
