// MAC commands from Python: any command of either direction described as one
// object with an optional attribute per field, read from a run and written
// back.
#include "lorawan/mac.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding.hpp"
#include "lorawan/mac_fields.hpp"
#include "trovik/core/text.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan"};

namespace {

using lorawan::Direction;
using lorawan::MacCommand;

enum class FieldType : std::uint8_t { U8, U16, U32, I8, I16, Bool, Bytes };

struct FieldInfo {
    const char* name;
    FieldType type;
    const char* doc;
};

// The constructor's optional parameters, in order.
constexpr std::array<FieldInfo, kMacFieldCount> kFields{{
    {"margin", FieldType::U8, "LinkCheckAns: the link margin in dB above the demodulation floor."},
    {"gateways", FieldType::U8, "LinkCheckAns: how many gateways heard the request."},
    {"data_rate", FieldType::U8, "LinkADRReq: the data rate to use."},
    {"tx_power", FieldType::U8, "LinkADRReq: the coded transmit power."},
    {"channel_mask", FieldType::U16, "LinkADRReq: the 16-bit channel mask."},
    {"mask_control", FieldType::U8, "LinkADRReq: how the channel mask is applied (ChMaskCntl)."},
    {"transmissions", FieldType::U8, "LinkADRReq: how often each uplink is sent (NbTrans)."},
    {"power_ack", FieldType::Bool, "LinkADRAns: whether the power was accepted."},
    {"data_rate_ack", FieldType::Bool, "LinkADRAns: whether the data rate was accepted."},
    {"channel_mask_ack", FieldType::Bool, "LinkADRAns: whether the channel mask was accepted."},
    {"max_duty_cycle", FieldType::U8, "DutyCycleReq: the device keeps to 1/2^n of the air."},
    {"rx1_offset", FieldType::U8, "RXParamSetupReq: the first window's data-rate offset."},
    {"rx2_data_rate", FieldType::U8, "RXParamSetupReq: the second window's data rate."},
    {"frequency_hz", FieldType::U32, "A frequency in hertz, carried as a count of 100 Hz."},
    {"rx1_offset_ack", FieldType::Bool, "RXParamSetupAns: whether the offset was accepted."},
    {"rx2_data_rate_ack", FieldType::Bool, "RXParamSetupAns: whether the data rate was accepted."},
    {"channel_ack", FieldType::Bool, "RXParamSetupAns: whether the frequency was accepted."},
    {"battery", FieldType::U8, "DevStatusAns: the battery level, 0 on external power, 255 when unknown."},
    {"snr_margin", FieldType::I8, "DevStatusAns: the last downlink's margin in dB, -32 to 31."},
    {"index", FieldType::U8, "The channel, rule or list entry a command is about."},
    {"max_data_rate", FieldType::U8, "NewChannelReq: the highest data rate of the channel."},
    {"min_data_rate", FieldType::U8, "NewChannelReq: the lowest data rate of the channel."},
    {"data_rate_range_ok", FieldType::Bool, "NewChannelAns: whether the data-rate range was accepted."},
    {"frequency_ok", FieldType::Bool, "Whether the frequency was accepted."},
    {"delay", FieldType::U8, "RXTimingSetupReq: the RxDelay code."},
    {"max_eirp", FieldType::U8, "TxParamSetupReq: the coded EIRP ceiling."},
    {"uplink_dwell", FieldType::Bool, "TxParamSetupReq: whether uplinks keep to the dwell time."},
    {"downlink_dwell", FieldType::Bool, "TxParamSetupReq: whether downlinks keep to the dwell time."},
    {"uplink_frequency_exists", FieldType::Bool, "DlChannelAns: whether the uplink channel exists."},
    {"seconds", FieldType::U32, "DeviceTimeAns: seconds since the GPS epoch."},
    {"fraction", FieldType::U8, "DeviceTimeAns: the fraction of a second in 1/256 s."},
    {"enabled", FieldType::Bool, "RelayConfReq: whether the relay is on."},
    {"cad_periodicity", FieldType::U8, "RelayConfReq: the scan periodicity code."},
    {"default_channel_index", FieldType::U8, "RelayConfReq: which default WOR channel to use."},
    {"second_channel_index", FieldType::U8, "The second WOR channel's index, 1 when there is one."},
    {"second_channel_data_rate", FieldType::U8, "The second WOR channel's data rate."},
    {"second_channel_ack_offset", FieldType::U8, "The second WOR channel's ACK frequency offset code."},
    {"cad_periodicity_ack", FieldType::Bool, "RelayConfAns: whether the periodicity was accepted."},
    {"default_channel_index_ack", FieldType::Bool, "RelayConfAns: whether the default channel was accepted."},
    {"second_channel_index_ack", FieldType::Bool, "Whether the second channel's index was accepted."},
    {"second_channel_data_rate_ack", FieldType::Bool, "Whether the second channel's data rate was accepted."},
    {"second_channel_ack_offset_ack", FieldType::Bool, "Whether the second channel's ACK offset was accepted."},
    {"second_channel_frequency_ack", FieldType::Bool, "Whether the second channel's frequency was accepted."},
    {"relay_mode", FieldType::U8, "EndDeviceConfReq: when the device goes through a relay."},
    {"smart_enable_level", FieldType::U8, "EndDeviceConfReq: the smart enable level code."},
    {"back_off", FieldType::U8, "EndDeviceConfReq: uplinks sent directly before trying a relay."},
    {"action", FieldType::U8, "The action a filter rule or uplink list command takes."},
    {"eui_len", FieldType::U8, "FilterListReq: how many EUI bytes the rule matches."},
    {"eui", FieldType::Bytes, "FilterListReq: the EUI bytes a rule matches, most significant first."},
    {"combined_rules_ack", FieldType::Bool, "FilterListAns: whether the combined rules were accepted."},
    {"eui_len_ack", FieldType::Bool, "FilterListAns: whether the EUI length was accepted."},
    {"action_ack", FieldType::Bool, "FilterListAns: whether the action was accepted."},
    {"reload_rate", FieldType::U8, "UpdateUplinkListReq: the device's forwarding reload rate."},
    {"bucket_size", FieldType::U8, "UpdateUplinkListReq: the device's forwarding bucket size code."},
    {"dev_addr", FieldType::U32, "A device address."},
    {"wfcnt", FieldType::U32, "A WOR frame counter."},
    {"root_wor_s_key", FieldType::Bytes, "UpdateUplinkListReq: the device's RootWorSKey."},
    {"index_ack", FieldType::Bool, "CtrlUplinkListAns: whether the list entry exists."},
    {"reset_limit_counters", FieldType::U8, "ConfigureFwdLimitReq: how the limit counters are reset."},
    {"join_request_reload_rate", FieldType::U8, "ConfigureFwdLimitReq: the join request reload rate."},
    {"notify_reload_rate", FieldType::U8, "ConfigureFwdLimitReq: the notification reload rate."},
    {"global_uplink_reload_rate", FieldType::U8, "ConfigureFwdLimitReq: the uplink reload rate."},
    {"overall_reload_rate", FieldType::U8, "ConfigureFwdLimitReq: the overall reload rate."},
    {"join_request_bucket_size", FieldType::U8, "ConfigureFwdLimitReq: the join request bucket size code."},
    {"notify_bucket_size", FieldType::U8, "ConfigureFwdLimitReq: the notification bucket size code."},
    {"global_uplink_bucket_size", FieldType::U8, "ConfigureFwdLimitReq: the uplink bucket size code."},
    {"overall_bucket_size", FieldType::U8, "ConfigureFwdLimitReq: the overall bucket size code."},
    {"rssi_dbm", FieldType::I16, "NotifyNewEndDeviceReq: the new device's signal strength in dBm."},
    {"snr_db", FieldType::I8, "NotifyNewEndDeviceReq: the new device's signal to noise ratio in dB."},
}};

static_assert(kFields.back().name != nullptr, "every field has its entry");

std::size_t field_index(std::string_view name) {
    for (std::size_t i = 0; i < kFields.size(); ++i)
        if (name == kFields[i].name) return i;
    // Every name each_field gives is in the table: the doctests of the table
    // and the Python round trips keep them in step.
    raise_trovik("no MAC command field is named " + std::string(name));
}

template <class T>
std::optional<long long> number_in(PyObject* o, const char* name) {
    auto caster = cast_arg<std::optional<T>>(o, name);
    const std::optional<T> value = std::move(caster).get();
    if (!value) return std::nullopt;
    return static_cast<long long>(*value);
}

// Converts one optional argument by its field's type, with the binding
// layer's own refusals.
MacFieldValue field_in(PyObject* o, const FieldInfo& field) {
    MacFieldValue value;
    switch (field.type) {
        case FieldType::U8: value.number = number_in<std::uint8_t>(o, field.name); break;
        case FieldType::U16: value.number = number_in<std::uint16_t>(o, field.name); break;
        case FieldType::U32: value.number = number_in<std::uint32_t>(o, field.name); break;
        case FieldType::I8: value.number = number_in<std::int8_t>(o, field.name); break;
        case FieldType::I16: value.number = number_in<std::int16_t>(o, field.name); break;
        case FieldType::Bool: value.number = number_in<bool>(o, field.name); break;
        case FieldType::Bytes: value.bytes = cast_arg<std::optional<ByteVec>>(o, field.name).get(); break;
    }
    return value;
}

PyObject* field_out(const MacCommandValue& m, std::size_t i) {
    const MacFieldValue& value = m.fields[i];
    if (value.bytes) return to_py(*value.bytes);
    if (!value.number) return none();
    if (kFields[i].type == FieldType::Bool) return to_py(*value.number != 0);
    return to_py(*value.number);
}

// The constructor over all 71 parameters: the two named ones, then one
// object per field, converted here in order.
template <std::size_t>
using AnyArg = PyObject*;
template <class Seq>
struct MacInit;
template <std::size_t... I>
struct MacInit<std::index_sequence<I...>> {
    MacCommandValue operator()(std::uint8_t cid, std::string direction, AnyArg<I>... given) const {
        MacCommandValue value{.cid = cid, .direction = std::move(direction), .kind = {}, .fields = {}};
        PyObject* const objects[] = {given...};
        for (std::size_t i = 0; i < kFields.size(); ++i)
            value.fields[i] = field_in(objects[i], kFields[i]);
        return value;
    }
};

template <std::size_t I>
auto field_getter() {
    return [](const MacCommandValue& m) { return field_out(m, I); };
}

template <class C, std::size_t... I>
void define_fields(C& c, std::index_sequence<I...>) {
    c.init({ParamSpec("cid"), ParamSpec("direction"), ParamSpec(arg(kFields[I].name).none())...},
           MacInit<std::index_sequence<I...>>{});
    (c.prop(kFields[I].name, kFields[I].doc, field_getter<I>()), ...);
}

Class<MacCommandValue> mac_command_class{
    "LorawanMacCommand",
    "One of the commands a network and a device configure each other with.\n\n"
    "Only the fields a command carries are set, the rest being None; `direction`\n"
    "decides which command an identifier means.",
    [](auto& c) {
        c.no_borrow();  // never changes once made
        define_fields(c, std::make_index_sequence<kMacFieldCount>{});
        c.prop("kind", "The command's name, such as \"link_adr_req\"; empty for one made here.",
               [](const MacCommandValue& m) { return std::string_view(m.kind); });
        c.prop("cid", "The command identifier.", [](const MacCommandValue& m) { return m.cid; });
        c.prop("direction", "The direction, as given or as \"Uplink\" or \"Downlink\".",
               [](const MacCommandValue& m) { return std::string_view(m.direction); });
        c.def("encode", "Writes this command out.", [](const MacCommandValue& m) {
            std::array<std::uint8_t, 27> out{};
            const std::size_t size = unwrap(rebuild_command(m).encode(out));
            return to_py(std::span<const std::uint8_t>(out.data(), size));
        });
    }};

const Function mac_parse_fn{"lorawan_mac_parse",
                            "Reads the commands packed into a frame options field, or a payload sent on port 0.\n\n"
                            "The commands that were readable, in order.",
                            {"direction", "data"},
                            [](std::string_view direction, ByteView data) {
                                std::vector<Ref> commands;
                                for (const auto& item : lorawan::MacCommands(data, direction_named(direction))) {
                                    if (!item) break;
                                    commands.emplace_back(make(describe_mac(*item)));
                                }
                                return commands;
                            }};

}  // namespace

