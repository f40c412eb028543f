#include "binding/registry.hpp"

#include <string>
#include <vector>

namespace trovik::py {
namespace {

struct Maker {
    EntryMaker make;
    const void* context;
};

// Filled while the module's sources are initialised, before any start-up.
struct Contributions {
    std::vector<Contribution> entries;
    std::vector<Maker> makers;  // beside `entries`
    std::vector<SourceFile> files;
};

Contributions& contributions() {
    static Contributions all;
    return all;
}

int add_entry(PyObject* module, PyObject* all, std::string_view name, const Maker& maker) {
    PyObject* value = maker.make(module, maker.context);
    if (!value) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        return -1;
    }
    PyObject* key = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    int rc = key ? PyList_Append(all, key) : -1;
    if (rc == 0) rc = PyObject_SetAttr(module, key, value);
    Py_XDECREF(key);
    Py_DECREF(value);
    return rc;
}

}  // namespace

BindingSource::BindingSource(std::string_view name, std::source_location where) {
    contributions().files.push_back(SourceFile{where.file_name(), name});
}

void contribute(std::string_view name, EntryMaker make, const void* context, std::source_location where) {
    Contributions& all = contributions();
    all.entries.push_back(Contribution{name, {}, where.file_name()});
    all.makers.push_back(Maker{make, context});
}

void contribute_as(std::string_view source, std::string_view name, EntryMaker make, const void* context) {
    Contributions& all = contributions();
    all.entries.push_back(Contribution{name, source, {}});
    all.makers.push_back(Maker{make, context});
}

int populate(PyObject* module, std::span<const OrderEntry> order) {
    const Contributions& contributed = contributions();
    Placement placement = place(order, contributed.entries, contributed.files);
    if (!placement.problems.empty()) {
        std::string text;
        for (const std::string& p : placement.problems) {
            if (!text.empty()) text += '\n';
            text += p;
        }
        PyErr_SetString(PyExc_ImportError, text.c_str());
        return -1;
    }
    PyObject* all = nullptr;  // created by the first addition
    int rc = 0;
    for (std::size_t i = 0; i < order.size() && rc == 0; ++i) {
        const std::optional<std::size_t>& c = placement.filled_by[i];
        if (!c) continue;  // an area not built into this module
        if (!all) {
            all = PyList_New(0);
            if (!all || PyModule_AddObjectRef(module, "__all__", all) < 0) {
                Py_XDECREF(all);
                return -1;
            }
        }
        rc = add_entry(module, all, order[i].name, contributed.makers[*c]);
    }
    Py_XDECREF(all);
    return rc;
}

}  // namespace trovik::py
