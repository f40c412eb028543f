// Message shapes and messages read and written by field name.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mavlink/mavlink.hpp"
#include "mavlink/message.hpp"
#include "trovik/core/text.hpp"
#include "trovik/mavlink/dynamic.hpp"

namespace trovik::py {

const BindingSource this_source{"mavlink_schema"};

namespace {

using core::text::debug_quoted;
using mavlink::DynamicMessage;
using mavlink::FieldType;
using mavlink::MessageDescriptor;
using mavlink::MessageDescriptorBuilder;
using mavlink::OwnedMessageDescriptor;

struct FieldInfo {
    std::string name;
    FieldType type;
    std::uint8_t array_len;
    bool extension;
    std::size_t offset;
};

struct BuilderValue {
    std::optional<MessageDescriptorBuilder> builder;
};

[[noreturn]] void already_built() { raise_value_error("this builder has already been built"); }

// A field type given as 1 to 11 or as its wire name.
FieldType field_type_of(PyObject* o) {
    if (PyLong_Check(o)) {
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(o, &overflow);
        if (n == -1 && PyErr_Occurred()) throw PendingError{};
        if (overflow == 0 && n >= 0 && n <= 0xFFFFFFFFLL) {
            if (n < 1 || n > static_cast<long long>(mavlink::kFieldTypeCount))
                raise_value_error(std::to_string(n) + " is not a MAVLink field type");
            return static_cast<FieldType>(n - 1);
        }
    }
    const std::string_view name = to_text(o);
    auto type = mavlink::field_type_from_wire_name(name);
    if (!type) raise_value_error(std::string(name) + " is not a MAVLink field type");
    return *type;
}

void add_field(BuilderValue& self, std::string name, PyObject* field_type, std::uint8_t array_len, bool extension) {
    const FieldType type = field_type_of(field_type);
    if (!self.builder) already_built();
    if (extension)
        std::move(*self.builder).extension(std::move(name), type, array_len);
    else
        std::move(*self.builder).field(std::move(name), type, array_len);
}

// Runs `op` on the held payload decoded against the message's shape.
template <class Op>
decltype(auto) read(const MessageValue& m, Op&& op) {
    return m.shape.with_descriptor([&](const MessageDescriptor& d) -> decltype(auto) {
        const DynamicMessage message = unwrap_mavlink(DynamicMessage::decode(d, m.payload));
        return op(message);
    });
}

// The same for a change, which replaces the payload only when it succeeds.
template <class Op>
void write(MessageValue& m, Op&& op) {
    m.shape.with_descriptor([&](const MessageDescriptor& d) {
        DynamicMessage message = unwrap_mavlink(DynamicMessage::decode(d, m.payload));
        unwrap_mavlink(op(message));
        const auto bytes = message.payload();
        m.payload.assign(bytes.begin(), bytes.end());
    });
}

PyObject* int_to_py(const mavlink::FieldValue& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return to_py(static_cast<long long>(*i));
    if (const auto* u = std::get_if<std::uint64_t>(&v)) return to_py(static_cast<unsigned long long>(*u));
    raise_mavlink({mavlink::MavlinkError::Kind::FieldTypeMismatch});
}

PyObject* schema_of(const MessageDescriptor* d) { return make(OwnedMessageDescriptor::from_descriptor(*d)); }

Class<FieldInfo> field_info_class{
    "MavlinkFieldInfo", "One field of a message shape.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("name", "The field's name.", [](const FieldInfo& f) { return f.name; });
        c.prop("type_name", "The element type's MAVLink name.",
               [](const FieldInfo& f) { return mavlink::wire_name(f.type); });
        c.prop("field_type", "The element type, 1 to 11.",
               [](const FieldInfo& f) { return static_cast<unsigned>(f.type) + 1; });
        c.prop("array_len", "The element count of an array; 0 for a scalar.",
               [](const FieldInfo& f) { return f.array_len; });
        c.prop("extension", "Whether the field is a MAVLink 2 extension.",
               [](const FieldInfo& f) { return f.extension; });
        c.prop("offset", "The field's first byte in the payload.", [](const FieldInfo& f) { return f.offset; });
        c.repr([](const FieldInfo& f) {
            return "MavlinkFieldInfo(name=" + debug_quoted(f.name) +
                   ", type_name=" + debug_quoted(mavlink::wire_name(f.type)) +
                   ", array_len=" + std::to_string(f.array_len) + ", extension=" + (f.extension ? "true" : "false") +
                   ", offset=" + std::to_string(f.offset) + ")";
        });
    }};

Class<OwnedMessageDescriptor> schema_class{
    "MessageSchema", "The shape of one message: its id, name, seed, and fields.", [](auto& c) {
        c.no_borrow();  // never changes
        c.def_static("for_id", "The shape of a built-in message, by id.", {"msgid"}, [](std::uint32_t msgid) {
            const MessageDescriptor* d = mavlink::descriptor(msgid);
            if (!d) raise_value_error("message " + std::to_string(msgid) + " is not one this build types");
            return schema_of(d);
        });
        c.def_static("for_name", "The shape of a built-in message, by its exact name.", {"name"},
                     [](std::string_view name) {
                         const MessageDescriptor* d = mavlink::descriptor_by_name(name);
                         if (!d) raise_value_error(std::string(name) + " is not a message this build types");
                         return schema_of(d);
                     });
        c.prop("id", "The message id.", [](const OwnedMessageDescriptor& s) { return s.id; });
        c.prop("name", "The message name.", [](const OwnedMessageDescriptor& s) { return s.name; });
        c.prop("crc_extra", "The `CRC_EXTRA` seed.", [](const OwnedMessageDescriptor& s) { return s.crc_extra; });
        c.prop("wire_len", "The payload length with every field, extensions included.",
               [](const OwnedMessageDescriptor& s) {
                   return s.with_descriptor([](const MessageDescriptor& d) { return d.wire_len(); });
               });
        c.prop("fields", "The fields in wire order.", [](const OwnedMessageDescriptor& s) {
            Ref list(check(PyList_New(0)));
            std::size_t offset = 0;
            for (const auto& f : s.fields) {
                Ref info(make(FieldInfo{f.name, f.type, f.array_len, f.extension, offset}));
                if (PyList_Append(list.get(), info.get()) < 0) throw PendingError{};
                offset += f.length();
            }
            return list;
        });
        c.repr([](const OwnedMessageDescriptor& s) {
            return "MessageSchema(id=" + std::to_string(s.id) + ", name=" + debug_quoted(s.name) +
                   ", crc_extra=" + std::to_string(s.crc_extra) + ")";
        });
    }};

Class<BuilderValue> builder_class{
    "MessageSchemaBuilder",
    "A message definition given one field at a time, in declaration order; `build`\nputs the fields in wire order and "
    "derives the seed.",
    [](auto& c) {
        c.init({"msgid", "name"}, "Starts an empty definition. A message id must fit in 24 bits.",
               [](std::uint32_t msgid, std::string name) {
                   // Refused here, by the check every frame and dialect makes, rather
                   // than after a definition has been written out field by field.
                   unwrap_mavlink(mavlink::check_message_id(msgid));
                   return BuilderValue{MessageDescriptorBuilder(msgid, std::move(name))};
               });
        c.def("field", "Appends a base field: its type as 1 to 11 or a MAVLink type name.",
              {"name", "field_type", arg("array_len").def(0)},
              [](BuilderValue& self, std::string name, PyObject* field_type, std::uint8_t array_len) {
                  add_field(self, std::move(name), field_type, array_len, false);
              });
        c.def("extension", "Appends a MAVLink 2 extension field.", {"name", "field_type", arg("array_len").def(0)},
              [](BuilderValue& self, std::string name, PyObject* field_type, std::uint8_t array_len) {
                  add_field(self, std::move(name), field_type, array_len, true);
              });
        c.def("build", "Builds the shape. The builder is used up, even when the definition is refused.",
              [](BuilderValue& self) {
                  if (!self.builder) already_built();
                  MessageDescriptorBuilder builder = std::move(*self.builder);
                  self.builder.reset();
                  return make(unwrap_mavlink(std::move(builder).build()));
              });
    }};

Class<MessageValue> message_class{
    "MavlinkMessage", "A message read and written by field name against a schema.", [](auto& c) {
        c.def_static("empty", "A message of the schema with every field zero.", {"schema"},
                     [](In<OwnedMessageDescriptor> schema) {
                         MessageValue m{*schema, {}};
                         m.payload = read(m, [](const DynamicMessage& d) {
                             const auto p = d.payload();
                             return std::vector<std::uint8_t>(p.begin(), p.end());
                         });
                         return make(std::move(m));
                     });
        c.def_static("decode",
                     "Reads a payload against the schema. Missing trailing fields read as zero;\nbytes past the "
                     "layout belong to newer extensions and are left out.",
                     {"schema", "payload"}, [](In<OwnedMessageDescriptor> schema, ByteView payload) {
                         MessageValue m{*schema, {}};
                         m.payload = m.shape.with_descriptor([&](const MessageDescriptor& d) {
                             // Named: the payload is a view into the message.
                             const DynamicMessage message = unwrap_mavlink(DynamicMessage::decode(d, payload));
                             const auto p = message.payload();
                             return std::vector<std::uint8_t>(p.begin(), p.end());
                         });
                         return make(std::move(m));
                     });
        c.prop("message_id", "The message id.", [](const MessageValue& m) { return m.shape.id; });
        c.prop("name", "The message name.", [](const MessageValue& m) { return m.shape.name; });
        c.prop("payload", "The payload bytes.", [](const MessageValue& m) { return m.payload; });
        c.def("get", "Reads a field's element as a float.", {"field", arg("index").def(0)},
              [](const MessageValue& m, std::string_view field, std::size_t index) {
                  return read(m, [&](const DynamicMessage& d) { return unwrap_mavlink(d.get_number(field, index)); });
              });
        c.def("get_int", "Reads an integer field's element exactly.", {"field", arg("index").def(0)},
              [](const MessageValue& m, std::string_view field, std::size_t index) {
                  return read(m,
                              [&](const DynamicMessage& d) { return int_to_py(unwrap_mavlink(d.get(field, index))); });
              });
        c.def("set", "Writes a number into a field's element, if the field's type can hold it.",
              {"field", "value", arg("index").def(0)},
              [](MessageValue& m, std::string_view field, double value, std::size_t index) {
                  write(m, [&](DynamicMessage& d) { return d.set_number(field, index, value); });
              });
        c.def("set_int",
              "Writes an integer into a field's element exactly: from -2**63 to 2**64 - 1,\nas far as the field's "
              "type reaches.",
              {"field", "value", arg("index").def(0)},
              [](MessageValue& m, std::string_view field, WideInt value, std::size_t index) {
                  write(m, [&](DynamicMessage& d) {
                      return value.negative ? d.set_int(field, index, static_cast<std::int64_t>(value.bits))
                                            : d.set_uint(field, index, value.bits);
                  });
              });
        c.def("get_text", "Reads a char array up to its first zero byte.", {"field"},
              [](const MessageValue& m, std::string_view field) {
                  return read(m, [&](const DynamicMessage& d) { return unwrap_mavlink(d.text(field)); });
              });
        c.def("set_text", "Writes text into a char array, zero-padded.", {"field", "text"},
              [](MessageValue& m, std::string_view field, std::string_view text) {
                  write(m, [&](DynamicMessage& d) { return d.set_text(field, text); });
              });
        c.def("get_bytes", "Reads a whole byte array, padding included.", {"field"},
              [](const MessageValue& m, std::string_view field) {
                  return read(m, [&](const DynamicMessage& d) {
                      std::array<std::uint8_t, mavlink::kMaxPayloadLen> out{};
                      const std::size_t n = unwrap_mavlink(d.get_bytes(field, out));
                      return std::vector<std::uint8_t>(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
                  });
              });
        c.def("set_bytes", "Writes bytes into a byte array, zero-padded.", {"field", "data"},
              [](MessageValue& m, std::string_view field, ByteView data) {
                  write(m, [&](DynamicMessage& d) { return d.set_bytes(field, data); });
              });
        c.def("to_frame", "Assembles the message into a MAVLink 2 frame.", {"header"},
              [](const MessageValue& m, In<mavlink::Header> header) {
                  return read(m, [&](const DynamicMessage& d) { return make(unwrap_mavlink(d.to_frame(*header))); });
              });
        c.repr([](const MessageValue& m) {
            return "MavlinkMessage(name=" + debug_quoted(m.shape.name) + ", id=" + std::to_string(m.shape.id) + ")";
        });
    }};

const Function known_messages_fn{
    "mavlink_known_messages", "Returns the names of the messages this build types, in id order.", {}, [] {
        std::vector<std::string_view> names;
        for (const MessageDescriptor& d : mavlink::known_messages())
            names.push_back(d.name);
        return names;
    }};

}  // namespace
}  // namespace trovik::py
