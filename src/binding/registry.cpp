#include "binding/registry.hpp"

#include <string>
#include <unordered_map>

namespace trovik::py {

thread_local int gil_depth = 0;

namespace {

std::unordered_map<std::string_view, Entry>& entries() {
    static std::unordered_map<std::string_view, Entry> table;
    return table;
}

}  // namespace

void register_entry(std::string_view name, EntryMaker make, const void* context) {
    entries()[name] = Entry{make, context};
}

Entry find_entry(std::string_view name) {
    auto it = entries().find(name);
    return it == entries().end() ? Entry{} : it->second;
}

}  // namespace trovik::py
