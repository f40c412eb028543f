// CBOR read and turned into JSON: the JSON that comes out is a fixed point of
// the trip through CBOR and back, and reader failures surface unchanged. The
// reader reads what nlohmann-json's CBOR reader reads, to the same values.
// libFuzzer options: -max_len=4096
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "trovik/codec/cbor.hpp"
#include "trovik/codec/json.hpp"
#include "trovik/codec/transcode.hpp"

using namespace trovik;
using trovik::fuzz::as_text;

namespace {

using Json = nlohmann::json;

// Whether the item holds something nlohmann-json reads no JSON from though the
// conversion does: a bignum, or the simple value undefined.
bool holds_extension(const codec::cbor::Item& item) {
    using namespace codec::cbor;
    if (std::holds_alternative<Bignum>(item.data)) return true;
    if (const auto* simple = std::get_if<Simple>(&item.data)) return simple->value == simple_undefined;
    if (const auto* array = std::get_if<Array>(&item.data)) {
        for (const auto& element : *array)
            if (holds_extension(element)) return true;
    }
    if (const auto* map = std::get_if<Map>(&item.data)) {
        for (const auto& entry : *map)
            if (holds_extension(entry.key) || holds_extension(entry.value)) return true;
    }
    return false;
}

// Whether nlohmann-json read the item the reader read, for an item that has a
// JSON form (no byte strings, no tags, string keys, integers within 64 bits).
bool same(const codec::cbor::Item& ours, const Json& theirs) {
    using namespace codec::cbor;
    switch (theirs.type()) {
        case Json::value_t::null: {
            const auto* simple = std::get_if<Simple>(&ours.data);
            return simple && simple->value == simple_null;
        }
        case Json::value_t::boolean: {
            const auto* simple = std::get_if<Simple>(&ours.data);
            return simple && simple->value == (theirs.get<bool>() ? simple_true : simple_false);
        }
        case Json::value_t::number_unsigned: {
            const auto* n = std::get_if<std::uint64_t>(&ours.data);
            return n && *n == theirs.get<std::uint64_t>();
        }
        case Json::value_t::number_integer: {
            const auto* n = std::get_if<Negative>(&ours.data);
            return n && n->n <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) &&
                   -1 - static_cast<std::int64_t>(n->n) == theirs.get<std::int64_t>();
        }
        case Json::value_t::number_float: {
            const auto* d = std::get_if<double>(&ours.data);
            const double t = theirs.get<double>();
            if (!d) return false;
            if (std::isnan(t)) return std::isnan(*d);
            return *d == t && std::signbit(*d) == std::signbit(t);
        }
        case Json::value_t::string: {
            const auto* s = std::get_if<std::string>(&ours.data);
            return s && *s == theirs.get_ref<const std::string&>();
        }
        case Json::value_t::array: {
            const auto* a = std::get_if<Array>(&ours.data);
            if (!a || a->size() != theirs.size()) return false;
            for (std::size_t i = 0; i < a->size(); ++i)
                if (!same((*a)[i], theirs[i])) return false;
            return true;
        }
        case Json::value_t::object: {
            // Both keep the last of repeated keys.
            const auto* m = std::get_if<Map>(&ours.data);
            if (!m) return false;
            std::size_t matched = 0;
            for (auto it = m->rbegin(); it != m->rend(); ++it) {
                const auto& key = std::get<std::string>(it->key.data);
                bool later = false;
                for (auto after = m->rbegin(); after != it; ++after)
                    later = later || std::get<std::string>(after->key.data) == key;
                if (later) continue;
                if (!theirs.contains(key) || !same(it->value, theirs.at(key))) return false;
                ++matched;
            }
            return matched == theirs.size();
        }
        default: return false;
    }
}

// The independent reading: nlohmann-json, ignoring bytes after the item. It
// throws on a claimed array length beyond what a vector can hold even when
// asked not to throw; that is a refusal too.
Json read_with_nlohmann(std::span<const std::uint8_t> input) {
    try {
        return Json::from_cbor(input.begin(), input.end(), false, false);
    } catch (const Json::exception&) {
        return Json(Json::value_t::discarded);
    }
}

// Compares with what the reader read (`ours`), or else with the reason the
// conversion refused (`refusal`; null for a refusal not to be compared).
void compare_with_nlohmann(std::span<const std::uint8_t> input, const codec::cbor::Item* ours,
                           const core::Error* refusal) {
    const Json theirs = read_with_nlohmann(input);
    if (ours) {
        if (theirs.is_discarded())
            FUZZ_CHECK(holds_extension(*ours));
        else
            FUZZ_CHECK(same(*ours, theirs));
        return;
    }
    if (theirs.is_discarded() || !refusal) return;
    // What nlohmann-json takes without a JSON form or without checking, and any depth.
    const std::string& why = refusal->detail();
    FUZZ_CHECK(why.starts_with("a text string is not valid UTF-8") || why == "the CBOR nests too deeply to read" ||
               why.ends_with("invalid type: byte array, expected any valid JSON value") ||
               why.ends_with("JSON number out of range"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const auto item = codec::cbor::read(input);
    const auto json = codec::cbor_to_json(input);
    if (!item) {
        if (item.error().offset) FUZZ_CHECK(*item.error().offset < size);
        // The conversion reports the reader's own failure.
        FUZZ_CHECK(!json.has_value());
        FUZZ_CHECK(json.error() == codec::cbor::read_error(item.error()));
        // nlohmann-json reads more than well-formed CBOR (an indefinite string
        // as a chunk of another, a definite length of 2^64 - 1 as indefinite),
        // so only refusals of well-formed input are compared.
        const auto kind = item.error().kind;
        const bool well_formed =
            kind != codec::cbor::ReadError::Kind::Malformed && kind != codec::cbor::ReadError::Kind::EndOfInput;
        compare_with_nlohmann(input, nullptr, well_formed ? &json.error() : nullptr);
        return 0;
    }
    if (!json) {
        FUZZ_CHECK(json.error().kind() == core::Error::Kind::Codec);
        FUZZ_CHECK(json.error().detail().starts_with("the CBOR has no JSON form: "));
        compare_with_nlohmann(input, nullptr, &json.error());
        return 0;
    }
    compare_with_nlohmann(input, &*item, nullptr);

    // What the conversion writes is JSON the strict reader takes, but for
    // nesting: CBOR may nest twice as deep as the JSON reader allows...
    const auto value = codec::json::parse(as_text(*json));
    if (!value) {
        FUZZ_CHECK(value.error().message.starts_with("recursion limit exceeded"));
        return 0;
    }
    FUZZ_CHECK(codec::json::write(*value) == as_text(*json));
    // ...and it comes back unchanged through CBOR.
    const auto cbor = codec::json_to_cbor(*json);
    FUZZ_CHECK(cbor.has_value());
    const auto back = codec::cbor_to_json(*cbor);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == *json);
    return 0;
}
