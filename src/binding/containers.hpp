#pragma once
// Results held in maps and variants, for the sources that return them; kept
// out of convert.hpp so that every other source compiles without them.
#include <map>
#include <variant>

#include "binding/convert.hpp"

namespace trovik::py {

template <class K, class V, class C>
PyObject* to_py(const std::map<K, V, C>& entries);
template <class... T>
PyObject* to_py(const std::variant<T...>& value);

// A map becomes a `dict` filled in the map's own order.
template <class K, class V, class C>
PyObject* to_py(const std::map<K, V, C>& entries) {
    Ref dict(check(PyDict_New()));
    for (const auto& [key, value] : entries) {
        Ref k(to_py(key));
        Ref v(to_py(value));
        if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) throw PendingError{};
    }
    return dict.release();
}

// A variant becomes the value it holds.
template <class... T>
PyObject* to_py(const std::variant<T...>& value) {
    return std::visit([](const auto& held) { return to_py(held); }, value);
}

}  // namespace trovik::py
