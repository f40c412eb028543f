// The mission transfer, the command tracker and offboard setpoints.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mavlink/mavlink.hpp"
#include "mavlink/message.hpp"
#include "trovik/mavlink/command.hpp"
#include "trovik/mavlink/mission.hpp"
#include "trovik/mavlink/schema.hpp"

namespace trovik::py {

const BindingSource this_source{"mavlink_protocol"};

namespace {

using mavlink::AckOutcome;
using mavlink::CommandProtocol;
using mavlink::Frame;
using mavlink::Header;
using mavlink::MissionItemInt;
using mavlink::MissionReceiver;

struct SenderValue {
    std::vector<MissionItemInt> items;
    std::uint8_t target_system;
    std::uint8_t target_component;
    std::uint8_t mission_type;

    mavlink::MissionSender view() const { return {items, target_system, target_component, mission_type}; }
};

struct SenderStepValue {
    mavlink::MissionSender::Step step;
};

std::string some_or_none(std::optional<unsigned> v) {
    return v ? "Some(" + std::to_string(*v) + ")" : std::string("None");
}

Class<MissionReceiver::Step> receiver_step_class{
    "ReceiverStep", "What a mission receiver answers to one heard frame.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop(
            "kind", "\"request\" when the reply asks for an item, \"ack\" when it ends the transfer.",
            [](const MissionReceiver::Step& s) { return s.kind == MissionReceiver::Reply::Ack ? "ack" : "request"; });
        c.prop("reply", "The frame to send back.", [](const MissionReceiver::Step& s) { return make(s.reply); });
        c.prop("accepted", "The item this frame delivered, or `None`.",
               [](const MissionReceiver::Step& s) -> PyObject* {
                   if (!s.accepted) return none();
                   std::vector<std::uint8_t> payload(MissionItemInt::kWireLen);
                   s.accepted->encode(payload);
                   return make(MessageValue{
                       mavlink::OwnedMessageDescriptor::from_descriptor(*mavlink::descriptor(MissionItemInt::kId)),
                       std::move(payload)});
               });
        c.repr([](const MissionReceiver::Step& s) {
            return std::string("ReceiverStep(kind=\"") + (s.kind == MissionReceiver::Reply::Ack ? "ack" : "request") +
                   "\", accepted=" + (s.accepted ? "true" : "false") + ")";
        });
    }};

Class<MissionReceiver> receiver_class{
    "MissionReceiver", "The downloading end of a mission transfer: asks for a plan item by item.", [](auto& c) {
        c.init({"target_system", "target_component", arg("mission_type").def(0)},
               "Creates a receiver for the plan of one vehicle and one mission type.",
               [](std::uint8_t system, std::uint8_t component, std::uint8_t mission_type) {
                   return MissionReceiver(system, component, mission_type);
               });
        c.def("request_list", "The frame that starts a download.", {"header"},
              [](const MissionReceiver& self, In<Header> header) {
                  return make(unwrap_mavlink(self.request_list_frame(*header)));
              });
        c.def("on_frame",
              "Handles one heard frame; `None` for a message the receiver does not handle,\nand for an item heard "
              "before any count.",
              {"frame", "header"}, [](MissionReceiver& self, In<Frame> frame, In<Header> header) -> PyObject* {
                  auto step = self.on_frame(*frame, *header);
                  if (!step) return none();
                  return make(unwrap_mavlink(std::move(*step)));
              });
        c.prop("complete", "Whether every item was received and the acknowledgment produced.",
               [](const MissionReceiver& self) { return self.complete(); });
        c.prop("expected", "The next sequence number the receiver accepts.",
               [](const MissionReceiver& self) { return self.expected(); });
    }};

Class<SenderStepValue> sender_step_class{
    "SenderStep", "What a mission sender answers to one heard frame.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("kind", "\"reply\" when there is a frame to send, \"finished\" when the receiver acknowledged.",
               [](const SenderStepValue& s) { return std::holds_alternative<Frame>(s.step) ? "reply" : "finished"; });
        c.prop("reply", "The frame to send, or `None`.", [](const SenderStepValue& s) -> PyObject* {
            if (const auto* f = std::get_if<Frame>(&s.step)) return make(*f);
            return none();
        });
        c.prop("result", "The receiver's `MAV_MISSION_RESULT` when finished, else `None`.",
               [](const SenderStepValue& s) -> std::optional<unsigned> {
                   if (const auto* r = std::get_if<std::uint8_t>(&s.step)) return *r;
                   return std::nullopt;
               });
        c.repr([](const SenderStepValue& s) {
            const auto* r = std::get_if<std::uint8_t>(&s.step);
            return std::string("SenderStep(kind=\"") + (r ? "finished" : "reply") +
                   "\", result=" + some_or_none(r ? std::optional<unsigned>(*r) : std::nullopt) + ")";
        });
    }};

