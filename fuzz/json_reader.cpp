// JSON read strictly, written compactly and carried through CBOR: the compact
// text is a fixed point of both the writer and the trip through CBOR, and the
// transcoder refuses exactly what the reader refuses, with its message. The
// reader takes what nlohmann-json takes, and reads the same values from it.
// libFuzzer options: -max_len=4096
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "trovik/codec/json.hpp"
#include "trovik/codec/transcode.hpp"

using namespace trovik;
using trovik::fuzz::as_bytes;
using trovik::fuzz::as_text;

namespace {

using Json = nlohmann::json;

// Whether nlohmann-json read the value the strict reader read.
bool same(const codec::json::Value& ours, const Json& theirs) {
    using namespace codec::json;
    switch (theirs.type()) {
        case Json::value_t::null: return std::holds_alternative<std::nullptr_t>(ours.data);
        case Json::value_t::boolean: {
            const auto* b = std::get_if<bool>(&ours.data);
            return b && *b == theirs.get<bool>();
        }
        case Json::value_t::number_unsigned: {
            const auto* n = std::get_if<std::uint64_t>(&ours.data);
            return n && *n == theirs.get<std::uint64_t>();
        }
        case Json::value_t::number_integer: {
            if (const auto* n = std::get_if<std::int64_t>(&ours.data)) return *n == theirs.get<std::int64_t>();
            // "-0": an integer to nlohmann-json, a float keeping its sign to us.
            const auto* d = std::get_if<double>(&ours.data);
            return d && *d == 0 && std::signbit(*d) && theirs.get<std::int64_t>() == 0;
        }
        case Json::value_t::number_float: {
            const auto* d = std::get_if<double>(&ours.data);
            const double t = theirs.get<double>();
            return d && *d == t && std::signbit(*d) == std::signbit(t);
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
            const auto* o = std::get_if<Object>(&ours.data);
            if (!o || o->size() != theirs.size()) return false;
            for (const auto& [key, value] : theirs.items()) {
                const auto it = o->find(key);
                if (it == o->end() || !same(it->second, value)) return false;
            }
            return true;
        }
        default: return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const auto value = codec::json::parse(as_text(input));
    const auto cbor = codec::json_to_cbor(input);

    // nlohmann-json also takes a byte order mark in front, nesting of any
    // depth, and a null byte as the end of the text; otherwise the two agree
    // on what is JSON.
    if (as_text(input).find('\0') == std::string_view::npos) {
        const Json theirs = Json::parse(as_text(input), nullptr, false);
        if (value) {
            FUZZ_CHECK(!theirs.is_discarded() && same(*value, theirs));
        } else if (!as_text(input).starts_with("\xef\xbb\xbf") &&
                   !value.error().message.starts_with("recursion limit exceeded")) {
            FUZZ_CHECK(theirs.is_discarded());
        }
    }
    if (!value) {
        FUZZ_CHECK(value.error().message.find(" at line ") != std::string::npos);
        FUZZ_CHECK(!cbor.has_value());
        FUZZ_CHECK(cbor.error() == core::Error::codec(value.error().message));
        return 0;
    }
    FUZZ_CHECK(cbor.has_value());

    const std::string compact = codec::json::write(*value);
    const auto reread = codec::json::parse(compact);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(*reread == *value);
    FUZZ_CHECK(codec::json::write(*reread) == compact);

    // CBOR holds every JSON value exactly: back in JSON it is the compact text.
    const auto json = codec::cbor_to_json(*cbor);
    FUZZ_CHECK(json.has_value());
    FUZZ_CHECK(as_text(*json) == compact);
    const auto cbor_again = codec::json_to_cbor(as_bytes(compact));
    FUZZ_CHECK(cbor_again.has_value() && *cbor_again == *cbor);
    return 0;
}
