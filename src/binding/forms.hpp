#pragma once
// Arguments that may come in one of several forms.
#include <initializer_list>
#include <optional>
#include <string>

#include "binding/convert.hpp"

namespace trovik::py {

// The pending exception as "TypeName: message", cleared.
std::string take_pending_reason();

// Raises "failed to extract enum {type} ('{A | B}')" with one line per form
// and the reason that form failed.
[[noreturn]] void raise_no_form(const char* type, std::initializer_list<const char*> forms,
                                std::initializer_list<std::string> reasons);

}  // namespace trovik::py
