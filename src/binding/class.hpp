#pragma once
// Python classes over C++ values.
//
//     static py::Class<Router> router_class{"Router", "One node routing table...", [](auto& c) {
//         c.init({"address", py::arg("capacity").def(64).show("...")}, "Creates an empty routing table ...",
//                [](std::uint32_t address, std::size_t capacity) { return Router(address, capacity); });
//         c.def("observe", "Learns a route ...", {"origin", "via", "cost"},
//               [](Router& self, std::uint32_t origin, std::uint32_t via, std::uint16_t cost) { ... });
//         c.prop("address", "The address this router answers for.", [](const Router& self) { ... });
//     }};
//
// A method whose first parameter is `T&` borrows the object exclusively for
// the call, one taking `const T&` shares it; `no_borrow()` is for classes
// whose state is guarded by a mutex of its own, and `PyObject*` as the first
// parameter receives the object itself.
#include <cstdint>
#include <new>
#include <source_location>
#include <string>
#include <type_traits>
#include <vector>

#include "binding/call.hpp"
#include "binding/registry.hpp"

namespace trovik::py {

struct InstanceBase {
    PyObject ob_base;
    std::int32_t borrow;  // > 0: shared borrows; -1: borrowed exclusively
    bool alive;           // whether the value was constructed
};

template <class T>
struct Instance : InstanceBase {
    alignas(T) unsigned char storage[sizeof(T)];
    T& value() { return *std::launder(reinterpret_cast<T*>(storage)); }
};

class SharedBorrow {
public:
    explicit SharedBorrow(PyObject* self, bool checked);
    ~SharedBorrow();
    SharedBorrow(const SharedBorrow&) = delete;

private:
    InstanceBase* inst_;
};
class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(PyObject* self, bool checked);
    ~ExclusiveBorrow();
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;

private:
    InstanceBase* inst_;
};

// The non-template part of a class: its description, built once, and its
// type object, created on first use.
class ClassBase {
public:
    ClassBase(const char* name, const char* doc, std::size_t basicsize, destructor dealloc, std::source_location where);
    ClassBase(const ClassBase&) = delete;

    // The type object (borrowed); creates it on first use. NULL with an
    // exception set if it cannot be created.
    PyTypeObject* type();
    bool borrow_checked() const { return borrow_checked_; }

    // Raises "'{}' object is not an instance of '{}'" unless `o` is an instance.
    InstanceBase* instance_of(PyObject* o);

protected:
    void add_method(const char* name, PyCFunction fn, int flags, const char* doc);
    void add_getter(const char* name, getter get, const char* doc);
    // `closure` reaches `set` as its last argument.
    void add_getter(const char* name, getter get, setter set, const char* doc, void* closure);
    void add_slot(int slot, void* fn);
    void set_constructor_doc(const char* doc) {
        doc_ = doc;
        has_init_ = true;
    }

    const char* name_;
    const char* doc_;
    bool has_init_ = false;
    bool borrow_checked_ = true;

private:
    static PyObject* make(PyObject* module, const void* self);

    std::size_t basicsize_;
    std::string qualified_name_;  // the type keeps pointing at it
    std::vector<PyMethodDef> methods_;
    std::vector<PyGetSetDef> getters_;
    std::vector<PyType_Slot> slots_;
    PyTypeObject* type_ = nullptr;
};

// Allocates an instance of `type` without running a constructor.
PyObject* alloc_instance(PyTypeObject* type);
void free_instance(PyObject* self);

template <class T>
class Class;

template <class T>
struct ClassOf {
    static inline Class<T>* cls = nullptr;
};

template <class T>
class Class : public ClassBase {
public:
    // Contributed by the binding source the declaring file names.
    template <class Configure>
    Class(const char* name, const char* doc, Configure configure,
          std::source_location where = std::source_location::current())
        : ClassBase(name, doc, sizeof(Instance<T>), &Class::dealloc, where) {
        ClassOf<T>::cls = this;
        configure(*this);
    }

