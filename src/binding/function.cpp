#include "binding/function.hpp"

#include <deque>
#include <string>

namespace trovik::py {

PyObject* Function::make(PyObject* module, const void* self) {
    auto* fn = static_cast<const Function*>(self);
    PyObject* module_name = PyModule_GetNameObject(module);
    if (!module_name) return nullptr;
    PyObject* f = PyCFunction_NewEx(const_cast<PyMethodDef*>(&fn->def_), module, module_name);
    Py_DECREF(module_name);
    return f;
}

const char* make_doc(const Signature& sig, const char* shown_name, const char* doc) {
    // Docstrings live as long as the functions and types that point at them.
    static std::deque<std::string> docs;
    docs.push_back(sig.header(shown_name) + doc);
    return docs.back().c_str();
}

const char* plain_doc(const char* doc) { return doc; }

}  // namespace trovik::py
