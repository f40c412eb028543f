// Mesh frames and the seen-packet cache.
#include <optional>
#include <tuple>

#include "binding/binding.hpp"
#include "trovik/mesh/crc.hpp"
#include "trovik/mesh/frame.hpp"
#include "trovik/mesh/seen.hpp"

namespace trovik::py {

const BindingSource this_source{"mesh"};

namespace {

using mesh::Frame;

Class<Frame> frame_class{
    "MeshFrame", "A mesh packet: its addressing, its payload, and the bytes to transmit.", [](auto& c) {
        c.no_borrow();  // a snapshot: never changes
        c.prop("version", "The protocol version the frame declares.", [](const Frame& f) { return f.version(); });
        c.prop("src", "The address of the node the frame came from.", [](const Frame& f) { return f.src(); });
        c.prop("dst", "The address the frame is addressed to.", [](const Frame& f) { return f.dst(); });
        c.prop("id", "The sequence number identifying this packet from this source.",
               [](const Frame& f) { return f.id(); });
        c.prop("hop_limit", "How many further relays the frame may take.",
               [](const Frame& f) { return f.hop_limit(); });
        c.prop("broadcast", "Whether the frame is addressed to every node.",
               [](const Frame& f) { return f.is_broadcast(); });
        c.prop("payload", "The payload the frame carries.", [](const Frame& f) { return f.payload(); });
        c.prop("bytes", "The whole frame as it goes on the air.", [](const Frame& f) { return f.bytes(); });
    }};

PyObject* built(std::expected<Frame, mesh::MeshError> frame, std::optional<std::uint8_t> hop_limit) {
    Frame f = unwrap(std::move(frame));
    if (hop_limit) f.set_hop_limit(*hop_limit);
    return make(f);
}

const Function mesh_frame_fn{
    "mesh_frame",
    "Builds a mesh frame addressed to one node.",
    {"src", "dst", "id", "payload", arg("hop_limit").none()},
    [](std::uint32_t src, std::uint32_t dst, std::uint16_t id, ByteView payload,
       std::optional<std::uint8_t> hop_limit) { return built(Frame::make(src, dst, id, payload), hop_limit); }};

const Function mesh_broadcast_frame_fn{
    "mesh_broadcast_frame",
    "Builds a mesh frame addressed to every node.",
    {"src", "id", "payload", arg("hop_limit").none()},
    [](std::uint32_t src, std::uint16_t id, ByteView payload, std::optional<std::uint8_t> hop_limit) {
        return built(Frame::broadcast(src, id, payload), hop_limit);
    }};

const Function mesh_parse_frame_fn{"mesh_parse_frame",
                                   "Parses a frame received off a radio, rejecting anything the air mangled.",
                                   {"bytes"},
                                   [](ByteView bytes) { return make(unwrap(Frame::parse(bytes))); }};

const Function mesh_relayed_fn{"mesh_relayed",
                               "Returns the same frame with one hop spent, or `None` once its hops run out.",
                               {"bytes"},
                               [](ByteView bytes) -> PyObject* {
                                   std::optional<Frame> next = unwrap(mesh::relayed(bytes));
                                   return next ? make(*next) : none();
                               }};

const Function mesh_crc16_fn{"mesh_crc16", "Computes the CRC-16 a mesh frame carries.", {"data"}, [](ByteView data) {
                                 return mesh::crc16(data);
                             }};

const Function mesh_limits_fn{
    "mesh_limits",
    "Returns the frame, payload, and cache sizes a mesh node works within.\n\nThe order is the maximum frame "
    "length, the maximum payload, the broadcast\naddress, the default hop limit, the duplicate-cache capacity, "
    "and the header\nlength.",
    {},
    [] {
        return std::make_tuple(mesh::kMaxFrameLen, mesh::kMaxPayload, mesh::kBroadcast, mesh::kDefaultHopLimit,
                               mesh::kDefaultCacheCapacity, mesh::kHeaderLen);
    }};

Class<mesh::DynamicSeenCache> seen_class{
    "SeenPackets", "A memory of recently seen packets, so a node relays each one only once.", [](auto& c) {
        c.init({arg("capacity").def(64).show("...")},
               "Creates an empty cache remembering up to `capacity` packets.\n\nA capacity of zero remembers "
               "nothing, so every copy of a packet is relayed.",
               [](std::size_t capacity) {
                   // The whole cache is taken at once.
                   return allocating([&] { return mesh::DynamicSeenCache(capacity); });
               });
        c.def("record",
              "Records a packet and reports whether it was new.\n\nA true answer is when a node should act on the "
              "packet and relay it; a\nfalse one means another copy already arrived by a different path.",
              {"src", "id"},
              [](mesh::DynamicSeenCache& self, std::uint32_t src, std::uint16_t id) { return self.record(src, id); });
        c.def("contains", "Reports whether a packet is currently remembered, without recording it.", {"src", "id"},
              [](const mesh::DynamicSeenCache& self, std::uint32_t src, std::uint16_t id) {
                  return self.contains(src, id);
              });
        c.prop("capacity", "How many packets this cache remembers.",
               [](const mesh::DynamicSeenCache& self) { return self.capacity(); });
    }};

}  // namespace
}  // namespace trovik::py
