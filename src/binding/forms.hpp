#pragma once
// Arguments that may come in one of several forms.
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "binding/convert.hpp"

namespace trovik::py {

// The pending exception as "TypeName: message", cleared.
std::string take_pending_reason();

// The pending exception, cleared, as the reason the one-value form `form` of
// `type` did not fit: "TypeError: failed to extract field {type}::{form}.0,
// caused by {pending}".
std::string take_form_reason(std::string_view type, std::string_view form);

// Raises "failed to extract enum {type} ('{A | B}')" with one line per form
// and the reason that form failed.
[[noreturn]] void raise_no_form(const char* type, std::initializer_list<const char*> forms,
                                std::initializer_list<std::string> reasons);

}  // namespace trovik::py
