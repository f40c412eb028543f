#pragma once
// Each MAC command's fields by name, in the order the command holds them:
// `each_field(command, f)` calls f(name, member) for every field, so that
// the Python face can describe and rebuild all 33 commands with one piece
// of code each way.
#include <type_traits>

#include "trovik/lorawan/mac_command.hpp"

namespace trovik::py {

template <class C, class F>
void each_field(C& c, F&& f) {
    namespace mac = lorawan::mac;
    using T = std::remove_const_t<C>;
    if constexpr (std::is_same_v<T, mac::LinkCheckAns>) {
        f("margin", c.margin);
        f("gateways", c.gateways);
    } else if constexpr (std::is_same_v<T, mac::LinkAdrReq>) {
        f("data_rate", c.data_rate);
        f("tx_power", c.tx_power);
        f("channel_mask", c.channel_mask);
        f("mask_control", c.mask_control);
        f("transmissions", c.transmissions);
    } else if constexpr (std::is_same_v<T, mac::LinkAdrAns>) {
        f("power_ack", c.power_ack);
        f("data_rate_ack", c.data_rate_ack);
        f("channel_mask_ack", c.channel_mask_ack);
    } else if constexpr (std::is_same_v<T, mac::DutyCycleReq>) {
        f("max_duty_cycle", c.max_duty_cycle);
    } else if constexpr (std::is_same_v<T, mac::RxParamSetupReq>) {
        f("rx1_offset", c.rx1_offset);
        f("rx2_data_rate", c.rx2_data_rate);
        f("frequency_hz", c.frequency_hz);
    } else if constexpr (std::is_same_v<T, mac::RxParamSetupAns>) {
        f("rx1_offset_ack", c.rx1_offset_ack);
        f("rx2_data_rate_ack", c.rx2_data_rate_ack);
        f("channel_ack", c.channel_ack);
    } else if constexpr (std::is_same_v<T, mac::DevStatusAns>) {
        f("battery", c.battery);
        f("snr_margin", c.snr_margin);
    } else if constexpr (std::is_same_v<T, mac::NewChannelReq>) {
        f("index", c.index);
        f("frequency_hz", c.frequency_hz);
        f("max_data_rate", c.max_data_rate);
        f("min_data_rate", c.min_data_rate);
    } else if constexpr (std::is_same_v<T, mac::NewChannelAns>) {
        f("data_rate_range_ok", c.data_rate_range_ok);
        f("frequency_ok", c.frequency_ok);
    } else if constexpr (std::is_same_v<T, mac::RxTimingSetupReq>) {
        f("delay", c.delay);
    } else if constexpr (std::is_same_v<T, mac::TxParamSetupReq>) {
        f("downlink_dwell", c.downlink_dwell);
        f("uplink_dwell", c.uplink_dwell);
        f("max_eirp", c.max_eirp);
    } else if constexpr (std::is_same_v<T, mac::DlChannelReq>) {
        f("index", c.index);
        f("frequency_hz", c.frequency_hz);
    } else if constexpr (std::is_same_v<T, mac::DlChannelAns>) {
        f("uplink_frequency_exists", c.uplink_frequency_exists);
        f("frequency_ok", c.frequency_ok);
    } else if constexpr (std::is_same_v<T, mac::DeviceTimeAns>) {
        f("seconds", c.seconds);
        f("fraction", c.fraction);
    } else if constexpr (std::is_same_v<T, mac::RelayConfReq>) {
        f("enabled", c.enabled);
        f("cad_periodicity", c.cad_periodicity);
        f("default_channel_index", c.default_channel_index);
        f("second_channel_index", c.second_channel_index);
        f("second_channel_data_rate", c.second_channel_data_rate);
        f("second_channel_ack_offset", c.second_channel_ack_offset);
        f("frequency_hz", c.frequency_hz);
    } else if constexpr (std::is_same_v<T, mac::RelayConfAns>) {
        f("cad_periodicity_ack", c.cad_periodicity_ack);
        f("default_channel_index_ack", c.default_channel_index_ack);
        f("second_channel_index_ack", c.second_channel_index_ack);
        f("second_channel_data_rate_ack", c.second_channel_data_rate_ack);
        f("second_channel_ack_offset_ack", c.second_channel_ack_offset_ack);
        f("second_channel_frequency_ack", c.second_channel_frequency_ack);
    } else if constexpr (std::is_same_v<T, mac::EndDeviceConfReq>) {
        f("relay_mode", c.relay_mode);
        f("smart_enable_level", c.smart_enable_level);
        f("back_off", c.back_off);
        f("second_channel_index", c.second_channel_index);
        f("second_channel_data_rate", c.second_channel_data_rate);
        f("second_channel_ack_offset", c.second_channel_ack_offset);
        f("frequency_hz", c.frequency_hz);
    } else if constexpr (std::is_same_v<T, mac::EndDeviceConfAns>) {
        f("second_channel_ack_offset_ack", c.second_channel_ack_offset_ack);
        f("second_channel_index_ack", c.second_channel_index_ack);
        f("second_channel_data_rate_ack", c.second_channel_data_rate_ack);
        f("second_channel_frequency_ack", c.second_channel_frequency_ack);
    } else if constexpr (std::is_same_v<T, mac::FilterListReq>) {
        f("index", c.index);
        f("action", c.action);
        f("eui_len", c.eui_len);
        f("eui", c.eui);
    } else if constexpr (std::is_same_v<T, mac::FilterListAns>) {
        f("combined_rules_ack", c.combined_rules_ack);
        f("eui_len_ack", c.eui_len_ack);
        f("action_ack", c.action_ack);
    } else if constexpr (std::is_same_v<T, mac::UpdateUplinkListReq>) {
        f("index", c.index);
        f("bucket_size", c.bucket_size);
        f("reload_rate", c.reload_rate);
        f("dev_addr", c.dev_addr);
        f("wfcnt", c.wfcnt);
        f("root_wor_s_key", c.root_wor_s_key);
    } else if constexpr (std::is_same_v<T, mac::CtrlUplinkListReq>) {
        f("action", c.action);
        f("index", c.index);
    } else if constexpr (std::is_same_v<T, mac::CtrlUplinkListAns>) {
        f("index_ack", c.index_ack);
        f("wfcnt", c.wfcnt);
    } else if constexpr (std::is_same_v<T, mac::ConfigureFwdLimitReq>) {
        f("reset_limit_counters", c.reset_limit_counters);
        f("join_request_reload_rate", c.join_request_reload_rate);
        f("notify_reload_rate", c.notify_reload_rate);
        f("global_uplink_reload_rate", c.global_uplink_reload_rate);
        f("overall_reload_rate", c.overall_reload_rate);
        f("join_request_bucket_size", c.join_request_bucket_size);
        f("notify_bucket_size", c.notify_bucket_size);
        f("global_uplink_bucket_size", c.global_uplink_bucket_size);
        f("overall_bucket_size", c.overall_bucket_size);
    } else if constexpr (std::is_same_v<T, mac::NotifyNewEndDeviceReq>) {
        f("dev_addr", c.dev_addr);
        f("rssi_dbm", c.rssi_dbm);
        f("snr_db", c.snr_db);
    } else {
        // Only the commands without a field are left.
        static_assert(std::is_empty_v<T>, "a command with fields needs its names here");
    }
}

}  // namespace trovik::py