Direction direction_named(std::string_view text) noexcept {
    constexpr std::string_view kDownlink = "downlink";
    if (text.size() != kDownlink.size()) return Direction::Uplink;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != kDownlink[i]) return Direction::Uplink;
    }
    return Direction::Downlink;
}

MacCommand rebuild_command(const MacCommandValue& value) {
    auto command = MacCommand::blank(value.cid, direction_named(value.direction));
    if (!command)
        raise_trovik("identifier " + core::text::hex_prefixed(value.cid, 4) + " names no command in that direction");
    command->visit([&](auto& c) {
        each_field(c, [&](const char* name, auto& member) {
            using M = std::remove_cvref_t<decltype(member)>;
            const MacFieldValue& field = value.fields[field_index(name)];
            if constexpr (std::is_same_v<M, std::array<std::uint8_t, 16>>) {
                if (!field.bytes) {
                    member = {};
                } else {
                    if (field.bytes->size() != member.size())
                        raise_trovik(std::string(name) + " must be exactly 16 bytes");
                    std::ranges::copy(*field.bytes, member.begin());
                }
            } else if constexpr (std::is_same_v<M, bool>) {
                member = field.number.value_or(0) != 0;
            } else {
                // The constructor converted the number to this very type.
                member = static_cast<M>(field.number.value_or(0));
            }
        });
    });
    return *command;
}

MacCommandValue describe_mac(const MacCommand& command) {
    MacCommandValue value{.cid = command.cid(),
                          .direction = command.direction() == Direction::Downlink ? "Downlink" : "Uplink",
                          .kind = std::string(command.kind()),
                          .fields = {}};
    command.visit([&](const auto& c) {
        each_field(c, [&](const char* name, const auto& member) {
            using M = std::remove_cvref_t<decltype(member)>;
            MacFieldValue& field = value.fields[field_index(name)];
            if constexpr (std::is_same_v<M, std::array<std::uint8_t, 16>>)
                field.bytes.emplace(member.begin(), member.end());
            else
                field.number = static_cast<long long>(member);
        });
    });
    return value;
}

}  // namespace trovik::py
