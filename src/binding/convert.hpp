#pragma once
// Converting arguments from Python and results back to Python.
//
// `Caster<T>` takes one argument: its constructor converts (raising the
// binding texts, with the "while processing" note added by the caller) and
// `get()` hands the value to the callable. `to_py(value)` returns a new
// reference. The conversions themselves live in convert.cpp; only thin
// wrappers are templates.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/errors.hpp"
#include "binding/python.hpp"

namespace trovik::py {

// ---- conversions from Python (each throws PendingError) -------------------
long long int_in_range(PyObject* o, long long lo, long long hi);
std::uint64_t to_u64(PyObject* o);
std::int64_t to_i64(PyObject* o);
double to_double(PyObject* o);
// An integer from -2^63 to 2^64 - 1: wider than either 64-bit type alone,
// for fields that may be signed or unsigned. `OverflowError` outside.
struct WideInt {
    bool negative;  // then `bits` holds the value as a signed 64-bit number
    std::uint64_t bits;
};
WideInt to_wide_int(PyObject* o);
bool to_bool(PyObject* o);
std::string_view to_text(PyObject* o);

// A byte-string argument: borrowed from a `bytes`, copied from a `bytearray`
// or a sequence of integers 0..255. Never a `str`.
class ByteArg {
public:
    ByteArg() = default;  // no bytes
    explicit ByteArg(PyObject* o);
    std::span<const std::uint8_t> view() const { return view_; }
    std::vector<std::uint8_t> take() && {
        if (owned_.empty() && !view_.empty()) return {view_.begin(), view_.end()};
        return std::move(owned_);
    }

private:
    std::vector<std::uint8_t> owned_;
    std::span<const std::uint8_t> view_;
};
// The length of a sequence argument; refuses a `str` and non-sequences.
Py_ssize_t sequence_length(PyObject* o);

// A borrowed byte-string parameter type for callables.
using ByteView = std::span<const std::uint8_t>;
using ByteVec = std::vector<std::uint8_t>;

template <class T, class = void>
struct Caster;

template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && sizeof(T) <= 4)
struct Caster<T> {
    T v;
    explicit Caster(PyObject* o)
        : v(static_cast<T>(int_in_range(o, static_cast<long long>(std::numeric_limits<T>::min()),
                                        static_cast<long long>(std::numeric_limits<T>::max())))) {}
    T get() const { return v; }
};
template <>
struct Caster<std::uint64_t> {
    std::uint64_t v;
    explicit Caster(PyObject* o) : v(to_u64(o)) {}
    std::uint64_t get() const { return v; }
};
template <>
struct Caster<unsigned long long> {
    unsigned long long v;
    explicit Caster(PyObject* o) : v(to_u64(o)) {}
    unsigned long long get() const { return v; }
};
template <>
struct Caster<std::int64_t> {
    std::int64_t v;
    explicit Caster(PyObject* o) : v(to_i64(o)) {}
    std::int64_t get() const { return v; }
};
template <>
struct Caster<long long> {
    long long v;
    explicit Caster(PyObject* o) : v(to_i64(o)) {}
    long long get() const { return v; }
};
template <>
struct Caster<WideInt> {
    WideInt v;
    explicit Caster(PyObject* o) : v(to_wide_int(o)) {}
    WideInt get() const { return v; }
};
template <>
struct Caster<double> {
    double v;
    explicit Caster(PyObject* o) : v(to_double(o)) {}
    double get() const { return v; }
};
template <>
struct Caster<float> {
    float v;
    explicit Caster(PyObject* o) : v(static_cast<float>(to_double(o))) {}
    float get() const { return v; }
};
template <>
struct Caster<bool> {
    bool v;
    explicit Caster(PyObject* o) : v(to_bool(o)) {}
    bool get() const { return v; }
};
template <>
struct Caster<std::string_view> {
    std::string_view v;
    explicit Caster(PyObject* o) : v(to_text(o)) {}
    std::string_view get() const { return v; }
};
template <>
struct Caster<std::string> {
    std::string v;
    explicit Caster(PyObject* o) : v(to_text(o)) {}
    std::string get() && { return std::move(v); }
};
template <>
struct Caster<ByteView> {
    ByteArg v;
    explicit Caster(PyObject* o) : v(o) {}
    ByteView get() const { return v.view(); }
};
template <>
struct Caster<ByteVec> {
    ByteArg v;
    explicit Caster(PyObject* o) : v(o) {}
    ByteVec get() && { return std::move(v).take(); }
};
// Any object, borrowed for the call.
template <>
struct Caster<PyObject*> {
    PyObject* v;
    explicit Caster(PyObject* o) : v(o) {}
    PyObject* get() const { return v; }
};
template <class T>
struct Caster<std::optional<T>> {
    std::optional<Caster<T>> inner;
    explicit Caster(PyObject* o) {
        if (o != Py_None) inner.emplace(o);
    }
    std::optional<T> get() && {
        if (!inner) return std::nullopt;
        return std::optional<T>(std::move(*inner).get());
    }
};
// Whether a converted value points into the Python object it came from, so
// that object must live as long as the value does.
template <class T>
inline constexpr bool refers_into_object = false;

