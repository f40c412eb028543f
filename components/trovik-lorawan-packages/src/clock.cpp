#include "trovik/lorawan_packages/clock.hpp"

#include "trovik/core/little_endian.hpp"
#include "wire.hpp"

namespace trovik::lorawan::packages::clock {

using core::read_le;
using core::write_le;

namespace {

constexpr std::uint8_t kPackageId = 1;
constexpr std::uint8_t kPackageVersion = 2;

}  // namespace

ParseResult<ClockCommand> ClockCommand::parse(Direction direction, std::span<const std::uint8_t> p) {
    if (p.empty()) return wire::malformed();
    const std::uint8_t id = p[0];
    const bool up = direction == Direction::Uplink;
    ClockCommand c;
    std::size_t length = 0;
    switch (id) {
        case 0x00:
            c.kind = up ? ClockKind::PackageVersionAns : ClockKind::PackageVersionReq, length = up ? 3 : 1;
            break;
        case 0x01: c.kind = up ? ClockKind::AppTimeReq : ClockKind::AppTimeAns, length = 6; break;
        case 0x02: c.kind = up ? ClockKind::PeriodicityAns : ClockKind::PeriodicityReq, length = up ? 6 : 2; break;
        case 0x03:
            if (up) return wire::unknown(id);
            c.kind = ClockKind::ForceResync, length = 2;
            break;
        default: return wire::unknown(id);
    }
    if (p.size() < length) return wire::malformed();
    switch (c.kind) {
        case ClockKind::PackageVersionReq: break;
        case ClockKind::PackageVersionAns: c.package = p[1], c.version = p[2]; break;
        case ClockKind::AppTimeReq:
            c.device_time = read_le(&p[1], 4);
            c.token = p[5] & 0x0F;
            c.ans_required = wire::has(p[5], 4);
            break;
        case ClockKind::AppTimeAns:
            c.time_correction = static_cast<std::int32_t>(read_le(&p[1], 4));
            c.token = p[5] & 0x0F;
            break;
        case ClockKind::PeriodicityReq: c.period = p[1] & 0x0F; break;
        case ClockKind::PeriodicityAns:
            c.not_supported = wire::has(p[1], 0);
            c.device_time = read_le(&p[2], 4);
            break;
        case ClockKind::ForceResync: c.transmissions = p[1] & 0x07; break;
    }
    return Parsed<ClockCommand>{c, length};
}

EncodeResult ClockCommand::encode(std::span<std::uint8_t> out) const {
    std::size_t length = 6;
    std::uint8_t id = 0;
    switch (kind) {
        case ClockKind::PackageVersionReq: length = 1; break;
        case ClockKind::PackageVersionAns: length = 3; break;
        case ClockKind::AppTimeReq:
        case ClockKind::AppTimeAns: id = 0x01; break;
        case ClockKind::PeriodicityReq: length = 2, id = 0x02; break;
        case ClockKind::PeriodicityAns: id = 0x02; break;
        case ClockKind::ForceResync: length = 2, id = 0x03; break;
    }
    if (out.size() < length) return wire::too_large();
    std::uint8_t* o = out.data();
    o[0] = id;
    switch (kind) {
        case ClockKind::PackageVersionReq: break;
        case ClockKind::PackageVersionAns: o[1] = package, o[2] = version; break;
        case ClockKind::AppTimeReq:
            write_le(&o[1], device_time, 4);
            o[5] = (token & 0x0F) | wire::bit(ans_required, 4);
            break;
        case ClockKind::AppTimeAns:
            write_le(&o[1], static_cast<std::uint32_t>(time_correction), 4);
            o[5] = token & 0x0F;
            break;
        case ClockKind::PeriodicityReq: o[1] = period & 0x0F; break;
        case ClockKind::PeriodicityAns:
            o[1] = wire::bit(not_supported, 0);
            write_le(&o[2], device_time, 4);
            break;
        case ClockKind::ForceResync: o[1] = transmissions & 0x07; break;
    }
    return length;
}

EncodeResult ClockSync::app_time_req(std::uint32_t device_time, bool ans_required, std::span<std::uint8_t> out) {
    const ClockCommand request{
        .kind = ClockKind::AppTimeReq, .device_time = device_time, .token = token_, .ans_required = ans_required};
    auto written = request.encode(out);
    if (written) awaiting_ = true;
    return written;
}

std::expected<ClockHeard, LorawanError> ClockSync::heard(std::span<const std::uint8_t> payload) {
    // Acted on in a copy, kept only when the whole downlink read cleanly:
    // a truncated command must not leave an answer owed for a downlink the
    // caller is told failed.
    ClockSync next = *this;
    ClockHeard heard;
    std::size_t at = 0;
    while (at < payload.size()) {
        auto parsed = ClockCommand::parse(Direction::Downlink, payload.subspan(at));
        if (!parsed) {
            if (parsed.error().kind == LorawanError::Kind::UnknownMacCommand) break;
            return std::unexpected(parsed.error());
        }
        at += parsed->used;
        const ClockCommand& c = parsed->command;
        switch (c.kind) {
            case ClockKind::PackageVersionReq:
                next.pending_ = ClockCommand{
                    .kind = ClockKind::PackageVersionAns, .package = kPackageId, .version = kPackageVersion};
                heard.answer_due = true;
                break;
            case ClockKind::AppTimeAns:
                if (next.awaiting_ && c.token == next.token_) {
                    heard.correction = c.time_correction;
                    heard.more_correction = c.time_correction == INT32_MAX || c.time_correction == INT32_MIN;
                    next.token_ = (next.token_ + 1) & 0x0F;
                    next.awaiting_ = false;
                }
                break;
            case ClockKind::PeriodicityReq:
                if (!self_managed_) next.period_ = c.period;
                next.pending_ = ClockCommand{.kind = ClockKind::PeriodicityAns, .not_supported = self_managed_};
                heard.answer_due = true;
                break;
            case ClockKind::ForceResync:
                if (c.transmissions != 0) heard.resync = c.transmissions;
                break;
            default: break;  // uplink kinds never come out of a downlink parse
        }
    }
    *this = next;
    return heard;
}

EncodeResult ClockSync::answer(std::uint32_t device_time, std::span<std::uint8_t> out) {
    if (!pending_) return 0;
    ClockCommand owed = *pending_;
    if (owed.kind == ClockKind::PeriodicityAns) owed.device_time = device_time;
    auto written = owed.encode(out);
    if (written) pending_.reset();
    return written;
}

}  // namespace trovik::lorawan::packages::clock
