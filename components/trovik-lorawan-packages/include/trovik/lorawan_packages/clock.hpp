#pragma once
// The application-layer clock synchronization package (port 202): its
// commands, and the device side that asks for corrections and answers the
// server.
#include <cstdint>
#include <optional>
#include <span>

#include "trovik/lorawan_packages/command.hpp"

namespace trovik::lorawan::packages::clock {

enum class ClockKind : std::uint8_t {
    PackageVersionReq,
    PackageVersionAns,
    AppTimeReq,
    AppTimeAns,
    PeriodicityReq,
    PeriodicityAns,
    ForceResync,
};

struct ClockCommand {
    ClockKind kind = ClockKind::PackageVersionReq;
    std::uint8_t package = 0;
    std::uint8_t version = 0;
    std::uint32_t device_time = 0;  // seconds since the GPS epoch
    std::int32_t time_correction = 0;
    std::uint8_t token = 0;
    bool ans_required = false;
    std::uint8_t period = 0;
    bool not_supported = false;
    std::uint8_t transmissions = 0;

    static ParseResult<ClockCommand> parse(Direction direction, std::span<const std::uint8_t> payload);
    EncodeResult encode(std::span<std::uint8_t> out) const;
};

// What one downlink on the clock port told the device.
struct ClockHeard {
    std::optional<std::int32_t> correction{};
    std::optional<std::uint8_t> resync{};
    bool more_correction = false;  // the correction was as large as the field goes
    bool answer_due = false;  // this downlink asked for an answer; `ClockSync::answer_due()` says whether any is owed
};

class ClockSync {
public:
    explicit ClockSync(bool self_managed) noexcept : self_managed_(self_managed) {}

    // The request for a correction; the token moves on only when its
    // answer comes back.
    EncodeResult app_time_req(std::uint32_t device_time, bool ans_required, std::span<std::uint8_t> out);
    // A whole downlink is read before any of it is acted on, so a truncated
    // command leaves the state as it was rather than half applied.
    std::expected<ClockHeard, LorawanError> heard(std::span<const std::uint8_t> payload);
    // The answer owed, if any: 0 bytes when none is.
    EncodeResult answer(std::uint32_t device_time, std::span<std::uint8_t> out);

    std::uint8_t token() const noexcept { return token_; }
    std::uint32_t period_s() const noexcept { return std::uint32_t{128} << period_; }
    bool answer_due() const noexcept { return pending_.has_value(); }

private:
    std::optional<ClockCommand> pending_;
    std::uint8_t token_ = 0;
    std::uint8_t period_ = 0;
    bool self_managed_;
    bool awaiting_ = false;
};

}  // namespace trovik::lorawan::packages::clock
