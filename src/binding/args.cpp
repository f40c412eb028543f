#include "binding/args.hpp"

#include <charconv>
#include <string>

#include "binding/errors.hpp"

namespace trovik::py {
namespace {

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string name_list(const std::vector<const char*>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() == 2)
                out += " and ";
            else if (i + 1 == names.size())
                out += ", and ";
            else
                out += ", ";
        }
        out += '\'';
        out += names[i];
        out += '\'';
    }
    return out;
}

bool same_name(PyObject* key, const char* name) {
    return PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, name) == 0;
}

std::string key_text(PyObject* key) {
    if (PyUnicode_Check(key)) {
        if (const char* s = PyUnicode_AsUTF8AndSize(key, nullptr)) return s;
        PyErr_Clear();
    }
    return "?";
}

}  // namespace

Signature::Signature(const char* owner, const char* method, Params params, bool has_self) : has_self_(has_self) {
    bool keyword_only = false;
    for (const ParamSpec& spec : params) {
        if (spec.kw_marker) {
            keyword_only = true;
            continue;
        }
        const arg& a = spec.a;
        params_.push_back(Param{a.name, a.kind, a.int_value, a.float_value, a.text_value, a.shown, keyword_only});
        if (!keyword_only) {
            ++positional_;
            if (a.kind == arg::Default::Required) ++required_positional_;
        }
    }
    if (owner) {
        display_ = owner;
        display_ += '.';
    }
    display_ += method;
    display_ += "()";
}

std::string Signature::header(const char* shown_name) const {
    std::string out = shown_name;
    out += '(';
    bool first = true;
    auto sep = [&] {
        if (!first) out += ", ";
        first = false;
    };
    if (has_self_) {
        sep();
        out += "$self";
    }
    bool marked = false;
    for (const Param& p : params_) {
        if (p.keyword_only && !marked) {
            sep();
            out += '*';
            marked = true;
        }
        sep();
        out += p.name;
        if (p.kind == arg::Default::Required) continue;
        out += '=';
        if (p.shown) {
            out += p.shown;
            continue;
        }
        switch (p.kind) {
            case arg::Default::None: out += "None"; break;
            case arg::Default::Empty: out += "()"; break;
            case arg::Default::True: out += "True"; break;
            case arg::Default::False: out += "False"; break;
            case arg::Default::Int: out += std::to_string(p.int_value); break;
            case arg::Default::Float: {
                char buf[32];
                auto r = std::to_chars(buf, buf + sizeof buf, p.float_value);
                std::string text(buf, r.ptr);
                if (text.find_first_of(".en") == std::string::npos) text += ".0";
                out += text;
                break;
            }
            case arg::Default::Text:
                out += '\'';
                out += p.text_value;
                out += '\'';
                break;
            case arg::Default::Required: break;
        }
    }
    out += ")\n--\n\n";
    return out;
}

PyObject* Signature::default_of(const Param& p) const {
    if (!p.default_object) {
        switch (p.kind) {
            case arg::Default::None: p.default_object = Py_None; break;
            case arg::Default::Empty: p.default_object = PyTuple_New(0); break;
            case arg::Default::True: p.default_object = Py_True; break;
            case arg::Default::False: p.default_object = Py_False; break;
            case arg::Default::Int: p.default_object = PyLong_FromLongLong(p.int_value); break;
            case arg::Default::Float: p.default_object = PyFloat_FromDouble(p.float_value); break;
            case arg::Default::Text: p.default_object = PyUnicode_FromString(p.text_value); break;
            case arg::Default::Required: return nullptr;
        }
        if (!p.default_object) throw PendingError{};
        Py_INCREF(p.default_object);  // kept for the life of the process
    }
    return p.default_object;
}

void Signature::too_many(std::size_t given) const {
    std::string m = display_;
    if (required_positional_ == positional_) {
        m += " takes " + std::to_string(positional_) + " positional arguments but ";
    } else {
        m += " takes from " + std::to_string(required_positional_) + " to " + std::to_string(positional_) +
             " positional arguments but ";
    }
    m += std::to_string(given);
    m += given == 1 ? " was given" : " were given";
    raise_type_error(m);
}

void Signature::place_keyword(PyObject* key, PyObject* value, std::size_t nargs, PyObject** out) const {
    for (std::size_t i = 0; i < params_.size(); ++i) {
        if (!same_name(key, params_[i].name)) continue;
        if (i < nargs || out[i])
            raise_type_error(display_ + " got multiple values for argument '" + key_text(key) + "'");
        out[i] = value;
        return;
    }
    raise_type_error(display_ + " got an unexpected keyword argument '" + key_text(key) + "'");
}

void Signature::finish(PyObject** out, std::size_t) const {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < positional_; ++i)
        if (!out[i] && params_[i].kind == arg::Default::Required) missing.push_back(params_[i].name);
    const char* which = "positional";
    if (missing.empty()) {
        for (std::size_t i = positional_; i < params_.size(); ++i)
            if (!out[i] && params_[i].kind == arg::Default::Required) missing.push_back(params_[i].name);
        which = "keyword";
    }
    if (!missing.empty()) {
        std::string m = display_ + " missing " + std::to_string(missing.size()) + " required " + which +
                        (missing.size() == 1 ? " argument: " : " arguments: ") + name_list(missing);
        raise_type_error(m);
    }
    for (std::size_t i = 0; i < params_.size(); ++i)
        if (!out[i]) out[i] = default_of(params_[i]);
}

void Signature::parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) const {
    auto given = static_cast<std::size_t>(nargs);
    if (given > positional_) too_many(given);
    for (std::size_t i = 0; i < params_.size(); ++i)
        out[i] = i < given ? args[i] : nullptr;
    if (kwnames) {
        Py_ssize_t n = PyTuple_Size(kwnames);
        for (Py_ssize_t k = 0; k < n; ++k)
            place_keyword(PyTuple_GetItem(kwnames, k), args[nargs + k], given, out);
    }
    finish(out, given);
}

void Signature::parse_tuple(PyObject* args, PyObject* kwargs, PyObject** out) const {
    auto given = static_cast<std::size_t>(args ? PyTuple_Size(args) : 0);
    if (given > positional_) too_many(given);
    for (std::size_t i = 0; i < params_.size(); ++i)
        out[i] = i < given ? PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)) : nullptr;
    if (kwargs) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value))
            place_keyword(key, value, given, out);
    }
    finish(out, given);
}

}  // namespace trovik::py
