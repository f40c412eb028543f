#pragma once
// Everything a binding source needs.
#include "binding/class.hpp"
#include "binding/function.hpp"
