// Messages as Python sees them.
#include "shared/message.hpp"

#include <string>
#include <string_view>

#include "binding/binding.hpp"
#include "runtime/receipt.hpp"
#include "shared/payload.hpp"
#include "trovik/core/number_text.hpp"
#include "trovik/core/text.hpp"

namespace trovik::py {

const BindingSource this_source{"transport"};

namespace text = core::text;

PyObject* text_of(std::span<const std::uint8_t> payload) {
    std::string_view s(reinterpret_cast<const char*>(payload.data()), payload.size());
    if (!text::is_valid_utf8(s)) raise_value_error("the payload is not UTF-8 text");
    return to_py(s);
}

double number_of(std::span<const std::uint8_t> payload) {
    std::string_view s(reinterpret_cast<const char*>(payload.data()), payload.size());
    if (!text::is_valid_utf8(s)) raise_value_error("the payload is not UTF-8 text");
    std::optional<double> number = core::number_text::parse_number(s);
    if (!number) raise_value_error("the payload is not a number");
    return *number;
}

namespace {

Class<core::Message> message_class{
    "Message",
    "A message that arrived on a subscribed topic.\n\nCoAP and the loopback broker both hand back a topic and a "
    "payload, so one\nclass serves them rather than a near-identical type per transport.",
    [](auto& c) {
        c.no_borrow();  // never changes after it is made
        c.init({"topic", "payload"}, [](std::string topic, Payload payload) {
            return core::Message{std::move(topic), std::move(payload).take()};
        });
        c.prop("topic", "The topic it was published to.",
               [](const core::Message& m) { return std::string_view(m.topic); });
        c.prop("payload", "The raw payload bytes.", [](const core::Message& m) { return ByteView(m.payload); });
        c.prop("text",
               "The payload as text: words, or a number written out.\n\nRaises `ValueError` if the payload is not "
               "UTF-8 text.",
               [](const core::Message& m) { return text_of(m.payload); });
        c.prop(
            "number",
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

bool is_message(PyObject* object) {
    PyTypeObject* type = ClassOf<core::Message>::cls->type();
    return type && PyObject_TypeCheck(object, type);
}

const core::Message& message_of(PyObject* object) { return Class<core::Message>::value_of(object); }

PyObject* message_or_none(std::optional<core::Message>& message) {
    return message ? make_message(std::move(*message)) : none();
}

}  // namespace trovik::py