    // State guarded by a mutex of the object's own: no borrow flag.
    Class& no_borrow() {
        borrow_checked_ = false;
        return *this;
    }

    // The constructor: `f` takes the converted arguments and returns a T. Its
    // signature header, and its own documentation if given, go on the class
    // docstring, which is what Python shows for the constructor.
    template <class F>
    Class& init(Params params, F f) {
        return init(params, nullptr, f);
    }
    // With the constructor's own documentation, which follows the class's.
    template <class F>
    Class& init(Params params, const char* init_doc, F) {
        Init<F>::sig() = Signature(name_, "__new__", params, false);
        std::string text = doc_;
        if (init_doc) {
            text += "\n\n";
            text += init_doc;
        }
        set_constructor_doc(make_doc(Init<F>::sig(), name_, text.c_str()));
        add_slot(Py_tp_new, reinterpret_cast<void*>(&Init<F>::tp_new));
        return *this;
    }

    template <class F>
    Class& def(const char* name, const char* doc, Params params, F) {
        static_assert(std::is_empty_v<F>, "methods are captureless lambdas");
        Method<F>::cls = this;
        Method<F>::sig() = Signature(name_, name, params, true);
        const char* full_doc = make_doc(Method<F>::sig(), name, doc);
        if constexpr (Traits<F>::arity == 1)
            add_method(name, reinterpret_cast<PyCFunction>(&Method<F>::noargs), METH_NOARGS, full_doc);
        else
            add_method(name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Method<F>::fastcall)),
                       METH_FASTCALL | METH_KEYWORDS, full_doc);
        return *this;
    }
    template <class F>
    Class& def(const char* name, const char* doc, F f) {
        return def(name, doc, {}, f);
    }

    template <class F>
    Class& def_static(const char* name, const char* doc, Params params, F) {
        static_assert(std::is_empty_v<F>, "methods are captureless lambdas");
        Static<F>::sig() = Signature(name_, name, params, false);
        add_method(name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Static<F>::fastcall)),
                   METH_FASTCALL | METH_KEYWORDS | METH_STATIC, make_doc(Static<F>::sig(), name, doc));
        return *this;
    }

    // A read-only attribute: `f` takes the object and returns the value.
    template <class F>
    Class& prop(const char* name, const char* doc, F) {
        Getter<F>::cls = this;
        add_getter(name, &Getter<F>::get, plain_doc(doc));
        return *this;
    }

    // A writable attribute: `set` takes `T&` (the object, borrowed
    // exclusively) and the converted value, which is converted first; a
    // conversion failure names the attribute. Deleting it raises TypeError.
    template <class G, class S>
    Class& prop(const char* name, const char* doc, G, S) {
        static_assert(std::is_empty_v<S>, "setters are captureless lambdas");
        Getter<G>::cls = this;
        add_getter(name, &Getter<G>::get, &Setter<S>::set, plain_doc(doc), const_cast<char*>(name));
        return *this;
    }

    template <class F>
    Class& repr(F) {
        Getter<F>::cls = this;
        add_slot(Py_tp_repr, reinterpret_cast<void*>(&Getter<F>::unary));
        return *this;
    }

    template <class F>
    Class& len(F) {
        Getter<F>::cls = this;
        add_slot(Py_mp_length, reinterpret_cast<void*>(&Getter<F>::length));
        return *this;
    }

    // `==` and `!=` against another instance; other types and orderings give
    // NotImplemented, and instances become unhashable.
    template <class F>
    Class& eq(F) {
        Getter<F>::cls = this;
        add_slot(Py_tp_richcompare, reinterpret_cast<void*>(&Getter<F>::compare));
        return *this;
    }

    // A new Python instance holding `value`.
    static PyObject* make(T value) {
        Class* c = ClassOf<T>::cls;
        PyTypeObject* t = check_type(c->type());
        PyObject* self = alloc_instance(t);
        if (!self) throw PendingError{};
        auto* inst = reinterpret_cast<Instance<T>*>(self);
        new (inst->storage) T(std::move(value));
        inst->alive = true;
        return self;
    }

    // The value inside `o`, refusing other types with the binding text.
    static T& value_of(PyObject* o) {
        Class* c = ClassOf<T>::cls;
        return static_cast<Instance<T>*>(c->instance_of(o))->value();
    }

