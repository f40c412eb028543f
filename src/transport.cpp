// Messages as Python sees them, and (with the transport facade) the links
// that move them.
#include <cerrno>
#include <cstdlib>
#include <string>

#include "binding/binding.hpp"
#include "binding/forms.hpp"
#include "message.hpp"
#include "trovik/core/text.hpp"

namespace trovik::py {
namespace {

namespace text = core::text;

// Accepts an optional sign, then digits with an optional point and fraction
// (a digit on at least one side) and an optional exponent, or one of the
// words inf, infinity and nan in any case.
bool is_float_text(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::string_view rest = s.substr(i);
    auto iequals = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (std::size_t k = 0; k < a.size(); ++k)
            if ((a[k] | 0x20) != b[k]) return false;
        return true;
    };
    if (iequals(rest, "inf") || iequals(rest, "infinity") || iequals(rest, "nan")) return true;
    auto digit = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
    std::size_t whole = 0, frac = 0;
    while (digit(i)) ++i, ++whole;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (digit(i)) ++i, ++frac;
    }
    if (whole + frac == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp = 0;
        while (digit(i)) ++i, ++exp;
        if (exp == 0) return false;
    }
    return i == s.size();
}

}  // namespace

PyObject* text_of(std::span<const std::uint8_t> payload) {
    std::string_view s(reinterpret_cast<const char*>(payload.data()), payload.size());
    if (!text::is_valid_utf8(s)) raise_value_error("the payload is not UTF-8 text");
    return to_py(s);
}

double number_of(std::span<const std::uint8_t> payload) {
    std::string_view s(reinterpret_cast<const char*>(payload.data()), payload.size());
    if (!text::is_valid_utf8(s)) raise_value_error("the payload is not UTF-8 text");
    std::string_view trimmed = text::trim_white_space(s);
    if (!is_float_text(trimmed)) raise_value_error("the payload is not a number");
    // strtod rounds correctly, gives infinity on overflow and zero (or a
    // subnormal) on underflow; neither is an error here.
    std::string copy(trimmed);
    return std::strtod(copy.c_str(), nullptr);
}

namespace {

Class<core::Message> message_class{
    "Message",
    "A message that arrived on a subscribed topic.\n\nCoAP and the loopback broker both hand back a topic and a "
    "payload, so one\nclass serves them rather than a near-identical type per transport.",
    [](auto& c) {
        c.no_borrow();  // never changes after it is made
        c.init({"topic", "payload"}, [](std::string_view topic, Payload payload) {
            return core::Message::make(topic, payload.bytes);
        });
        c.prop("topic", "The topic it was published to.", [](const core::Message& m) { return std::string_view(m.topic); });
        c.prop("payload", "The raw payload bytes.", [](const core::Message& m) { return ByteView(m.payload); });
        c.prop("text", "The payload as text: words, or a number written out.\n\nRaises `ValueError` if the payload is not UTF-8 text.",
               [](const core::Message& m) { return text_of(m.payload); });
        c.prop("number",
               "The payload as a number written out as text, such as `21.5`.\n\nRaises `ValueError` if the payload is not "
               "text or the text is not a number.",
               [](const core::Message& m) { return number_of(m.payload); });
        c.repr([](const core::Message& m) {
            std::string out = "Message(topic=";
            text::append_debug_quoted(out, m.topic);
            out += ", payload=" + std::to_string(m.payload.size()) + " bytes)";
            return out;
        });
    }};

}  // namespace

PyObject* make_message(core::Message message) { return make(std::move(message)); }

}  // namespace trovik::py
