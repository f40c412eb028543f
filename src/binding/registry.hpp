#pragma once
// What each binding source contributes to the module, by name. The module's
// start-up walks its ordered registration list and adds every name some
// source has contributed; names no source built are left out.
#include <string_view>

#include "binding/python.hpp"

namespace trovik::py {

// Makes the object to add for one entry (a new reference), or NULL with an
// exception set.
using EntryMaker = PyObject* (*)(PyObject* module, const void* context);

void register_entry(std::string_view name, EntryMaker make, const void* context);

// The maker of `name`, if a source contributed it.
struct Entry {
    EntryMaker make = nullptr;
    const void* context = nullptr;
};
Entry find_entry(std::string_view name);

}  // namespace trovik::py
