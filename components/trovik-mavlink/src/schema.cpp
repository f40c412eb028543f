#include "trovik/mavlink/schema.hpp"

#include <algorithm>
#include <array>
#include <numeric>
#include <vector>

#include "trovik/mavlink/crc.hpp"
#include "trovik/mavlink/dialect.hpp"

namespace trovik::mavlink {
namespace {

constexpr std::array<std::string_view, kFieldTypeCount> kWireNames{"uint8_t", "int8_t",   "char",    "uint16_t",
                                                                   "int16_t", "uint32_t", "int32_t", "uint64_t",
                                                                   "int64_t", "float",    "double"};
constexpr std::array<std::uint8_t, kFieldTypeCount> kSizes{1, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};

// The common dialect's messages as it publishes them: base fields sorted by
// element size (largest first, declaration order among equals), then the
// extensions in declaration order.
constexpr FieldDescriptor kHeartbeatFields[] = {
    {"custom_mode", 0, FieldType::U32}, {"type", 0, FieldType::U8},          {"autopilot", 0, FieldType::U8},
    {"base_mode", 0, FieldType::U8},    {"system_status", 0, FieldType::U8}, {"mavlink_version", 0, FieldType::U8},
};
constexpr FieldDescriptor kSysStatusFields[] = {
    {"onboard_control_sensors_present", 0, FieldType::U32},
    {"onboard_control_sensors_enabled", 0, FieldType::U32},
    {"onboard_control_sensors_health", 0, FieldType::U32},
    {"load", 0, FieldType::U16},
    {"voltage_battery", 0, FieldType::U16},
    {"current_battery", 0, FieldType::I16},
    {"drop_rate_comm", 0, FieldType::U16},
    {"errors_comm", 0, FieldType::U16},
    {"errors_count1", 0, FieldType::U16},
    {"errors_count2", 0, FieldType::U16},
    {"errors_count3", 0, FieldType::U16},
    {"errors_count4", 0, FieldType::U16},
    {"battery_remaining", 0, FieldType::I8},
    {"onboard_control_sensors_present_extended", 0, FieldType::U32, true},
    {"onboard_control_sensors_enabled_extended", 0, FieldType::U32, true},
    {"onboard_control_sensors_health_extended", 0, FieldType::U32, true},
};
constexpr FieldDescriptor kSystemTimeFields[] = {
    {"time_unix_usec", 0, FieldType::U64},
    {"time_boot_ms", 0, FieldType::U32},
};
constexpr FieldDescriptor kPingFields[] = {
    {"time_usec", 0, FieldType::U64},
    {"seq", 0, FieldType::U32},
    {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8},
};
constexpr FieldDescriptor kSetModeFields[] = {
    {"custom_mode", 0, FieldType::U32},
    {"target_system", 0, FieldType::U8},
    {"base_mode", 0, FieldType::U8},
};
constexpr FieldDescriptor kParamRequestReadFields[] = {
    {"param_index", 0, FieldType::I16},
    {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8},
    {"param_id", 16, FieldType::Char},
};
constexpr FieldDescriptor kParamRequestListFields[] = {
    {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8},
};
constexpr FieldDescriptor kParamValueFields[] = {
    {"param_value", 0, FieldType::F32}, {"param_count", 0, FieldType::U16}, {"param_index", 0, FieldType::U16},
    {"param_id", 16, FieldType::Char},  {"param_type", 0, FieldType::U8},
};
constexpr FieldDescriptor kParamSetFields[] = {
    {"param_value", 0, FieldType::F32}, {"target_system", 0, FieldType::U8}, {"target_component", 0, FieldType::U8},
    {"param_id", 16, FieldType::Char},  {"param_type", 0, FieldType::U8},
};
constexpr FieldDescriptor kGpsRawIntFields[] = {
    {"time_usec", 0, FieldType::U64},
    {"lat", 0, FieldType::I32},
    {"lon", 0, FieldType::I32},
    {"alt", 0, FieldType::I32},
    {"eph", 0, FieldType::U16},
    {"epv", 0, FieldType::U16},
    {"vel", 0, FieldType::U16},
    {"cog", 0, FieldType::U16},
    {"fix_type", 0, FieldType::U8},
    {"satellites_visible", 0, FieldType::U8},
    {"alt_ellipsoid", 0, FieldType::I32, true},
    {"h_acc", 0, FieldType::U32, true},
    {"v_acc", 0, FieldType::U32, true},
    {"vel_acc", 0, FieldType::U32, true},
    {"hdg_acc", 0, FieldType::U32, true},
    {"yaw", 0, FieldType::U16, true},
};
constexpr FieldDescriptor kAttitudeFields[] = {
    {"time_boot_ms", 0, FieldType::U32}, {"roll", 0, FieldType::F32},      {"pitch", 0, FieldType::F32},
    {"yaw", 0, FieldType::F32},          {"rollspeed", 0, FieldType::F32}, {"pitchspeed", 0, FieldType::F32},
    {"yawspeed", 0, FieldType::F32},
};
constexpr FieldDescriptor kAttitudeQuaternionFields[] = {
    {"time_boot_ms", 0, FieldType::U32}, {"q1", 0, FieldType::F32},       {"q2", 0, FieldType::F32},
    {"q3", 0, FieldType::F32},           {"q4", 0, FieldType::F32},       {"rollspeed", 0, FieldType::F32},
    {"pitchspeed", 0, FieldType::F32},   {"yawspeed", 0, FieldType::F32}, {"repr_offset_q", 4, FieldType::F32, true},
};
constexpr FieldDescriptor kLocalPositionNedFields[] = {
    {"time_boot_ms", 0, FieldType::U32}, {"x", 0, FieldType::F32},  {"y", 0, FieldType::F32},  {"z", 0, FieldType::F32},
    {"vx", 0, FieldType::F32},           {"vy", 0, FieldType::F32}, {"vz", 0, FieldType::F32},
};
constexpr FieldDescriptor kGlobalPositionIntFields[] = {
    {"time_boot_ms", 0, FieldType::U32}, {"lat", 0, FieldType::I32},          {"lon", 0, FieldType::I32},
    {"alt", 0, FieldType::I32},          {"relative_alt", 0, FieldType::I32}, {"vx", 0, FieldType::I16},
    {"vy", 0, FieldType::I16},           {"vz", 0, FieldType::I16},           {"hdg", 0, FieldType::U16},
};
constexpr FieldDescriptor kServoOutputRawFields[] = {
    {"time_usec", 0, FieldType::U32},         {"servo1_raw", 0, FieldType::U16},
    {"servo2_raw", 0, FieldType::U16},        {"servo3_raw", 0, FieldType::U16},
    {"servo4_raw", 0, FieldType::U16},        {"servo5_raw", 0, FieldType::U16},
    {"servo6_raw", 0, FieldType::U16},        {"servo7_raw", 0, FieldType::U16},
    {"servo8_raw", 0, FieldType::U16},        {"port", 0, FieldType::U8},
    {"servo9_raw", 0, FieldType::U16, true},  {"servo10_raw", 0, FieldType::U16, true},
    {"servo11_raw", 0, FieldType::U16, true}, {"servo12_raw", 0, FieldType::U16, true},
    {"servo13_raw", 0, FieldType::U16, true}, {"servo14_raw", 0, FieldType::U16, true},
    {"servo15_raw", 0, FieldType::U16, true}, {"servo16_raw", 0, FieldType::U16, true},
};
constexpr FieldDescriptor kMissionRequestFields[] = {
    {"seq", 0, FieldType::U16},
    {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8},
    {"mission_type", 0, FieldType::U8, true},
};
constexpr FieldDescriptor kMissionCurrentFields[] = {
    {"seq", 0, FieldType::U16},
    {"total", 0, FieldType::U16, true},
    {"mission_state", 0, FieldType::U8, true},
    {"mission_mode", 0, FieldType::U8, true},
    {"mission_id", 0, FieldType::U32, true},
    {"fence_id", 0, FieldType::U32, true},
    {"rally_points_id", 0, FieldType::U32, true},
};
constexpr FieldDescriptor kMissionRequestListFields[] = {
    {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8},
    {"mission_type", 0, FieldType::U8, true},
};
constexpr FieldDescriptor kMissionCountFields[] = {
    {"count", 0, FieldType::U16},           {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8}, {"mission_type", 0, FieldType::U8, true},
    {"opaque_id", 0, FieldType::U32, true},
};
constexpr FieldDescriptor kMissionClearAllFields[] = {
    {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8},
    {"mission_type", 0, FieldType::U8, true},
};
constexpr FieldDescriptor kMissionAckFields[] = {
    {"target_system", 0, FieldType::U8},      {"target_component", 0, FieldType::U8}, {"type", 0, FieldType::U8},
    {"mission_type", 0, FieldType::U8, true}, {"opaque_id", 0, FieldType::U32, true},
};
constexpr FieldDescriptor kMissionRequestIntFields[] = {
    {"seq", 0, FieldType::U16},
    {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8},
    {"mission_type", 0, FieldType::U8, true},
};
constexpr FieldDescriptor kRcChannelsFields[] = {
    {"time_boot_ms", 0, FieldType::U32}, {"chan1_raw", 0, FieldType::U16},  {"chan2_raw", 0, FieldType::U16},
    {"chan3_raw", 0, FieldType::U16},    {"chan4_raw", 0, FieldType::U16},  {"chan5_raw", 0, FieldType::U16},
    {"chan6_raw", 0, FieldType::U16},    {"chan7_raw", 0, FieldType::U16},  {"chan8_raw", 0, FieldType::U16},
    {"chan9_raw", 0, FieldType::U16},    {"chan10_raw", 0, FieldType::U16}, {"chan11_raw", 0, FieldType::U16},
    {"chan12_raw", 0, FieldType::U16},   {"chan13_raw", 0, FieldType::U16}, {"chan14_raw", 0, FieldType::U16},
    {"chan15_raw", 0, FieldType::U16},   {"chan16_raw", 0, FieldType::U16}, {"chan17_raw", 0, FieldType::U16},
    {"chan18_raw", 0, FieldType::U16},   {"chancount", 0, FieldType::U8},   {"rssi", 0, FieldType::U8},
};
constexpr FieldDescriptor kManualControlFields[] = {
    {"x", 0, FieldType::I16},
    {"y", 0, FieldType::I16},
    {"z", 0, FieldType::I16},
    {"r", 0, FieldType::I16},
    {"buttons", 0, FieldType::U16},
    {"target", 0, FieldType::U8},
    {"buttons2", 0, FieldType::U16, true},
    {"enabled_extensions", 0, FieldType::U8, true},
    {"s", 0, FieldType::I16, true},
    {"t", 0, FieldType::I16, true},
    {"aux1", 0, FieldType::I16, true},
    {"aux2", 0, FieldType::I16, true},
    {"aux3", 0, FieldType::I16, true},
    {"aux4", 0, FieldType::I16, true},
    {"aux5", 0, FieldType::I16, true},
    {"aux6", 0, FieldType::I16, true},
};
constexpr FieldDescriptor kMissionItemIntFields[] = {
    {"param1", 0, FieldType::F32},
    {"param2", 0, FieldType::F32},
    {"param3", 0, FieldType::F32},
    {"param4", 0, FieldType::F32},
    {"x", 0, FieldType::I32},
    {"y", 0, FieldType::I32},
    {"z", 0, FieldType::F32},
    {"seq", 0, FieldType::U16},
    {"command", 0, FieldType::U16},
    {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8},
    {"frame", 0, FieldType::U8},
    {"current", 0, FieldType::U8},
    {"autocontinue", 0, FieldType::U8},
    {"mission_type", 0, FieldType::U8, true},
};
constexpr FieldDescriptor kVfrHudFields[] = {
    {"airspeed", 0, FieldType::F32}, {"groundspeed", 0, FieldType::F32}, {"alt", 0, FieldType::F32},
    {"climb", 0, FieldType::F32},    {"heading", 0, FieldType::I16},     {"throttle", 0, FieldType::U16},
};
constexpr FieldDescriptor kCommandIntFields[] = {
    {"param1", 0, FieldType::F32},
    {"param2", 0, FieldType::F32},
    {"param3", 0, FieldType::F32},
    {"param4", 0, FieldType::F32},
    {"x", 0, FieldType::I32},
    {"y", 0, FieldType::I32},
    {"z", 0, FieldType::F32},
    {"command", 0, FieldType::U16},
    {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8},
    {"frame", 0, FieldType::U8},
    {"current", 0, FieldType::U8},
    {"autocontinue", 0, FieldType::U8},
};
constexpr FieldDescriptor kCommandLongFields[] = {
    {"param1", 0, FieldType::F32},          {"param2", 0, FieldType::F32},      {"param3", 0, FieldType::F32},
    {"param4", 0, FieldType::F32},          {"param5", 0, FieldType::F32},      {"param6", 0, FieldType::F32},
    {"param7", 0, FieldType::F32},          {"command", 0, FieldType::U16},     {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8}, {"confirmation", 0, FieldType::U8},
};
constexpr FieldDescriptor kCommandAckFields[] = {
    {"command", 0, FieldType::U16},
    {"result", 0, FieldType::U8},
    {"progress", 0, FieldType::U8, true},
    {"result_param2", 0, FieldType::I32, true},
    {"target_system", 0, FieldType::U8, true},
    {"target_component", 0, FieldType::U8, true},
};
constexpr FieldDescriptor kSetPositionTargetLocalNedFields[] = {
    {"time_boot_ms", 0, FieldType::U32},
    {"x", 0, FieldType::F32},
    {"y", 0, FieldType::F32},
    {"z", 0, FieldType::F32},
    {"vx", 0, FieldType::F32},
    {"vy", 0, FieldType::F32},
    {"vz", 0, FieldType::F32},
    {"afx", 0, FieldType::F32},
    {"afy", 0, FieldType::F32},
    {"afz", 0, FieldType::F32},
    {"yaw", 0, FieldType::F32},
    {"yaw_rate", 0, FieldType::F32},
    {"type_mask", 0, FieldType::U16},
    {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8},
    {"coordinate_frame", 0, FieldType::U8},
};
constexpr FieldDescriptor kSetPositionTargetGlobalIntFields[] = {
    {"time_boot_ms", 0, FieldType::U32},
    {"lat_int", 0, FieldType::I32},
    {"lon_int", 0, FieldType::I32},
    {"alt", 0, FieldType::F32},
    {"vx", 0, FieldType::F32},
    {"vy", 0, FieldType::F32},
    {"vz", 0, FieldType::F32},
    {"afx", 0, FieldType::F32},
    {"afy", 0, FieldType::F32},
    {"afz", 0, FieldType::F32},
    {"yaw", 0, FieldType::F32},
    {"yaw_rate", 0, FieldType::F32},
    {"type_mask", 0, FieldType::U16},
    {"target_system", 0, FieldType::U8},
    {"target_component", 0, FieldType::U8},
    {"coordinate_frame", 0, FieldType::U8},
};
constexpr FieldDescriptor kBatteryStatusFields[] = {
    {"current_consumed", 0, FieldType::I32},  {"energy_consumed", 0, FieldType::I32},
    {"temperature", 0, FieldType::I16},       {"voltages", 10, FieldType::U16},
    {"current_battery", 0, FieldType::I16},   {"id", 0, FieldType::U8},
    {"battery_function", 0, FieldType::U8},   {"type", 0, FieldType::U8},
    {"battery_remaining", 0, FieldType::I8},  {"time_remaining", 0, FieldType::I32, true},
    {"charge_state", 0, FieldType::U8, true}, {"voltages_ext", 4, FieldType::U16, true},
    {"mode", 0, FieldType::U8, true},         {"fault_bitmask", 0, FieldType::U32, true},
};
constexpr FieldDescriptor kAutopilotVersionFields[] = {
    {"capabilities", 0, FieldType::U64},
    {"uid", 0, FieldType::U64},
    {"flight_sw_version", 0, FieldType::U32},
    {"middleware_sw_version", 0, FieldType::U32},
    {"os_sw_version", 0, FieldType::U32},
    {"board_version", 0, FieldType::U32},
    {"vendor_id", 0, FieldType::U16},
    {"product_id", 0, FieldType::U16},
    {"flight_custom_version", 8, FieldType::U8},
    {"middleware_custom_version", 8, FieldType::U8},
    {"os_custom_version", 8, FieldType::U8},
    {"uid2", 18, FieldType::U8, true},
};
constexpr FieldDescriptor kHomePositionFields[] = {
    {"latitude", 0, FieldType::I32},
    {"longitude", 0, FieldType::I32},
    {"altitude", 0, FieldType::I32},
    {"x", 0, FieldType::F32},
    {"y", 0, FieldType::F32},
    {"z", 0, FieldType::F32},
    {"q", 4, FieldType::F32},
    {"approach_x", 0, FieldType::F32},
    {"approach_y", 0, FieldType::F32},
    {"approach_z", 0, FieldType::F32},
    {"time_usec", 0, FieldType::U64, true},
};
constexpr FieldDescriptor kExtendedSysStateFields[] = {
    {"vtol_state", 0, FieldType::U8},
    {"landed_state", 0, FieldType::U8},
};
constexpr FieldDescriptor kStatustextFields[] = {
    {"severity", 0, FieldType::U8},
    {"text", 50, FieldType::Char},
    {"id", 0, FieldType::U16, true},
    {"chunk_seq", 0, FieldType::U8, true},
};
constexpr MessageDescriptor kMessages[] = {
    {"HEARTBEAT", kHeartbeatFields, 0, 50},
    {"SYS_STATUS", kSysStatusFields, 1, 124},
    {"SYSTEM_TIME", kSystemTimeFields, 2, 137},
    {"PING", kPingFields, 4, 237},
    {"SET_MODE", kSetModeFields, 11, 89},
    {"PARAM_REQUEST_READ", kParamRequestReadFields, 20, 214},
    {"PARAM_REQUEST_LIST", kParamRequestListFields, 21, 159},
    {"PARAM_VALUE", kParamValueFields, 22, 220},
    {"PARAM_SET", kParamSetFields, 23, 168},
    {"GPS_RAW_INT", kGpsRawIntFields, 24, 24},
    {"ATTITUDE", kAttitudeFields, 30, 39},
    {"ATTITUDE_QUATERNION", kAttitudeQuaternionFields, 31, 246},
    {"LOCAL_POSITION_NED", kLocalPositionNedFields, 32, 185},
    {"GLOBAL_POSITION_INT", kGlobalPositionIntFields, 33, 104},
    {"SERVO_OUTPUT_RAW", kServoOutputRawFields, 36, 222},
    {"MISSION_REQUEST", kMissionRequestFields, 40, 230},
    {"MISSION_CURRENT", kMissionCurrentFields, 42, 28},
    {"MISSION_REQUEST_LIST", kMissionRequestListFields, 43, 132},
    {"MISSION_COUNT", kMissionCountFields, 44, 221},
    {"MISSION_CLEAR_ALL", kMissionClearAllFields, 45, 232},
    {"MISSION_ACK", kMissionAckFields, 47, 153},
    {"MISSION_REQUEST_INT", kMissionRequestIntFields, 51, 196},
    {"RC_CHANNELS", kRcChannelsFields, 65, 118},
    {"MANUAL_CONTROL", kManualControlFields, 69, 243},
    {"MISSION_ITEM_INT", kMissionItemIntFields, 73, 38},
    {"VFR_HUD", kVfrHudFields, 74, 20},
    {"COMMAND_INT", kCommandIntFields, 75, 158},
    {"COMMAND_LONG", kCommandLongFields, 76, 152},
    {"COMMAND_ACK", kCommandAckFields, 77, 143},
    {"SET_POSITION_TARGET_LOCAL_NED", kSetPositionTargetLocalNedFields, 84, 143},
    {"SET_POSITION_TARGET_GLOBAL_INT", kSetPositionTargetGlobalIntFields, 86, 5},
    {"BATTERY_STATUS", kBatteryStatusFields, 147, 154},
    {"AUTOPILOT_VERSION", kAutopilotVersionFields, 148, 178},
    {"HOME_POSITION", kHomePositionFields, 242, 104},
    {"EXTENDED_SYS_STATE", kExtendedSysStateFields, 245, 130},
    {"STATUSTEXT", kStatustextFields, 253, 83},
};

// Every frame read without a dialect looks its seed up here, so ids map
// straight to their entry: 0x100 | seed, or 0 where the id has none.
struct Direct {
    std::array<std::uint16_t, 256> seed_plus_one{};
    std::array<std::int16_t, 256> index{};
};
constexpr Direct make_direct() {
    Direct d;
    d.index.fill(-1);
    for (std::size_t i = 0; i < std::size(kMessages); ++i) {
        d.seed_plus_one[kMessages[i].id] = static_cast<std::uint16_t>(0x100 | kMessages[i].crc_extra);
        d.index[kMessages[i].id] = static_cast<std::int16_t>(i);
    }
    return d;
}
constexpr Direct kDirect = make_direct();
constexpr std::uint32_t kLastKnownId = 253;

static_assert(std::ranges::is_sorted(kMessages, {}, &MessageDescriptor::id));
static_assert(std::size(kMessages) == 36 && kMessages[std::size(kMessages) - 1].id == kLastKnownId);

std::size_t sum_lengths(std::span<const FieldDescriptor> fields, bool with_extensions) {
    std::size_t n = 0;
    for (const FieldDescriptor& f : fields)
        if (with_extensions || !f.extension) n += f.length();
    return n;
}

}  // namespace

std::string_view wire_name(FieldType type) noexcept { return kWireNames[static_cast<std::size_t>(type)]; }
std::size_t element_size(FieldType type) noexcept { return kSizes[static_cast<std::size_t>(type)]; }

std::optional<FieldType> field_type_from_wire_name(std::string_view name) noexcept {
    for (std::size_t i = 0; i < kWireNames.size(); ++i)
        if (kWireNames[i] == name) return static_cast<FieldType>(i);
    if (name == "uint8_t_mavlink_version") return FieldType::U8;
    return std::nullopt;
}

std::size_t MessageDescriptor::wire_len() const noexcept { return sum_lengths(fields, true); }
std::size_t MessageDescriptor::base_len() const noexcept { return sum_lengths(fields, false); }

std::uint8_t crc_extra_of(std::string_view name, std::span<const FieldDescriptor> fields) noexcept {
    // Few fields per message: a small stack table would do, but a message may
    // be built at run time with up to 255 one-byte fields.
    std::vector<FieldDef> defs;
    defs.reserve(fields.size());
    for (const FieldDescriptor& f : fields)
        if (!f.extension) defs.push_back({wire_name(f.type), f.name, f.array_len});
    return message_crc_extra(name, defs);
}

std::span<const MessageDescriptor> known_messages() noexcept { return kMessages; }

const MessageDescriptor* descriptor(std::uint32_t id) noexcept {
    if (id > kLastKnownId || kDirect.index[id] < 0) return nullptr;
    return &kMessages[static_cast<std::size_t>(kDirect.index[id])];
}

const MessageDescriptor* descriptor_by_name(std::string_view name) noexcept {
    auto it = std::ranges::find(kMessages, name, &MessageDescriptor::name);
    return it == std::end(kMessages) ? nullptr : &*it;
}

std::optional<std::uint8_t> known_crc_extra(std::uint32_t msgid) noexcept {
    if (msgid > kLastKnownId) return std::nullopt;
    const std::uint16_t entry = kDirect.seed_plus_one[msgid];
    if (!entry) return std::nullopt;
    return static_cast<std::uint8_t>(entry);
}

}  // namespace trovik::mavlink
