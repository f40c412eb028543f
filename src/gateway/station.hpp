#pragma once
// What the station value classes, message class and functions share.
#include <string>
#include <string_view>

#include "binding/binding.hpp"
#include "trovik/gateway/station_id.hpp"

namespace trovik::py::gateway_station {

// An identifier given from Python: exactly sixteen hexadecimal digits, or
// TrovikError "{} is not sixteen hexadecimal digits".
gateway::station::Identifier identifier(std::string_view text);

// Sixteen lowercase hexadecimal digits.
std::string identifier_text(gateway::station::Identifier id);

// A bound class instance kept by reference, as given: the message class
// stores the value objects themselves, not copies.
template <class U>
struct Held {
    Ref ref;
    U& value() const { return Class<U>::value_of(ref.get()); }
};

}  // namespace trovik::py::gateway_station

namespace trovik::py {

template <class U>
struct Caster<gateway_station::Held<U>> {
    gateway_station::Held<U> v;
    explicit Caster(PyObject* o) {
        ClassOf<U>::cls->instance_of(o);
        v.ref = Ref::borrow(o);
    }
    gateway_station::Held<U> get() && { return std::move(v); }
};

template <class U>
PyObject* to_py(const gateway_station::Held<U>& held) {
    return Ref::borrow(held.ref.get()).release();
}
template <class U>
PyObject* to_py(const std::optional<gateway_station::Held<U>>& held) {
    return held ? to_py(*held) : none();
}

}  // namespace trovik::py
