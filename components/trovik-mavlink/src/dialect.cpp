#include "trovik/mavlink/dialect.hpp"

#include <algorithm>
#include <array>

#include "trovik/mavlink/frame.hpp"

namespace trovik::mavlink {
namespace {

struct Seed {
    std::uint32_t msgid;
    std::uint8_t crc_extra;
};

// The seeds the common dialect publishes for the built-in messages, by id.
constexpr std::array<Seed, 36> kKnownSeeds{{
    {0, 50},     // HEARTBEAT
    {1, 124},    // SYS_STATUS
    {2, 137},    // SYSTEM_TIME
    {4, 237},    // PING
    {11, 89},    // SET_MODE
    {20, 214},   // PARAM_REQUEST_READ
    {21, 159},   // PARAM_REQUEST_LIST
    {22, 220},   // PARAM_VALUE
    {23, 168},   // PARAM_SET
    {24, 24},    // GPS_RAW_INT
    {30, 39},    // ATTITUDE
    {31, 246},   // ATTITUDE_QUATERNION
    {32, 185},   // LOCAL_POSITION_NED
    {33, 104},   // GLOBAL_POSITION_INT
    {36, 222},   // SERVO_OUTPUT_RAW
    {40, 230},   // MISSION_REQUEST
    {42, 28},    // MISSION_CURRENT
    {43, 132},   // MISSION_REQUEST_LIST
    {44, 221},   // MISSION_COUNT
    {45, 232},   // MISSION_CLEAR_ALL
    {47, 153},   // MISSION_ACK
    {51, 196},   // MISSION_REQUEST_INT
    {65, 118},   // RC_CHANNELS
    {69, 243},   // MANUAL_CONTROL
    {73, 38},    // MISSION_ITEM_INT
    {74, 20},    // VFR_HUD
    {75, 158},   // COMMAND_INT
    {76, 152},   // COMMAND_LONG
    {77, 143},   // COMMAND_ACK
    {84, 143},   // SET_POSITION_TARGET_LOCAL_NED
    {86, 5},     // SET_POSITION_TARGET_GLOBAL_INT
    {147, 154},  // BATTERY_STATUS
    {148, 178},  // AUTOPILOT_VERSION
    {242, 104},  // HOME_POSITION
    {245, 130},  // EXTENDED_SYS_STATE
    {253, 83},   // STATUSTEXT
}};

// Every frame read without a dialect looks its seed up here, so ids map
// straight to their entry: 0x100 | seed, or 0 where the id has none.
struct Direct {
    std::array<std::uint16_t, 256> seed_plus_one{};
};
constexpr Direct make_direct() {
    Direct d;
    for (const Seed& s : kKnownSeeds)
        d.seed_plus_one[s.msgid] = static_cast<std::uint16_t>(0x100 | s.crc_extra);
    return d;
}
constexpr Direct kDirect = make_direct();

static_assert(std::ranges::is_sorted(kKnownSeeds, {}, &Seed::msgid));

}  // namespace

std::optional<std::uint8_t> known_crc_extra(std::uint32_t msgid) noexcept {
    if (msgid > 253) return std::nullopt;
    const std::uint16_t entry = kDirect.seed_plus_one[msgid];
    if (!entry) return std::nullopt;
    return static_cast<std::uint8_t>(entry);
}

std::expected<void, MavlinkError> Dialect::add(std::uint32_t msgid, std::uint8_t crc_extra) {
    if (msgid > kMaxMessageId) return std::unexpected(MavlinkError{MavlinkError::Kind::MessageIdTooLarge, msgid});
    auto it = std::ranges::find(entries_, msgid, &Entry::msgid);
    if (it != entries_.end())
        it->crc_extra = crc_extra;
    else
        entries_.push_back({msgid, crc_extra});
    return {};
}

std::optional<std::uint8_t> Dialect::resolve(std::uint32_t msgid) const noexcept {
    auto it = std::ranges::find(entries_, msgid, &Entry::msgid);
    if (it != entries_.end()) return it->crc_extra;
    return known_crc_extra(msgid);
}

}  // namespace trovik::mavlink