Class<SenderValue> sender_class{
    "MissionSender", "The uploading end of a mission transfer: answers requests from its plan.", [](auto& c) {
        c.init({"target_system", "target_component", arg("mission_type").def(0)},
               "Creates a sender with an empty plan.",
               [](std::uint8_t system, std::uint8_t component, std::uint8_t mission_type) {
                   return SenderValue{{}, system, component, mission_type};
               });
        c.def("add_item",
              "Appends one item, a `MISSION_ITEM_INT` payload, to the plan. Its seq, target\nids and mission type "
              "are replaced by the sender's own on the way out. A plan\nholds at most 65535 items, as many as "
              "`MISSION_COUNT` can announce.",
              {"item"}, [](SenderValue& self, ByteView item) {
                  if (self.items.size() >= mavlink::kMaxMissionItems)
                      raise_value_error("a mission plan holds at most 65535 items");
                  self.items.push_back(MissionItemInt::decode(item));
              });
        c.def("count", "The `MISSION_COUNT` frame that opens an upload.", {"header"},
              [](const SenderValue& self, In<Header> header) {
                  return make(unwrap_mavlink(self.view().count_frame(*header)));
              });
        c.def("on_frame", "Answers one heard frame; `None` for a message the sender does not handle.",
              {"frame", "header"}, [](const SenderValue& self, In<Frame> frame, In<Header> header) -> PyObject* {
                  auto step = self.view().on_frame(*frame, *header);
                  if (!step) return none();
                  return make(SenderStepValue{unwrap_mavlink(std::move(*step))});
              });
        c.len([](const SenderValue& self) { return self.items.size(); });
    }};

const char* kind_name(AckOutcome::Kind kind) {
    switch (kind) {
        case AckOutcome::Kind::Unrelated: return "unrelated";
        case AckOutcome::Kind::InProgress: return "in_progress";
        case AckOutcome::Kind::Final: return "final";
    }
    return "?";
}

std::optional<unsigned> value_of(const AckOutcome& a) {
    if (a.kind == AckOutcome::Kind::Unrelated) return std::nullopt;
    return a.value;
}

Class<AckOutcome> ack_outcome_class{
    "AckOutcome", "What one heard `COMMAND_ACK` says of the command in flight.", [](auto& c) {
        c.no_borrow();  // never changes
        c.prop("kind", "\"unrelated\", \"in_progress\" or \"final\".",
               [](const AckOutcome& a) { return kind_name(a.kind); });
        c.prop("value", "The progress for \"in_progress\", the `MAV_RESULT` for \"final\", else `None`.",
               [](const AckOutcome& a) { return value_of(a); });
        c.repr([](const AckOutcome& a) {
            return std::string("AckOutcome(kind=\"") + kind_name(a.kind) + "\", value=" + some_or_none(value_of(a)) +
                   ")";
        });
    }};

Class<CommandProtocol> command_class{
    "CommandProtocol", "Follows one command in flight: its acknowledgments and its retry budget.", [](auto& c) {
        c.init({"command", arg("max_retries").def(5)},
               "Starts tracking a `MAV_CMD`, allowing `max_retries` retransmissions after a\ntimeout.",
               [](std::uint16_t command, std::uint8_t max_retries) { return CommandProtocol(command, max_retries); });
        c.prop("command", "The command id being tracked.", [](const CommandProtocol& self) { return self.command(); });
        c.prop("confirmation", "The `confirmation` to stamp on the command being sent.",
               [](const CommandProtocol& self) { return self.confirmation(); });
        c.def("on_frame",
              "Classifies a heard frame against the command in flight; `None` when it is\nnot a `COMMAND_ACK`.",
              {"frame"}, [](const CommandProtocol& self, In<Frame> frame) -> PyObject* {
                  auto outcome = self.on_frame(*frame);
                  if (!outcome) return none();
                  return make(*outcome);
              });
        c.def("on_timeout",
              "Records a timeout: the new `confirmation` to stamp on the resend, or `None`\nonce the retry budget "
              "is spent.",
              [](CommandProtocol& self) { return self.on_timeout(); });
    }};

const Function type_mask_fn{
    "mavlink_offboard_type_mask",
    "The `type_mask` for the fields selected by `flags`: position 1, velocity 2,\nacceleration 4, yaw 8, yaw rate "
    "16, force 32 (`TypeMask`).",
    {"flags"},
    [](std::uint32_t flags) { return mavlink::offboard::type_mask(flags); }};

const Function local_position_fn{
    "mavlink_offboard_local_position",
    "A local-frame position setpoint, in meters in the chosen `MAV_FRAME`.",
    {"header", "time_boot_ms", "coordinate_frame", "target_system", "target_component", "x", "y", "z"},
    [](In<Header> header, std::uint32_t time_boot_ms, std::uint8_t frame, std::uint8_t system, std::uint8_t component,
       float x, float y, float z) {
        return make(unwrap_mavlink(
            mavlink::offboard::local_position(*header, {time_boot_ms, frame, system, component}, x, y, z)));
    }};

const Function local_velocity_fn{
    "mavlink_offboard_local_velocity",
    "A local-frame velocity setpoint, in meters per second in the chosen `MAV_FRAME`.",
    {"header", "time_boot_ms", "coordinate_frame", "target_system", "target_component", "vx", "vy", "vz"},
    [](In<Header> header, std::uint32_t time_boot_ms, std::uint8_t frame, std::uint8_t system, std::uint8_t component,
       float vx, float vy, float vz) {
        return make(unwrap_mavlink(
            mavlink::offboard::local_velocity(*header, {time_boot_ms, frame, system, component}, vx, vy, vz)));
    }};

const Function global_position_fn{
    "mavlink_offboard_global_position",
    "A global-frame position setpoint: latitude and longitude in degrees times ten\nmillion, altitude in meters.",
    {"header", "time_boot_ms", "coordinate_frame", "target_system", "target_component", "lat_int", "lon_int", "alt"},
    [](In<Header> header, std::uint32_t time_boot_ms, std::uint8_t frame, std::uint8_t system, std::uint8_t component,
       std::int32_t lat_int, std::int32_t lon_int, float alt) {
        return make(unwrap_mavlink(mavlink::offboard::global_position(*header, {time_boot_ms, frame, system, component},
                                                                      lat_int, lon_int, alt)));
    }};

}  // namespace
}  // namespace trovik::py
