#include "binding/class.hpp"

#include <string>

namespace trovik::py {

// The module name classes report as their __module__, set at start-up.
PyObject* class_module_name = nullptr;

SharedBorrow::SharedBorrow(PyObject* self, bool checked)
    : inst_(checked ? reinterpret_cast<InstanceBase*>(self) : nullptr) {
    if (!inst_) return;
    if (inst_->borrow < 0) {
        inst_ = nullptr;
        raise_runtime_error("Already mutably borrowed");
    }
    ++inst_->borrow;
}
SharedBorrow::~SharedBorrow() {
    if (inst_) --inst_->borrow;
}

ExclusiveBorrow::ExclusiveBorrow(PyObject* self, bool checked)
    : inst_(checked ? reinterpret_cast<InstanceBase*>(self) : nullptr) {
    if (!inst_) return;
    if (inst_->borrow != 0) {
        inst_ = nullptr;
        raise_runtime_error("Already borrowed");
    }
    inst_->borrow = -1;
}
ExclusiveBorrow::~ExclusiveBorrow() {
    if (inst_) inst_->borrow = 0;
}

ClassBase::ClassBase(const char* name, const char* doc, std::size_t basicsize, destructor dealloc,
                     std::source_location where)
    : name_(name), doc_(doc), basicsize_(basicsize) {
    slots_.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc)});
    contribute(name, &ClassBase::make, this, where);
}

void ClassBase::add_method(const char* name, PyCFunction fn, int flags, const char* doc) {
    methods_.push_back(PyMethodDef{name, fn, flags, doc});
}

void ClassBase::add_getter(const char* name, getter get, const char* doc) {
    getters_.push_back(PyGetSetDef{name, get, nullptr, doc, nullptr});
}

void ClassBase::add_getter(const char* name, getter get, setter set, const char* doc, void* closure) {
    getters_.push_back(PyGetSetDef{name, get, set, doc, closure});
}

void ClassBase::add_slot(int slot, void* fn) { slots_.push_back(PyType_Slot{slot, fn}); }

PyTypeObject* ClassBase::type() {
    if (type_) return type_;
    std::vector<PyType_Slot> slots = slots_;
    if (!methods_.empty()) {
        methods_.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
        slots.push_back({Py_tp_methods, methods_.data()});
    }
    if (!getters_.empty()) {
        getters_.push_back(PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr});
        slots.push_back({Py_tp_getset, getters_.data()});
    }
    slots.push_back({Py_tp_doc, const_cast<char*>(doc_)});
    slots.push_back({0, nullptr});
    unsigned flags = Py_TPFLAGS_DEFAULT;
    if (!has_init_) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
    // The dotted name gives the type its __module__; __name__ stays the bare
    // class name.
    std::string qualified;
    if (class_module_name) {
        if (const char* module = PyUnicode_AsUTF8AndSize(class_module_name, nullptr)) qualified = module;
        PyErr_Clear();
    }
    qualified_name_ = qualified.empty() ? std::string(name_) : qualified + "." + name_;
    PyType_Spec spec{qualified_name_.c_str(), static_cast<int>(basicsize_), 0, flags, slots.data()};
    PyObject* type = PyType_FromSpec(&spec);
    if (!type) return nullptr;
    type_ = reinterpret_cast<PyTypeObject*>(type);  // kept for the life of the process
    return type_;
}

PyObject* ClassBase::make(PyObject*, const void* self) {
    auto* cls = static_cast<ClassBase*>(const_cast<void*>(self));
    PyTypeObject* t = cls->type();
    if (!t) return nullptr;
    Py_INCREF(t);
    return reinterpret_cast<PyObject*>(t);
}

InstanceBase* ClassBase::instance_of(PyObject* o) {
    PyTypeObject* t = type();
    if (!t) throw PendingError{};
    if (!PyObject_TypeCheck(o, t)) raise_not_instance(o, name_);
    return reinterpret_cast<InstanceBase*>(o);
}

PyObject* alloc_instance(PyTypeObject* type) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (!self) return nullptr;
    auto* inst = reinterpret_cast<InstanceBase*>(self);
    inst->borrow = 0;
    inst->alive = false;
    return self;
}

void free_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(self);
    Py_DECREF(type);
}

}  // namespace trovik::py
