#pragma once
// Python references that C++ code may drop on any thread.
//
// Only threads holding the interpreter lock may release a reference. A
// reference dropped elsewhere (a runtime thread finishing abandoned work) is
// put aside and released by the next thread that drains a loop; none of our
// threads ever takes the interpreter lock, so none can be caught by the
// interpreter shutting down. A reference still put aside when the process
// ends is simply never released.
#include <memory>

#include "binding/python.hpp"

namespace trovik::py {

// Owns `owned` (a new reference); copies share it.
std::shared_ptr<PyObject> share(PyObject* owned);

// Releases what was put aside. Interpreter lock held.
void release_deferred() noexcept;

}  // namespace trovik::py
