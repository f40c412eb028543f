#include "runtime/refs.hpp"

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace trovik::py {
namespace {

std::mutex aside_lock;
std::vector<PyObject*>* aside = new std::vector<PyObject*>();  // never destroyed: threads may outlive main()
std::atomic<bool> any_aside{false};

void release(PyObject* p) noexcept {
    if (!p) return;
    if (gil_depth > 0) {
        Py_DECREF(p);
        return;
    }
    std::lock_guard guard(aside_lock);
    try {
        aside->push_back(p);
    } catch (...) {
        return;  // out of memory: the reference is leaked, never released without the lock
    }
    any_aside.store(true, std::memory_order_release);
}

}  // namespace

std::shared_ptr<PyObject> share(PyObject* owned) { return std::shared_ptr<PyObject>(owned, &release); }

void release_deferred() noexcept {
    if (!any_aside.load(std::memory_order_acquire)) return;
    std::vector<PyObject*> taken;
    {
        std::lock_guard guard(aside_lock);
        taken.swap(*aside);
        any_aside.store(false, std::memory_order_relaxed);
    }
    HoldingGil holding;
    for (PyObject* p : taken)
        Py_DECREF(p);  // may run __del__, which may put more aside
}

}  // namespace trovik::py
