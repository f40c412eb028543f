#pragma once
// Blocking work in a binding call: a bus transfer, a radio operation, a
// serial or fieldbus transaction. The arguments are converted and what the
// work needs is taken while the interpreter lock is held; then the lock is
// released for the work itself, so other Python threads and the event loop go
// on meanwhile, and taken back before the result is converted. The work must
// not touch a Python object. Take an object's own mutex inside the work, never
// around it: the lock order is "interpreter lock, then nothing".
#include <unistd.h>

#include <type_traits>
#include <utility>

#include "binding/python.hpp"

namespace trovik::py {

template <class Work>
std::invoke_result_t<Work&> without_gil(Work&& work) {
    struct Released {
        PyThreadState* state = PyEval_SaveThread();
        int depth = std::exchange(gil_depth, 0);
        ~Released() {
            try {
                PyEval_RestoreThread(state);
            } catch (...) {
                // Once the interpreter is finalising, a daemon thread that asks
                // for the lock back is ended by unwinding its stack (the only
                // exception that can come out of the C call, and one with no
                // object to bind, so it is caught as any). That unwinding can
                // neither leave this destructor nor safely run the frames
                // above, which would drop Python objects without the lock; the
                // thread waits here instead until the process exits.
                for (;;)
                    pause();
            }
            gil_depth = depth;
        }
    } released;
    return work();
}

}  // namespace trovik::py