private:
    static PyTypeObject* check_type(PyTypeObject* t) {
        if (!t) throw PendingError{};
        return t;
    }
    static T& self_value(PyObject* self) { return reinterpret_cast<Instance<T>*>(self)->value(); }

    static void dealloc(PyObject* self) {
        auto* inst = reinterpret_cast<Instance<T>*>(self);
        if (inst->alive) {
            inst->value().~T();
            inst->alive = false;
        }
        free_instance(self);
    }

    // Calls f(self, args...) with the borrow the self parameter asks for.
    template <class F, class Body>
    static PyObject* with_self(PyObject* self, Body&& body) {
        using Self = std::tuple_element_t<0, typename Traits<F>::Args>;
        if constexpr (std::is_same_v<std::remove_cvref_t<Self>, PyObject*>) {
            return body(self);
        } else if constexpr (std::is_const_v<std::remove_reference_t<Self>>) {
            SharedBorrow b(self, ClassOf<T>::cls->borrow_checked());
            return body(static_cast<const T&>(self_value(self)));
        } else {
            ExclusiveBorrow b(self, ClassOf<T>::cls->borrow_checked());
            return body(self_value(self));
        }
    }

    template <class F>
    struct Init {
        // A function-local static: template statics have no initialisation order.
        static Signature& sig() {
            static Signature s;
            return s;
        }
        static PyObject* tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
            return guarded([&] {
                constexpr std::size_t n = Traits<F>::arity;
                PyObject* slots[n + 1];
                sig().parse_tuple(args, kwargs, slots);
                T value = [&]<std::size_t... I>(std::index_sequence<I...>) {
                    using Args = typename Traits<F>::Args;
                    std::tuple<Caster<std::remove_cvref_t<std::tuple_element_t<I, Args>>>...> casters{
                        cast_arg<std::tuple_element_t<I, Args>>(slots[I], sig().param_name(I))...};
                    return T(F{}(std::move(std::get<I>(casters)).get()...));
                }(std::make_index_sequence<n>{});
                PyObject* self = alloc_instance(type);
                if (!self) throw PendingError{};
                auto* inst = reinterpret_cast<Instance<T>*>(self);
                new (inst->storage) T(std::move(value));
                inst->alive = true;
                return self;
            });
        }
    };

    template <class F>
    struct Method {
        static inline Class* cls = nullptr;
        // A function-local static: template statics have no initialisation order.
        static Signature& sig() {
            static Signature s;
            return s;
        }
        static PyObject* noargs(PyObject* self, PyObject*) {
            return guarded([&] {
                return with_self<F>(self, [](auto&& s) -> PyObject* {
                    using R = decltype(F{}(s));
                    return call_and_convert<R>([&]() -> decltype(auto) { return F{}(s); });
                });
            });
        }
        static PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
            return guarded([&] {
                constexpr std::size_t n = Traits<F>::arity - 1;
                PyObject* slots[n];
                sig().parse(args, nargs, kwnames, slots);
                // Arguments are converted before the object is borrowed, so a
                // conversion that runs Python code never meets our own borrow.
                return [&]<std::size_t... I>(std::index_sequence<I...>) {
                    using Args = typename Traits<F>::Args;
                    std::tuple<Caster<std::remove_cvref_t<std::tuple_element_t<I + 1, Args>>>...> casters{
                        cast_arg<std::tuple_element_t<I + 1, Args>>(slots[I], sig().param_name(I))...};
                    return with_self<F>(self, [&](auto&& s) -> PyObject* {
                        using R = decltype(F{}(s, std::move(std::get<I>(casters)).get()...));
                        return call_and_convert<R>(
                            [&]() -> decltype(auto) { return F{}(s, std::move(std::get<I>(casters)).get()...); });
                    });
                }(std::make_index_sequence<n>{});
            });
        }
    };

    template <class F>
    struct Static {
        // A function-local static: template statics have no initialisation order.
        static Signature& sig() {
            static Signature s;
            return s;
        }
        static PyObject* fastcall(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
            return guarded([&] {
                constexpr std::size_t n = Traits<F>::arity;
                PyObject* slots[n + 1];
                sig().parse(args, nargs, kwnames, slots);
                return invoke_with<typename Traits<F>::Args, 0>(sig(), slots, F{}, std::make_index_sequence<n>{});
            });
        }
    };

    template <class F>
    struct Setter {
        using Self = std::tuple_element_t<0, typename Traits<F>::Args>;
        static_assert(std::is_same_v<Self, T&>, "a setter changes the object: its first parameter is T&");

        static int set(PyObject* self, PyObject* value, void* closure) {
            const char* name = static_cast<const char*>(closure);
            PyObject* done = guarded([&]() -> PyObject* {
                if (!value) raise_type_error(std::string("cannot delete attribute '") + name + "'");
                // Converted before the object is borrowed, as method arguments are.
                using Value = std::tuple_element_t<1, typename Traits<F>::Args>;
                auto caster = cast_arg<Value>(value, name);
                return with_self<F>(self, [&](auto&& s) -> PyObject* {
                    using R = decltype(F{}(s, std::move(caster).get()));
                    return call_and_convert<R>([&]() -> decltype(auto) { return F{}(s, std::move(caster).get()); });
                });
            });
            if (!done) return -1;
            Py_DECREF(done);
            return 0;
        }
    };

    template <class F>
    struct Getter {
        static inline Class* cls = nullptr;
        static PyObject* get(PyObject* self, void*) { return unary(self); }
        static PyObject* unary(PyObject* self) {
            return guarded([&] { return with_self<F>(self, [](auto&& s) -> PyObject* { return to_py(F{}(s)); }); });
        }
        static Py_ssize_t length(PyObject* self) {
            PyObject* r =
                guarded([&] { return with_self<F>(self, [](auto&& s) -> PyObject* { return to_py(F{}(s)); }); });
            if (!r) return -1;
            Py_ssize_t n = PyLong_AsSsize_t(r);
            Py_DECREF(r);
            return n;
        }
        static PyObject* compare(PyObject* self, PyObject* other, int op) {
            if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(other, ClassOf<T>::cls->type())) {
                Py_INCREF(Py_NotImplemented);
                return Py_NotImplemented;
            }
            return guarded([&] {
                SharedBorrow a(self, ClassOf<T>::cls->borrow_checked());
                SharedBorrow b(other, ClassOf<T>::cls->borrow_checked());
                bool equal = F{}(static_cast<const T&>(self_value(self)), static_cast<const T&>(self_value(other)));
                return to_py(op == Py_EQ ? equal : !equal);
            });
        }
    };
};

// A new instance of a bound class holding `value`.
template <class T>
PyObject* make(T value) {
    return Class<T>::make(std::move(value));
}

// An argument that must be an instance of a bound class: `In<Route>`.
template <class U>
struct In {
    U* ptr;
    U& operator*() const { return *ptr; }
    U* operator->() const { return ptr; }
};
template <class U>
inline constexpr bool refers_into_object<In<U>> = true;
template <class U>
struct Caster<In<U>> {
    In<U> v;
    explicit Caster(PyObject* o) : v{&static_cast<Instance<U>*>(ClassOf<U>::cls->instance_of(o))->value()} {}
    In<U> get() const { return v; }
};

}  // namespace trovik::py
