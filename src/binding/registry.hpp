#pragma once
// What each binding source contributes to the module, by name. Every file
// that declares classes or functions first says which binding source it is,
// as the first column of the registration order names it:
//
//     const BindingSource this_source{"mqtt"};
//
// and each `Class` and `Function` declared in that file is then contributed
// by that source. Names and sources are kept as given, so they are string
// literals. Start-up checks the contributions against the order and
// refuses to start the module if a name is not in the order, belongs to
// another source there, or is contributed twice; otherwise it adds every
// contributed entry in order, and names no source built are left out.
#include <source_location>
#include <span>
#include <string_view>

#include "binding/order.hpp"
#include "binding/python.hpp"

namespace trovik::py {

// Makes the object to add for one entry (a new reference), or NULL with an
// exception set.
using EntryMaker = PyObject* (*)(PyObject* module, const void* context);

class BindingSource {
public:
    explicit BindingSource(std::string_view name, std::source_location where = std::source_location::current());
    BindingSource(const BindingSource&) = delete;
};

// Contributes the entry `name` for the source the file at `where` declares.
void contribute(std::string_view name, EntryMaker make, const void* context, std::source_location where);
// Contributes the entry `name` for `source`, whichever file declares it: the
// exceptions and constants that sit between other sources' entries.
void contribute_as(std::string_view source, std::string_view name, EntryMaker make, const void* context);

// The execution step's work: checks every contribution against `order`, then
// adds the contributed entries to `module` in that order, each name appended
// to `__all__` before its attribute is set. Returns 0, or -1 with an
// exception set: ImportError naming every broken rule, before anything is
// added, or whatever making or adding an entry raised.
int populate(PyObject* module, std::span<const OrderEntry> order);

}  // namespace trovik::py
