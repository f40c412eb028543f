// The common-dialect enumerations, by name.
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "binding/binding.hpp"
#include "trovik/mavlink/enums.hpp"

namespace trovik::py {

const BindingSource this_source{"mavlink_enums"};

namespace {

using mavlink::enums::EnumDescriptor;

const EnumDescriptor& enumeration(std::string_view name) {
    const EnumDescriptor* e = mavlink::enums::enum_named(name);
    if (!e) raise_value_error(std::string(name) + " is not a dialect enumeration");
    return *e;
}

const Function known_enums_fn{
    "mavlink_known_enums",
    "Returns the names of every enumeration the dialect table holds, in the order\nthe dialect defines them.",
    {},
    [] {
        std::vector<std::string_view> names;
        for (const EnumDescriptor& e : mavlink::enums::known_enums())
            names.push_back(e.name);
        return names;
    }};

const Function enum_entries_fn{
    "mavlink_enum_entries",
    "Returns every entry of a dialect enumeration as `(name, value)` pairs, in\ndialect order.",
    {"enumeration"},
    [](std::string_view name) {
        std::vector<std::tuple<std::string_view, std::uint64_t>> out;
        for (const auto& entry : enumeration(name).entries)
            out.emplace_back(entry.name, entry.value);
        return out;
    }};

const Function enum_is_bitmask_fn{"mavlink_enum_is_bitmask",
                                  "Whether a dialect enumeration's values combine as bits.",
                                  {"enumeration"},
                                  [](std::string_view name) { return enumeration(name).bitmask; }};

const Function enum_entry_fn{"mavlink_enum_entry",
                             "Returns the entry name that stands for a value, or `None` when no entry does.",
                             {"enumeration", "value"},
                             [](std::string_view name, std::uint64_t value) { return enumeration(name).entry(value); }};

const Function enum_names_fn{
    "mavlink_enum_names",
    "Names the entries a value is made of: for a bitmask, each entry whose bits\nare set in it, in dialect order; "
    "otherwise the one entry that names it.",
    {"enumeration", "value"},
    [](std::string_view name, std::uint64_t value) { return enumeration(name).names(value); }};

const Function enum_value_fn{
    "mavlink_enum_value",
    "Returns the value a dialect entry name stands for, whichever enumeration it\nbelongs to.",
    {"entry"},
    [](std::string_view name) {
        auto value = mavlink::enums::entry_value(name);
        if (!value) raise_value_error(std::string(name) + " is not an entry of any dialect enumeration");
        return *value;
    }};

}  // namespace
}  // namespace trovik::py
