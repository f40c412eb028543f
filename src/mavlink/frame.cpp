// MAVLink frames, their headers and checksums, and the seeds of dialects.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mavlink/mavlink.hpp"
#include "trovik/mavlink/crc.hpp"

namespace trovik::py {

const BindingSource this_source{"mavlink"};

void raise_mavlink(const mavlink::MavlinkError& e) {
    if (e.kind == mavlink::MavlinkError::Kind::MessageIdTooLarge) raise_value_error(e.message());
    raise_trovik(e.message());
}

std::optional<std::uint8_t> DialectCell::resolve(std::uint32_t msgid) const noexcept {
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->poisoned) return state_->dialect.resolve(msgid);
    }
    return mavlink::known_crc_extra(msgid);
}

void DialectCell::add(std::uint32_t msgid, std::uint8_t crc_extra) const {
    bool poisoned = false;
    std::expected<void, mavlink::MavlinkError> added;
    {
        std::lock_guard lock(state_->mutex);
        poisoned = state_->poisoned;
        if (!poisoned) {
            try {
                added = state_->dialect.add(msgid, crc_extra);
            } catch (...) {
                state_->poisoned = true;
                throw;
            }
        }
    }
    if (poisoned) raise_trovik("the dialect is poisoned");
    unwrap_mavlink(std::move(added));
}

// One `(type, name, array_len)` tuple of a message definition.
struct FieldSpec {
    std::string type;
    std::string name;
    std::uint8_t array_len = 0;
};

template <>
struct Caster<FieldSpec> {
    FieldSpec v;
    explicit Caster(PyObject* o) {
        if (!PyTuple_Check(o)) raise_not_instance(o, "tuple");
        const Py_ssize_t n = PyTuple_Size(o);
        if (n < 0) throw PendingError{};
        if (n != 3) raise_type_error("expected tuple of length 3, but got tuple of length " + std::to_string(n));
        // Copied: a sequence may hand out items that live no longer than this.
        v.type = std::string(to_text(PyTuple_GetItem(o, 0)));
        v.name = std::string(to_text(PyTuple_GetItem(o, 1)));
        v.array_len = Caster<std::uint8_t>(PyTuple_GetItem(o, 2)).get();
    }
    FieldSpec get() && { return std::move(v); }
};

