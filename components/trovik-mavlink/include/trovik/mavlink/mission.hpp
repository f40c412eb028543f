#pragma once
// The two ends of a mission transfer, without I/O or timers: the caller
// hands each heard frame to `on_frame` with the header to stamp on the
// answer, and sends the frame that comes back.
//
//   receiver                      sender
//   MISSION_REQUEST_LIST  ---->
//                         <----  MISSION_COUNT n
//   MISSION_REQUEST_INT 0 ---->
//                         <----  MISSION_ITEM_INT 0
//   ...                          ...
//   MISSION_ACK           ---->  (finished)
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <variant>

#include "trovik/mavlink/error.hpp"
#include "trovik/mavlink/frame.hpp"
#include "trovik/mavlink/messages.hpp"

namespace trovik::mavlink {

inline constexpr std::uint32_t kMissionRequest = 40;
inline constexpr std::uint32_t kMissionRequestList = 43;
inline constexpr std::uint32_t kMissionCount = 44;
inline constexpr std::uint32_t kMissionAck = 47;
inline constexpr std::uint32_t kMissionRequestInt = 51;
// MAV_MISSION_RESULT values the protocol itself answers with.
inline constexpr std::uint8_t kMissionAccepted = 0;
inline constexpr std::uint8_t kMissionInvalidSequence = 13;
// MISSION_COUNT carries the number of items in 16 bits.
inline constexpr std::size_t kMaxMissionItems = 0xFFFF;

// Downloads one plan: asks for the list, takes the count, asks for each item
// in order and acknowledges the last. Accepted items are handed back, not kept.
class MissionReceiver {
public:
    enum class Reply : std::uint8_t { Request, Ack };
    struct Step {
        Frame reply;
        Reply kind;
        std::optional<MissionItemInt> accepted;
    };

    MissionReceiver(std::uint8_t target_system, std::uint8_t target_component, std::uint8_t mission_type = 0) noexcept
        : target_system_(target_system), target_component_(target_component), mission_type_(mission_type) {}

    std::expected<Frame, MavlinkError> request_list_frame(Header header) const;

    // Nothing for a message the receiver does not handle, and for an item
    // heard before any count (no transfer is under way to take it). A new
    // count starts the transfer afresh, even after one completed; once
    // complete, any item heard again (a sender that missed the
    // acknowledgment) is acknowledged again.
    std::optional<std::expected<Step, MavlinkError>> on_frame(const Frame& frame, Header header);

    std::uint16_t count() const noexcept { return count_; }
    std::uint16_t expected() const noexcept { return expected_; }
    bool complete() const noexcept { return complete_; }

private:
    std::expected<Step, MavlinkError> request(Header header) const;
    std::expected<Step, MavlinkError> ack(Header header, std::optional<MissionItemInt> accepted) const;

    std::uint16_t count_ = 0;
    std::uint16_t expected_ = 0;
    std::uint8_t target_system_;
    std::uint8_t target_component_;
    std::uint8_t mission_type_;
    bool complete_ = false;
    bool counted_ = false;  // a MISSION_COUNT has opened a transfer
};

// Answers a receiver's requests from a plan it borrows for one call. It keeps
// no transfer state: any number of transfers, requests in any order.
struct MissionSender {
    // The item frame, the acknowledgment of a request past the end, or the
    // count; or the receiver's result once it acknowledged.
    using Step = std::variant<Frame, std::uint8_t>;

    std::span<const MissionItemInt> items;
    std::uint8_t target_system = 0;
    std::uint8_t target_component = 0;
    std::uint8_t mission_type = 0;

    // `ValueOutOfRange` for a plan MISSION_COUNT cannot announce.
    std::expected<Frame, MavlinkError> count_frame(Header header) const;
    std::optional<std::expected<Step, MavlinkError>> on_frame(const Frame& frame, Header header) const;
};

}  // namespace trovik::mavlink
