#include "binding/python.hpp"

namespace trovik::py {

thread_local int gil_depth = 0;

}  // namespace trovik::py
