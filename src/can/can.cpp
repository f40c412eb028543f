// CAN and CAN FD frames, acceptance filters, J1939 identifiers and signals.
#include <cstdint>
#include <expected>
#include <optional>
#include <tuple>
#include <utility>

#include "binding/binding.hpp"
#include "trovik/can/dlc.hpp"
#include "trovik/can/error.hpp"
#include "trovik/can/filter.hpp"
#include "trovik/can/frame.hpp"
#include "trovik/can/id.hpp"
#include "trovik/can/j1939.hpp"
#include "trovik/can/signals.hpp"

namespace trovik::py {

const BindingSource this_source{"can"};

namespace {

using can::CanError;
using can::Filter;
using can::Frame;
using can::Signals;
using J1939Message = can::j1939::Message;

// An identifier too wide for its format is a bad argument, not a failed
// operation: it raises ValueError. Every other CAN error is a TrovikError.
template <class T>
T checked(std::expected<T, CanError> result) {
    if (!result) {
        if (result.error().kind == CanError::Kind::IdTooWide) raise_value_error(result.error().message());
        raise_trovik(result.error().message());
    }
    return std::move(*result);
}

void require_fits(std::uint32_t id, bool extended) {
    if (!can::id_fits(id, extended)) raise_value_error(CanError{CanError::Kind::IdTooWide}.message());
}

constexpr const char* kExtendedDoc = "Whether the identifier is a 29-bit extended one.";

Class<Frame> frame_class{
    "CanFrame", "A CAN frame: an identifier, its flags, and its payload.", [](auto& c) {
        c.no_borrow();  // a snapshot: never changes
        c.prop("id", "The arbitration identifier, already masked to 11 or 29 bits.",
               [](const Frame& f) { return f.id(); });
        c.prop("extended", kExtendedDoc, [](const Frame& f) { return f.is_extended(); });
        c.prop("fd", "Whether this is a CAN-FD frame rather than classic CAN 2.0.",
               [](const Frame& f) { return f.is_fd(); });
        c.prop("remote", "Whether this is a remote transmission request, which carries no payload.",
               [](const Frame& f) { return f.is_remote(); });
        c.prop("len", "The data length: the payload length, or the length a remote frame requests.",
               [](const Frame& f) { return f.len(); });
        c.prop("dlc", "The data length code as it appears on the wire.", [](const Frame& f) { return f.dlc(); });
        c.prop("data", "The payload, empty for a remote frame.", [](const Frame& f) { return f.data(); });
    }};

Class<Filter> filter_class{
    "CanFilter",
    "A frame a node keeps: one whose identifier, masked, equals `id`, masked, and whose format is\nthe filter's.",
    [](auto& c) {
        c.no_borrow();  // immutable
        c.init({"id", "mask", arg("extended").def(false)}, [](std::uint32_t id, std::uint32_t mask, bool extended) {
            return checked(Filter::make(id, mask, extended));
        });
        c.def_static("exact", "A filter that passes one identifier and nothing else.",
                     {"id", arg("extended").def(false)},
                     [](std::uint32_t id, bool extended) { return make(checked(Filter::exact(id, extended))); });
        c.def_static("pgn",
                     "A filter that passes one J1939 parameter group at any priority, from any source, and for\nan "
                     "addressed group, to any destination.",
                     {"pgn"}, [](std::uint32_t pgn) { return make(Filter::pgn(pgn)); });
        c.def("matches", "Whether a frame with an identifier passes the filter.", {"id", arg("extended").def(false)},
              [](const Filter& self, std::uint32_t id, bool extended) { return self.passes(id, extended); });
        c.prop("id", "The identifier to match.", [](const Filter& f) { return f.id(); });
        c.prop("mask", "The identifier bits that have to match.", [](const Filter& f) { return f.mask(); });
        c.prop("extended", kExtendedDoc, [](const Filter& f) { return f.extended(); });
    }};

Class<J1939Message> j1939_message_class{
    "J1939Message", "The fields J1939 packs into an extended CAN identifier.", [](auto& c) {
        c.no_borrow();  // a snapshot: never changes
        c.prop("pgn", "The parameter group number, which names what the message carries.",
               [](const J1939Message& m) { return m.pgn; });
        c.prop("priority", "The message priority, 0 (highest) to 7.", [](const J1939Message& m) { return m.priority; });
        c.prop("source", "The source address: the node that sent the message.",
               [](const J1939Message& m) { return m.source; });
        c.prop("pdu_format", "The PDU format byte of the parameter group.",
               [](const J1939Message& m) { return m.pdu_format; });
        c.prop("destination",
               "The destination address for an addressed (PDU1) message, or `None` for a\nbroadcast (PDU2) one.",
               [](const J1939Message& m) { return m.destination; });
        c.prop("broadcast", "Whether the message is a broadcast.", [](const J1939Message& m) { return m.broadcast(); });
    }};

Class<Signals> signals_class{
    "Signals",
    "The eight data bytes of a J1939 frame, addressed by the signals inside them.\n\nA parameter group places each "
    "signal at a fixed byte offset, little-endian. A\npayload starts with every signal marked not available, so a "
    "controller writes\nonly the signals it actually reports.",
    [](auto& c) {
        c.init({}, [] { return Signals(); });
        c.def_static("from_bytes", "Reads the eight data bytes of a frame that arrived off the bus.", {"bytes"},
                     [](ByteView bytes) { return make(checked(Signals::from_bytes(bytes))); });
        c.prop("bytes", "The eight data bytes, ready to put in a frame.",
               [](const Signals& s) { return std::span<const std::uint8_t>(s.bytes()); });
        c.def("u8", "Reads a one-byte signal, or `None` if the offset is past the payload.", {"at"},
              [](const Signals& s, std::uint64_t at) { return s.u8(at); });
        c.def("u16", "Reads a two-byte little-endian signal, or `None` if it would run past the\npayload.", {"at"},
              [](const Signals& s, std::uint64_t at) { return s.u16(at); });
        c.def("set_u8", "Writes a one-byte signal at the offset its parameter group defines.", {"at", "value"},
              [](Signals& s, std::uint64_t at, std::uint8_t value) { s.set_u8(at, value); });
        c.def("set_u16", "Writes a two-byte little-endian signal at the offset its group defines.", {"at", "value"},
              [](Signals& s, std::uint64_t at, std::uint16_t value) { s.set_u16(at, value); });
    }};

const Function can_frame_fn{
    "can_frame",
    "Builds a classic CAN 2.0 frame, which carries up to eight bytes.",
    {"id", "extended", "data"},
    [](std::uint32_t id, bool extended, ByteView data) { return make(checked(Frame::classic(id, extended, data))); }};

const Function can_fd_frame_fn{
    "can_fd_frame",
    "Builds a CAN-FD frame, which carries up to 64 bytes at the discrete CAN-FD lengths.",
    {"id", "extended", "data"},
    [](std::uint32_t id, bool extended, ByteView data) { return make(checked(Frame::fd(id, extended, data))); }};

const Function can_remote_frame_fn{
    "can_remote_frame",
    "Builds a remote transmission request, which asks another node to send.",
    {"id", "extended", "len"},
    [](std::uint32_t id, bool extended, std::uint64_t len) { return make(checked(Frame::remote(id, extended, len))); }};

const Function can_len_to_dlc_fn{
    "can_len_to_dlc", "Returns the data length code that encodes a payload length.", {"len"}, [](std::uint64_t len) {
        return can::len_to_dlc(len);
    }};

const Function can_dlc_to_len_fn{
    "can_dlc_to_len", "Returns the payload length a data length code encodes.", {"dlc"}, [](std::uint8_t dlc) {
        return can::dlc_to_len(dlc);
    }};

const Function j1939_decode_fn{
    "j1939_decode",
    "Decodes the J1939 fields out of an extended CAN identifier.\n\nReturns `None` for a standard 11-bit identifier, "
    "which J1939 does not use.",
    {"id", "extended"},
    [](std::uint32_t id, bool extended) -> PyObject* {
        if (!extended) return none();
        require_fits(id, extended);
        return make(can::j1939::decode(id));
    }};

const Function j1939_compose_fn{
    "j1939_compose",
    "Composes the extended CAN identifier a set of J1939 fields describes.\n\nThe destination is used only for an "
    "addressed (PDU1) parameter group and\nignored for a broadcast (PDU2) one.",
    {"priority", "pgn", "source", "destination"},
    [](std::uint8_t priority, std::uint32_t pgn, std::uint8_t source, std::uint8_t destination) {
        return can::j1939::compose(priority, pgn, source, destination);
    }};

const Function j1939_broadcast_fn{
    "j1939_broadcast",
    "Composes the identifier of a J1939 broadcast, which every node on the bus reads.\n\nMost parameter groups are "
    "broadcast, so this is the common case; it saves a\ncaller knowing that a broadcast is addressed to `0xFF`.",
    {"priority", "pgn", "source"},
    [](std::uint8_t priority, std::uint32_t pgn, std::uint8_t source) {
        return can::j1939::broadcast(priority, pgn, source);
    }};

const Function j1939_limits_fn{
    "j1939_limits",
    "Returns the named values J1939 publishes.\n\nThe order is the not-available byte, the broadcast address, and "
    "the control,\ndefault, and lowest priorities.",
    {},
    [] {
        namespace j = can::j1939;
        return std::make_tuple(j::kNotAvailable, j::kGlobalAddress, j::kControlPriority, j::kDefaultPriority,
                               j::kLowestPriority);
    }};

}  // namespace
}  // namespace trovik::py
