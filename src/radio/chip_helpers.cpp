#include "radio/chip_helpers.hpp"

#include <string>

#include "binding/convert.hpp"
#include "binding/errors.hpp"

namespace trovik::py::radio {

Ref dict_of(std::span<const NamedValue> entries) {
    Ref dict(check(PyDict_New()));
    for (const NamedValue& entry : entries) {
        Ref key(check(to_py(entry.name)));
        Ref value(check(to_py(entry.value)));
        if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) throw PendingError{};
    }
    return dict;
}

void require_length(std::span<const std::uint8_t> answer, std::size_t wanted, std::string_view what) {
    if (answer.size() != wanted)
        raise_value_error(std::string(what) + " is " + std::to_string(wanted) + " bytes, not " +
                          std::to_string(answer.size()));
}

}  // namespace trovik::py::radio
