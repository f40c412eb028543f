#pragma once
// Everything a binding source needs. A source file starts by naming the
// binding source it is, as the registration order's first column does:
//
//     const BindingSource this_source{"routing"};
//
// and then declares its classes and functions.
#include "binding/class.hpp"
#include "binding/function.hpp"
