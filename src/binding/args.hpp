#pragma once
// Declaring parameters once, and parsing calls against them.
//
// A callable's parameter list is a short list of specs: a bare name is a
// required parameter, `arg("x").def(64)` one with a default, `arg("x").none()`
// an optional one whose default is None, `arg("x").empty()` an optional
// sequence whose default is an empty one (so None is refused like any other
// value that is not a sequence), and `kw_only` starts the
// keyword-only parameters. The same list drives argument parsing, the
// interpreter's text signature in the docstring, and the error texts.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "binding/python.hpp"

namespace trovik::py {

struct KwOnly {};
inline constexpr KwOnly kw_only{};

struct arg {
    enum class Default : std::uint8_t { Required, None, Empty, Int, Float, True, False, Text };

    const char* name;
    Default kind = Default::Required;
    long long int_value = 0;
    double float_value = 0;
    const char* text_value = nullptr;
    const char* shown = nullptr;  // how the signature writes the default, if not the value itself

    constexpr arg(const char* n) : name(n) {}
    constexpr arg none() const {
        arg a = *this;
        a.kind = Default::None;
        return a;
    }
    constexpr arg empty() const {
        arg a = *this;
        a.kind = Default::Empty;
        return a;
    }
    constexpr arg def(int v) const { return def(static_cast<long long>(v)); }
    constexpr arg def(long long v) const {
        arg a = *this;
        a.kind = Default::Int;
        a.int_value = v;
        return a;
    }
    constexpr arg def(unsigned v) const { return def(static_cast<long long>(v)); }
    constexpr arg def(unsigned long long v) const { return def(static_cast<long long>(v)); }
    constexpr arg def(double v) const {
        arg a = *this;
        a.kind = Default::Float;
        a.float_value = v;
        return a;
    }
    constexpr arg def(bool v) const {
        arg a = *this;
        a.kind = v ? Default::True : Default::False;
        return a;
    }
    constexpr arg def(const char* v) const {
        arg a = *this;
        a.kind = Default::Text;
        a.text_value = v;
        return a;
    }
    // Writes the default as `text` in the signature, e.g. "..." for a size.
    constexpr arg show(const char* text) const {
        arg a = *this;
        a.shown = text;
        return a;
    }
};

// One entry of a parameter list: a parameter or the keyword-only marker.
struct ParamSpec {
    arg a;
    bool kw_marker = false;
    constexpr ParamSpec(const char* n) : a(n) {}
    constexpr ParamSpec(arg x) : a(x) {}
    constexpr ParamSpec(KwOnly) : a(""), kw_marker(true) {}
};
using Params = std::initializer_list<ParamSpec>;

// A parsed, immutable parameter list of one callable.
class Signature {
public:
    Signature() = default;
    // `owner` is the class for methods and constructors, else null;
    // `method` the Python name ("__new__" for constructors).
    Signature(const char* owner, const char* method, Params params, bool has_self);

    const char* param_name(std::size_t i) const { return params_[i].name; }

    // The interpreter's text-signature header: "name(a, b=64, *, c=None)\n--\n\n".
    std::string header(const char* shown_name) const;

    // Fills out[0..size()) with borrowed references: given arguments, or the
    // parameter's default. Raises the interpreter-style TypeError texts.
    void parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) const;
    void parse_tuple(PyObject* args, PyObject* kwargs, PyObject** out) const;

private:
    struct Param {
        const char* name;
        arg::Default kind;
        long long int_value;
        double float_value;
        const char* text_value;
        const char* shown;
        bool keyword_only;
        mutable PyObject* default_object = nullptr;  // created once, kept for the process
    };
    PyObject* default_of(const Param& p) const;
    void finish(PyObject** out, std::size_t nargs) const;
    [[noreturn]] void too_many(std::size_t given) const;
    void place_keyword(PyObject* key, PyObject* value, std::size_t nargs, PyObject** out) const;

    std::vector<Param> params_;
    std::size_t positional_ = 0;  // parameters before the keyword-only marker
    std::size_t required_positional_ = 0;
    bool has_self_ = false;
    std::string display_;  // the name errors use: "Class.method()" or "function()"
};

}  // namespace trovik::py
