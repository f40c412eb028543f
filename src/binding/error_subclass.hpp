#pragma once
// Subclasses of `TrovikError` that say why they were raised.
//
//     const ErrorSubclass probe_error{"ProbeError", "Raised when the probe cannot go on. ...",
//                                     {"depth", "until_us"}};
//     probe_error.raise("lost", "the probe is lost");
//     probe_error.raise("stuck", "the probe is stuck", {{"depth", depth}});
//
// The type is made from its name, `TrovikError` as its base and its
// docstring alone, with no class attributes; its `__module__` is "trovik".
// Each raised instance carries its message as its one argument, `kind` (a
// snake_case code naming why, read from Python as `exc.kind`) and every
// attribute its type declares: the value given with the kind, or None where
// it does not apply.
//
// Declaring one contributes the type to the module under the source
// "exception", where the registration order places it.
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/convert.hpp"
#include "binding/python.hpp"

namespace trovik::py {

class ErrorSubclass {
public:
    // `attributes` are the names an instance carries besides `kind`.
    ErrorSubclass(const char* name, const char* doc, std::initializer_list<const char*> attributes);
    ErrorSubclass(const ErrorSubclass&) = delete;

    // One attribute that goes with a kind, converted like any result (a
    // `PyObject*` is taken as a new reference).
    struct Detail {
        template <class V>
        Detail(const char* attribute, V&& v) : name(attribute), value(check(to_py(std::forward<V>(v)))) {}
        const char* name;
        Ref value;
    };

    // The type (borrowed), created once per process on first use; NULL with
    // the fault exception set if the interpreter cannot create it.
    PyObject* type() const;

    // A new instance for `kind`, not raised. Throws PendingError if it
    // cannot be made; a kind that is not snake_case, or a detail the type
    // does not declare, is a fault of the caller and throws std::logic_error.
    PyObject* instance(std::string_view kind, std::string_view message,
                       std::initializer_list<Detail> details = {}) const;
    // Sets the instance as the pending exception and throws PendingError.
    [[noreturn]] void raise(std::string_view kind, std::string_view message,
                            std::initializer_list<Detail> details = {}) const;

private:
    std::string qualified_name_;  // "trovik.<name>"
    const char* doc_;
    std::vector<const char*> attributes_;
    mutable PyObject* type_ = nullptr;  // kept for the life of the process
};

}  // namespace trovik::py
