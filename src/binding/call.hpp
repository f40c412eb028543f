#pragma once
// The call boundary: every function, method, getter and constructor of the
// module enters through one of the thunks here.
//
// A callable is declared once, as a captureless lambda plus its parameter
// list; the lambda's parameter types choose the conversions, the list names
// the parameters and their defaults. The thunk for a lambda type is a
// template instantiated per callable, but all of the heavy lifting (parsing,
// conversions, errors) happens in non-template code.
#include <exception>
#include <expected>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding/args.hpp"
#include "binding/convert.hpp"
#include "binding/errors.hpp"

namespace trovik::py {

// ---- lambda introspection -----------------------------------------------------
template <class F>
struct Traits : Traits<decltype(&F::operator())> {};
template <class C, class R, class... A>
struct Traits<R (C::*)(A...) const> {
    using Ret = R;
    using Args = std::tuple<A...>;
    static constexpr std::size_t arity = sizeof...(A);
};
template <class C, class R, class... A>
struct Traits<R (C::*)(A...) const noexcept> : Traits<R (C::*)(A...) const> {};

// ---- the boundary ---------------------------------------------------------------
// Runs `body`; a pending Python error becomes NULL, any C++ exception the
// fault exception.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    HoldingGil holding;
    try {
        return body();
    } catch (const PendingError&) {
        return nullptr;
    } catch (const std::exception& e) {
        set_fault(e.what());
        return nullptr;
    } catch (...) {
        set_fault("unknown internal fault");
        return nullptr;
    }
}

// Constructs each caster in order, adding the note when one fails.
template <class T>
Caster<std::remove_cvref_t<T>> cast_arg(PyObject* o, const char* name) {
    try {
        return Caster<std::remove_cvref_t<T>>(o);
    } catch (const PendingError&) {
        note_processing(name);
        throw;
    }
}

// Converts a callable's result: void becomes None, std::expected raises its error.
template <class R, class Call>
PyObject* call_and_convert(Call&& call) {
    if constexpr (std::is_void_v<R>) {
        call();
        return none();
    } else {
        return to_py(call());
    }
}

template <class Tuple, std::size_t Skip, class F, std::size_t... I>
PyObject* invoke_with(const Signature& sig, PyObject** slots, F&& f, std::index_sequence<I...>) {
    // Braced initialisation converts the arguments strictly left to right.
    std::tuple<Caster<std::remove_cvref_t<std::tuple_element_t<I + Skip, Tuple>>>...> casters{
        cast_arg<std::tuple_element_t<I + Skip, Tuple>>(slots[I], sig.param_name(I))...};
    using R = decltype(f(std::move(std::get<I>(casters)).get()...));
    return call_and_convert<R>([&]() -> decltype(auto) { return f(std::move(std::get<I>(casters)).get()...); });
}

// A component result: the value, or its error raised as `TrovikError` with the
// error's text (`display()` or `message()`). Sources whose errors become
// another exception type (a `TrovikError` subclass, `ValueError`) convert the
// error themselves.
template <class E>
[[noreturn]] void raise_component_error(const E& e) {
    if constexpr (requires { e.display(); })
        raise_trovik(e.display());
    else
        raise_trovik(e.message());
}
template <class T, class E>
T unwrap(std::expected<T, E>&& result) {
    if (!result) raise_component_error(result.error());
    if constexpr (!std::is_void_v<T>) return std::move(*result);
}

// ---- documentation ------------------------------------------------------------------
// "name(params)\n--\n\ndoc", kept for the life of the process.
const char* make_doc(const Signature& sig, const char* shown_name, const char* doc);
const char* plain_doc(const char* doc);

}  // namespace trovik::py