// A list of values (any sequence that is not a str). A sequence may make its
// items as they are asked for; values that point into their item keep it.
template <class T>
struct Caster<std::vector<T>> {
    std::vector<T> v;
    std::vector<Ref> held;
    explicit Caster(PyObject* o);
    std::vector<T> get() && { return std::move(v); }
};

// ---- conversions to Python (each returns a new reference) -----------------
inline PyObject* to_py(PyObject* o) { return o; }  // already a new reference
inline PyObject* to_py(Ref r) { return r.release(); }
PyObject* to_py(bool v);
PyObject* to_py(long long v);
PyObject* to_py(unsigned long long v);
// An exact count wider than 64 bits (a duration in microseconds, a length).
PyObject* to_py(unsigned __int128 v);
PyObject* to_py(double v);
PyObject* to_py(std::string_view v);
PyObject* to_py(std::span<const std::uint8_t> v);
inline PyObject* to_py(const std::vector<std::uint8_t>& v) { return to_py(std::span<const std::uint8_t>(v)); }
inline PyObject* to_py(const std::string& v) { return to_py(std::string_view(v)); }
inline PyObject* to_py(const char* v) { return to_py(std::string_view(v)); }
inline PyObject* to_py(float v) { return to_py(static_cast<double>(v)); }
template <class T>
    requires(std::is_integral_v<T> && std::is_signed_v<T> && !std::is_same_v<T, long long>)
PyObject* to_py(T v) {
    return to_py(static_cast<long long>(v));
}
template <class T>
    requires(std::is_integral_v<T> && std::is_unsigned_v<T> && !std::is_same_v<T, bool> &&
             !std::is_same_v<T, unsigned long long>)
PyObject* to_py(T v) {
    return to_py(static_cast<unsigned long long>(v));
}
PyObject* none();

template <class T>
PyObject* to_py(std::optional<T> v);
template <class T>
    requires(!std::is_same_v<T, std::uint8_t>)
PyObject* to_py(std::vector<T> items);
template <class... T>
PyObject* to_py(std::tuple<T...> items);

template <class T>
PyObject* to_py(std::optional<T> v) {
    if (!v) return none();
    return to_py(std::move(*v));
}
template <class T>
    requires(!std::is_same_v<T, std::uint8_t>)
PyObject* to_py(std::vector<T> items) {
    Ref list(check(PyList_New(static_cast<Py_ssize_t>(items.size()))));
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* item = to_py(std::move(items[i]));
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), check(item));
    }
    return list.release();
}
template <class... T>
PyObject* to_py(std::tuple<T...> items) {
    Ref tuple(check(PyTuple_New(sizeof...(T))));
    std::apply(
        [&](auto&&... item) {
            Py_ssize_t i = 0;
            ((PyTuple_SetItem(tuple.get(), i++, check(to_py(std::move(item))))), ...);
        },
        std::move(items));
    return tuple.release();
}

template <class T>
Caster<std::vector<T>>::Caster(PyObject* o) {
    Py_ssize_t n = sequence_length(o);
    v.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref item(check(PySequence_GetItem(o, i)));
        Caster<T> c(item.get());
        v.push_back(std::move(c).get());
        if constexpr (refers_into_object<T>) held.push_back(std::move(item));
    }
}

}  // namespace trovik::py
