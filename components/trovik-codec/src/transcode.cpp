#include "trovik/codec/transcode.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "trovik/codec/cbor.hpp"
#include "trovik/codec/json.hpp"

namespace trovik::codec {
namespace {

// --- JSON value tree to CBOR -------------------------------------------------

struct CborWriter {
    core::Bytes& out;

    void operator()(std::nullptr_t) const { out.push_back(0xF6); }
    void operator()(bool b) const { out.push_back(b ? 0xF5 : 0xF4); }
    void operator()(std::uint64_t n) const { cbor::append_head(out, cbor::major_unsigned, n); }
    void operator()(std::int64_t n) const {
        if (n >= 0)
            cbor::append_head(out, cbor::major_unsigned, static_cast<std::uint64_t>(n));
        else
            cbor::append_head(out, cbor::major_negative, static_cast<std::uint64_t>(-1 - n));
    }
    void operator()(double d) const { cbor::append_float(out, d); }
    void operator()(const std::string& s) const { text(s); }
    void operator()(const json::Array& array) const {
        cbor::append_head(out, cbor::major_array, array.size());
        for (const auto& item : array)
            std::visit(*this, item.data);
    }
    void operator()(const json::Object& object) const {
        // The object already holds its keys in ascending byte order.
        cbor::append_head(out, cbor::major_map, object.size());
        for (const auto& [key, value] : object) {
            text(key);
            std::visit(*this, value.data);
        }
    }

    void text(std::string_view s) const {
        cbor::append_head(out, cbor::major_text, s.size());
        out.insert(out.end(), s.begin(), s.end());
    }
};

// --- CBOR item to JSON value tree --------------------------------------------

constexpr std::string_view number_out_of_range = "JSON number out of range";

// Converts one item, taking its strings over; on failure leaves the reason in
// `why` and returns false.
class JsonConverter {
public:
    bool convert(cbor::Item& item, json::Value& out) {
        return std::visit([&](auto& data) { return from(data, out); }, item.data);
    }

    std::string why;

private:
    bool refuse(std::string_view reason) {
        why = reason;
        return false;
    }

    bool from(std::uint64_t n, json::Value& out) {
        out.data = n;
        return true;
    }
    bool from(const cbor::Negative& negative, json::Value& out) {
        if (negative.n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return refuse(number_out_of_range);
        out.data = -1 - static_cast<std::int64_t>(negative.n);
        return true;
    }
    bool from(const cbor::Bignum& bignum, json::Value& out) {
        std::uint64_t n = 0;
        std::size_t significant = 0;
        for (const std::uint8_t byte : bignum.magnitude) {
            if (significant == 0 && byte == 0) continue;
            if (++significant > 8) return refuse(number_out_of_range);
            n = n << 8 | byte;
        }
        if (!bignum.negative) return from(n, out);
        return from(cbor::Negative{n}, out);
    }
    bool from(const core::Bytes&, json::Value&) {
        return refuse("invalid type: byte array, expected any valid JSON value");
    }
    bool from(std::string& text, json::Value& out) {
        out.data = std::move(text);
        return true;
    }
    bool from(cbor::Array& array, json::Value& out) {
        auto& items = out.data.emplace<json::Array>();
        items.reserve(array.size());
        for (auto& item : array)
            if (!convert(item, items.emplace_back())) return false;
        return true;
    }
    bool from(cbor::Map& map, json::Value& out) {
        auto& object = out.data.emplace<json::Object>();
        for (auto& entry : map) {
            auto* key = std::get_if<std::string>(&entry.key.data);
            if (!key) return refuse("key must be a string");
            // A later duplicate key replaces an earlier one.
            if (!convert(entry.value, object[std::move(*key)])) return false;
        }
        return true;
    }
    bool from(const cbor::Tagged&, json::Value&) { return refuse("invalid type: enum, expected any valid JSON value"); }
    bool from(const cbor::Simple& simple, json::Value& out) {
        if (simple.value == cbor::simple_false || simple.value == cbor::simple_true)
            out.data = simple.value == cbor::simple_true;
        else
            out.data = nullptr;  // null and undefined
        return true;
    }
    bool from(double d, json::Value& out) {
        // JSON has no NaN or infinity.
        if (std::isfinite(d))
            out.data = d;
        else
            out.data = nullptr;
        return true;
    }
};

std::string_view as_text(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

std::expected<core::Bytes, core::Error> json_to_cbor(std::span<const std::uint8_t> json) {
    auto value = json::parse(as_text(json));
    if (!value) return std::unexpected(core::Error::codec(std::move(value.error().message)));
    core::Bytes out;
    out.reserve(json.size());  // CBOR is rarely longer than its JSON: usually one allocation
    std::visit(CborWriter{out}, value->data);
    return out;
}

std::expected<core::Bytes, core::Error> cbor_to_json(std::span<const std::uint8_t> cbor) {
    auto item = cbor::read(cbor);
    if (!item) return std::unexpected(cbor::read_error(item.error()));
    JsonConverter converter;
    json::Value value;
    if (!converter.convert(*item, value))
        return std::unexpected(core::Error::codec("the CBOR has no JSON form: " + converter.why));
    const std::string text = json::write(value);
    return core::Bytes(text.begin(), text.end());
}

}  // namespace trovik::codec
