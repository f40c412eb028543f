#pragma once
// The named parameters of a control kind this component does not ship, kept
// for the program's own code to decide by.
#include <map>
#include <string>
#include <string_view>
#include <variant>

namespace trovik::profile::params {

// A number, a flag or a text.
using Param = std::variant<double, bool, std::string>;

// One parameter per name, in ascending byte order of the names.
struct Params {
    std::map<std::string, Param, std::less<>> entries;

    // The parameter of exactly that name, or nothing.
    const Param* get(std::string_view name) const {
        const auto found = entries.find(name);
        return found == entries.end() ? nullptr : &found->second;
    }

    friend bool operator==(const Params&, const Params&) = default;
};

}  // namespace trovik::profile::params
