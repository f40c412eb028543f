#include "trovik/gateway/json.hpp"

#include <string>

#include "trovik/core/number_text.hpp"
#include "trovik/core/saturating.hpp"

namespace trovik::gateway::json {

const Value* find(const Object& object, std::string_view key) {
    const auto it = object.find(std::string(key));
    return it == object.end() ? nullptr : &it->second;
}

namespace {
template <class T>
const T* typed_at(const Object& object, std::string_view key) {
    const Value* value = find(object, key);
    return value ? std::get_if<T>(&value->data) : nullptr;
}
}  // namespace

const Object* object_at(const Object& object, std::string_view key) { return typed_at<Object>(object, key); }
const Array* array_at(const Object& object, std::string_view key) { return typed_at<Array>(object, key); }
const std::string* string_at(const Object& object, std::string_view key) { return typed_at<std::string>(object, key); }

std::optional<bool> bool_at(const Object& object, std::string_view key) {
    const bool* b = typed_at<bool>(object, key);
    return b ? std::optional<bool>(*b) : std::nullopt;
}

std::optional<double> number_of(const Value& value) {
    if (const auto* u = std::get_if<std::uint64_t>(&value.data)) return static_cast<double>(*u);
    if (const auto* i = std::get_if<std::int64_t>(&value.data)) return static_cast<double>(*i);
    if (const auto* d = std::get_if<double>(&value.data)) return *d;
    return std::nullopt;
}

std::optional<double> number_at(const Object& object, std::string_view key) {
    const Value* value = find(object, key);
    return value ? number_of(*value) : std::nullopt;
}

std::optional<std::int64_t> whole_at(const Object& object, std::string_view key) {
    const auto number = number_at(object, key);
    if (!number) return std::nullopt;
    return core::saturating_round<std::int64_t>(*number);
}

std::string write(const Value& value) { return codec::json::write(value, core::number_text::document_double_layout); }

}  // namespace trovik::gateway::json
