#pragma once
// Driving a vehicle: following one command in flight (its acknowledgments and
// its retry budget), and the offboard setpoint frames. The caller builds and
// sends the command itself, stamping the current `confirmation`, and runs
// its own timer; nothing here reads a clock.
#include <cstdint>
#include <expected>
#include <optional>

#include "trovik/mavlink/error.hpp"
#include "trovik/mavlink/frame.hpp"

namespace trovik::mavlink {

inline constexpr std::uint32_t kCommandAck = 77;
inline constexpr std::uint8_t kResultInProgress = 5;  // MAV_RESULT_IN_PROGRESS

struct AckOutcome {
    enum class Kind : std::uint8_t { Unrelated, InProgress, Final };
    Kind kind;
    std::uint8_t value = 0;  // the progress for InProgress, the MAV_RESULT for Final
    friend bool operator==(const AckOutcome&, const AckOutcome&) = default;
};

class CommandProtocol {
public:
    explicit CommandProtocol(std::uint16_t command, std::uint8_t max_retries = 5) noexcept
        : command_(command), retries_left_(max_retries) {}

    // Nothing for a frame that is not a COMMAND_ACK. Changes nothing: an
    // acknowledgment neither ends the tracking nor resets the count.
    std::optional<AckOutcome> on_frame(const Frame& frame) const noexcept;
    // The confirmation to stamp on the resend, or nothing once the budget is spent.
    std::optional<std::uint8_t> on_timeout() noexcept;

    std::uint16_t command() const noexcept { return command_; }
    std::uint8_t confirmation() const noexcept { return confirmation_; }
    std::uint8_t retries_left() const noexcept { return retries_left_; }

private:
    std::uint16_t command_;
    std::uint8_t confirmation_ = 0;
    std::uint8_t retries_left_;
};

// The parts of a setpoint the vehicle is to follow; the others are ignored.
namespace offboard {

enum TypeMask : std::uint32_t {
    kPosition = 1,
    kVelocity = 2,
    kAcceleration = 4,
    kYaw = 8,
    kYawRate = 16,
    kForce = 32,
};

// POSITION_TARGET_TYPEMASK with the ignore bits of the selected parts
// cleared; 0xDFF (everything ignored) for none.
std::uint16_t type_mask(std::uint32_t flags) noexcept;

// Where a setpoint goes and when it was made.
struct Target {
    std::uint32_t time_boot_ms = 0;
    std::uint8_t coordinate_frame = 0;  // MAV_FRAME
    std::uint8_t target_system = 0;
    std::uint8_t target_component = 0;
};

// SET_POSITION_TARGET_LOCAL_NED for a position or a velocity, in metres or
// metres per second.
std::expected<Frame, MavlinkError> local_position(Header header, Target target, float x, float y, float z);
std::expected<Frame, MavlinkError> local_velocity(Header header, Target target, float vx, float vy, float vz);
// SET_POSITION_TARGET_GLOBAL_INT: degrees times ten million, metres.
std::expected<Frame, MavlinkError> global_position(Header header, Target target, std::int32_t lat_int,
                                                   std::int32_t lon_int, float alt);

}  // namespace offboard
}  // namespace trovik::mavlink
