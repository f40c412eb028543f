// The sensor driver frame against an embedded interpreter: a call waiting for
// a driver another thread holds must not hold the interpreter lock meanwhile.
#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sensors/frame.hpp"

using namespace trovik;
using namespace std::chrono_literals;

extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() { return "leak:libpython"; }

int main(int argc, char** argv) {
    Py_InitializeEx(0);
    doctest::Context context(argc, argv);
    int rc = context.run();
    if (Py_FinalizeEx() < 0 && rc == 0) rc = 1;
    return rc;
}

namespace {

// A core whose steps count themselves; the bus it would talk to plays no part.
struct Core {
    int steps = 0;
};

// Runs `f` on a new thread that holds the interpreter lock around it, as a
// Python thread calling into the module does.
template <class F>
std::thread python_thread(F f) {
    return std::thread([f] {
        PyGILState_STATE state = PyGILState_Ensure();
        f();
        PyGILState_Release(state);
    });
}

bool eventually(const std::atomic<bool>& flag) {
    for (int i = 0; i < 1000 && !flag; ++i)
        std::this_thread::sleep_for(10ms);
    return flag;
}

}  // namespace

TEST_CASE("a call waiting for a busy driver lets other Python threads run") {
    py::sensors_frame::Driver<Core> driver(Core{});
    std::atomic<bool> holding{false}, release{false}, waiting{false}, third_ran{false};
    PyThreadState* main_state = PyEval_SaveThread();

    // The first call holds the driver, as a long conversion wait on a real bus does.
    std::thread first = python_thread([&] {
        driver.drive([&](Core& core) -> sensors::DriverResult<void> {
            holding = true;
            while (!release)
                std::this_thread::sleep_for(1ms);
            ++core.steps;
            return {};
        });
    });
    REQUIRE(eventually(holding));
    std::thread second = python_thread([&] {
        waiting = true;
        driver.drive([](Core& core) -> sensors::DriverResult<void> {
            ++core.steps;
            return {};
        });
    });
    REQUIRE(eventually(waiting));
    std::this_thread::sleep_for(50ms);  // the second call is now blocked on the driver's mutex
    std::thread third = python_thread([&] {
        Py_XDECREF(PyLong_FromLong(1000));  // Python work: it needs the interpreter lock
        third_ran = true;
    });
    // Had the second call kept the interpreter lock while it waits, the
    // third thread could not run until the first call lets go.
    CHECK(eventually(third_ran));
    release = true;
    first.join();
    second.join();
    third.join();
    PyEval_RestoreThread(main_state);
    CHECK(driver.read([](const Core& core) { return core.steps; }) == 2);
}
