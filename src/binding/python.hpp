#pragma once
// The one place the interpreter's headers come in. The module is built
// against the stable ABI, so only the limited API is visible from here on.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace trovik::py {

// How deep this thread is inside code that holds the interpreter lock (binding
// calls, and blocks that took it with `WithGil`). Lets a Python reference
// dropped on an arbitrary thread know whether it may be released at once.
extern thread_local int gil_depth;
struct HoldingGil {
    HoldingGil() noexcept { ++gil_depth; }
    ~HoldingGil() { --gil_depth; }
    HoldingGil(const HoldingGil&) = delete;
};

// Takes the interpreter lock for a scope, from any thread.
class WithGil {
public:
    WithGil() noexcept : state_(PyGILState_Ensure()) { ++gil_depth; }
    ~WithGil() {
        --gil_depth;
        PyGILState_Release(state_);
    }
    WithGil(const WithGil&) = delete;

private:
    PyGILState_STATE state_;
};

// An owned reference. Moves, never copies by accident.
class Ref {
public:
    Ref() noexcept = default;
    explicit Ref(PyObject* owned) noexcept : p_(owned) {}
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

}  // namespace trovik::py