namespace {

using mavlink::Frame;
using mavlink::Header;

std::uint8_t derived_seed(std::string_view name, const std::vector<FieldSpec>& fields) {
    std::vector<mavlink::FieldDef> defs;
    defs.reserve(fields.size());
    for (const FieldSpec& f : fields)
        defs.push_back({f.type, f.name, f.array_len});
    return mavlink::message_crc_extra(name, defs);
}

Class<Header> header_class{
    "MavlinkHeader", "The addressing fields a sender stamps on every frame.", [](auto& c) {
        c.no_borrow();  // a value: never changes
        c.init({"system_id", "component_id", arg("sequence").def(0)},
               [](std::uint8_t system_id, std::uint8_t component_id, std::uint8_t sequence) {
                   return Header{system_id, component_id, sequence};
               });
        c.prop("system_id", "The sending system's id.", [](const Header& h) { return h.system_id; });
        c.prop("component_id", "The sending component's id.", [](const Header& h) { return h.component_id; });
        c.prop("sequence", "The sender's sequence number, which wraps at 256.",
               [](const Header& h) { return h.sequence; });
        c.repr([](const Header& h) {
            return "MavlinkHeader(system_id=" + std::to_string(h.system_id) +
                   ", component_id=" + std::to_string(h.component_id) + ", sequence=" + std::to_string(h.sequence) +
                   ")";
        });
    }};

Class<Frame> frame_class{
    "MavlinkFrame", "One MAVLink frame, assembled or received.", [](auto& c) {
        c.no_borrow();  // a value: never changes once built
        c.def_static("encode_v2",
                     "Assembles a MAVLink 2 frame. The payload goes out without its trailing zeros\n"
                     "(its first byte always stays); a message id must fit in 24 bits.",
                     {"header", "msgid", "payload", "crc_extra"},
                     [](In<Header> header, std::uint32_t msgid, ByteView payload, std::uint8_t crc_extra) {
                         return make(unwrap_mavlink(Frame::encode_v2(*header, msgid, payload, crc_extra)));
                     });
        c.def_static("encode_v1", "Assembles a MAVLink 1 frame, whose message id is at most 255.",
                     {"header", "msgid", "payload", "crc_extra"},
                     [](In<Header> header, std::uint32_t msgid, ByteView payload, std::uint8_t crc_extra) {
                         return make(unwrap_mavlink(Frame::encode_v1(*header, msgid, payload, crc_extra)));
                     });
        c.def_static("raw",
                     "Assembles a MAVLink 2 frame of any message from its payload bytes, for\n"
                     "messages the built-in ones do not cover. The same bytes as `encode_v2`.",
                     {"header", "msgid", "crc_extra", "payload"},
                     [](In<Header> header, std::uint32_t msgid, std::uint8_t crc_extra, ByteView payload) {
                         return make(unwrap_mavlink(Frame::encode_v2(*header, msgid, payload, crc_extra)));
                     });
        c.def_static("parse",
                     "Reads one frame from the start of `data` and checks it against the given\n"
                     "`CRC_EXTRA` seed. Bytes after the frame are ignored.",
                     {"data", "crc_extra"}, [](ByteView data, std::uint8_t crc_extra) {
                         return make(unwrap_mavlink(Frame::parse(data, crc_extra)));
                     });
        c.def_static("parse_known",
                     "Reads one frame from the start of `data`, checked against the seed of its\n"
                     "own message id: the dialect's when one is given, else the built-in one.",
                     {"data", arg("dialect").none()}, [](ByteView data, std::optional<In<DialectCell>> dialect) {
                         return with_lookup(dialect, [&](mavlink::SeedLookup lookup) {
                             return make(unwrap_mavlink(Frame::parse_with(data, lookup)));
                         });
                     });
        c.prop("version", "The protocol version, 1 or 2.", [](const Frame& f) { return f.version(); });
        c.prop("header", "The sender's addressing fields.", [](const Frame& f) { return make(f.header()); });
        c.prop("message_id", "The id of the message the frame carries.", [](const Frame& f) { return f.message_id(); });
        c.prop("incompat_flags", "The incompatibility flags; 0 for a MAVLink 1 frame.",
               [](const Frame& f) { return f.incompat_flags(); });
        c.prop("signed",
               "Whether the frame carries a signature block. It says nothing of whether the\nsignature is good.",
               [](const Frame& f) { return f.is_signed(); });
        c.prop("payload", "The payload; a MAVLink 2 payload may have lost trailing zeros.",
               [](const Frame& f) { return f.payload(); });
        c.prop("bytes", "The whole frame, signature block included.", [](const Frame& f) { return f.as_bytes(); });
        c.prop("signature", "The 13-byte signature block, or `None` when the frame is not signed.",
               [](const Frame& f) -> PyObject* {
                   if (!f.is_signed()) return none();
                   return to_py(f.signature());
               });
        c.repr([](const Frame& f) {
            return "MavlinkFrame(version=" + std::to_string(f.version()) +
                   ", message_id=" + std::to_string(f.message_id()) + ", signed=" + (f.is_signed() ? "true" : "false") +
                   ")";
        });
    }};

Class<DialectCell> dialect_class{
    "Dialect", "The `CRC_EXTRA` seeds of a dialect beyond the common one.", [](auto& c) {
        c.no_borrow();  // the entries sit behind a mutex of their own
        c.init({}, "Creates a dialect with no seeds of its own.", [] { return DialectCell(); });
        c.def("add",
              "Adds the seed of a message, or replaces the one added before for its id.\nA message id must fit in "
              "24 bits.",
              {"msgid", "crc_extra"},
              [](const DialectCell& self, std::uint32_t msgid, std::uint8_t crc_extra) { self.add(msgid, crc_extra); });
        c.def("add_message",
              "Derives the seed of a message from its name and its base fields in wire\norder, as "
              "`(type, name, array_len)` tuples, adds it, and returns it.",
              {"msgid", "name", "fields"},
              [](const DialectCell& self, std::uint32_t msgid, std::string_view name, std::vector<FieldSpec> fields) {
                  const std::uint8_t seed = derived_seed(name, fields);
                  self.add(msgid, seed);
                  return seed;
              });
        c.def("crc_extra",
              "The seed for a message id: the dialect's own, else the built-in one, or\n`None` when neither knows "
              "it.",
              {"msgid"}, [](const DialectCell& self, std::uint32_t msgid) { return self.resolve(msgid); });
    }};

const Function crc16_fn{
    "mavlink_crc16_mcrf4xx", "Computes the CRC-16/MCRF4XX checksum MAVLink frames carry.", {"data"}, [](ByteView data) {
        return mavlink::crc16_mcrf4xx(data);
    }};

const Function message_crc_extra_fn{
    "mavlink_message_crc_extra",
    "Derives the `CRC_EXTRA` seed of a message from its name and its base fields\nin wire order, as `(type, name, "
    "array_len)` tuples.",
    {"name", "fields"},
    [](std::string_view name, std::vector<FieldSpec> fields) { return derived_seed(name, fields); }};

const Function known_crc_extra_fn{"mavlink_known_crc_extra",
                                  "The `CRC_EXTRA` seed of a built-in message, or `None` for any other id.",
                                  {"msgid"},
                                  [](std::uint32_t msgid) { return mavlink::known_crc_extra(msgid); }};

}  // namespace
}  // namespace trovik::py
