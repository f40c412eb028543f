#pragma once
// The MAC commands a class A device and its network exchange (LoRaWAN 1.0.4)
// and the relay commands of TS011-1.0.1, one struct per command and
// direction. Commands carry no length of their own: a run of them can only
// be read as far as the first identifier known here.
//
// Frequencies are held in hertz and travel as 24-bit counts of 100 Hz.
// Fields narrower than their type are masked to their width when written.
#include <array>
#include <cstdint>
#include <expected>
#include <iterator>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "trovik/lorawan/error.hpp"
#include "trovik/lorawan/session.hpp"

namespace trovik::lorawan {
namespace mac {

// Every command states its name (`kind`), identifier, direction and the
// bytes it takes on the wire (for FilterListReq, without its EUI).

struct LinkCheckReq {
    static constexpr std::uint8_t cid = 0x02;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 1;
    static constexpr std::string_view kind = "link_check_req";
    friend bool operator==(const LinkCheckReq&, const LinkCheckReq&) = default;
};
struct LinkCheckAns {
    static constexpr std::uint8_t cid = 0x02;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 3;
    static constexpr std::string_view kind = "link_check_ans";
    std::uint8_t margin = 0;  // dB above the demodulation floor
    std::uint8_t gateways = 0;
    friend bool operator==(const LinkCheckAns&, const LinkCheckAns&) = default;
};
struct LinkAdrReq {
    static constexpr std::uint8_t cid = 0x03;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 5;
    static constexpr std::string_view kind = "link_adr_req";
    std::uint8_t data_rate = 0;  // 4 bits
    std::uint8_t tx_power = 0;   // 4 bits
    std::uint16_t channel_mask = 0;
    std::uint8_t mask_control = 0;   // ChMaskCntl, 3 bits
    std::uint8_t transmissions = 0;  // NbTrans, 4 bits
    friend bool operator==(const LinkAdrReq&, const LinkAdrReq&) = default;
};
struct LinkAdrAns {
    static constexpr std::uint8_t cid = 0x03;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 2;
    static constexpr std::string_view kind = "link_adr_ans";
    bool power_ack = false;
    bool data_rate_ack = false;
    bool channel_mask_ack = false;
    friend bool operator==(const LinkAdrAns&, const LinkAdrAns&) = default;
};
struct DutyCycleReq {
    static constexpr std::uint8_t cid = 0x04;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 2;
    static constexpr std::string_view kind = "duty_cycle_req";
    std::uint8_t max_duty_cycle = 0;  // 4 bits: the device keeps to 1/2^n of the air
    friend bool operator==(const DutyCycleReq&, const DutyCycleReq&) = default;
};
struct DutyCycleAns {
    static constexpr std::uint8_t cid = 0x04;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 1;
    static constexpr std::string_view kind = "duty_cycle_ans";
    friend bool operator==(const DutyCycleAns&, const DutyCycleAns&) = default;
};
struct RxParamSetupReq {
    static constexpr std::uint8_t cid = 0x05;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 5;
    static constexpr std::string_view kind = "rx_param_setup_req";
    std::uint8_t rx1_offset = 0;     // 3 bits
    std::uint8_t rx2_data_rate = 0;  // 4 bits
    std::uint32_t frequency_hz = 0;
    friend bool operator==(const RxParamSetupReq&, const RxParamSetupReq&) = default;
};
struct RxParamSetupAns {
    static constexpr std::uint8_t cid = 0x05;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 2;
    static constexpr std::string_view kind = "rx_param_setup_ans";
    bool rx1_offset_ack = false;
    bool rx2_data_rate_ack = false;
    bool channel_ack = false;
    friend bool operator==(const RxParamSetupAns&, const RxParamSetupAns&) = default;
};
struct DevStatusReq {
    static constexpr std::uint8_t cid = 0x06;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 1;
    static constexpr std::string_view kind = "dev_status_req";
    friend bool operator==(const DevStatusReq&, const DevStatusReq&) = default;
};
struct DevStatusAns {
    static constexpr std::uint8_t cid = 0x06;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 3;
    static constexpr std::string_view kind = "dev_status_ans";
    std::uint8_t battery = 0;    // 0 on external power, 255 when unknown
    std::int8_t snr_margin = 0;  // a signed 6-bit number, -32 to 31
    friend bool operator==(const DevStatusAns&, const DevStatusAns&) = default;
};
struct NewChannelReq {
    static constexpr std::uint8_t cid = 0x07;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 6;
    static constexpr std::string_view kind = "new_channel_req";
    std::uint8_t index = 0;
    std::uint32_t frequency_hz = 0;
    std::uint8_t max_data_rate = 0;  // 4 bits
    std::uint8_t min_data_rate = 0;  // 4 bits
    friend bool operator==(const NewChannelReq&, const NewChannelReq&) = default;
};
struct NewChannelAns {
    static constexpr std::uint8_t cid = 0x07;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 2;
    static constexpr std::string_view kind = "new_channel_ans";
    bool data_rate_range_ok = false;
    bool frequency_ok = false;
    friend bool operator==(const NewChannelAns&, const NewChannelAns&) = default;
};
struct RxTimingSetupReq {
    static constexpr std::uint8_t cid = 0x08;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 2;
    static constexpr std::string_view kind = "rx_timing_setup_req";
    std::uint8_t delay = 0;  // the RxDelay code, 4 bits
    friend bool operator==(const RxTimingSetupReq&, const RxTimingSetupReq&) = default;
};
struct RxTimingSetupAns {
    static constexpr std::uint8_t cid = 0x08;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 1;
    static constexpr std::string_view kind = "rx_timing_setup_ans";
    friend bool operator==(const RxTimingSetupAns&, const RxTimingSetupAns&) = default;
};
struct TxParamSetupReq {
    static constexpr std::uint8_t cid = 0x09;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 2;
    static constexpr std::string_view kind = "tx_param_setup_req";
    bool downlink_dwell = false;
    bool uplink_dwell = false;
    std::uint8_t max_eirp = 0;  // the coded EIRP ceiling, 4 bits
    friend bool operator==(const TxParamSetupReq&, const TxParamSetupReq&) = default;
};
struct TxParamSetupAns {
    static constexpr std::uint8_t cid = 0x09;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 1;
    static constexpr std::string_view kind = "tx_param_setup_ans";
    friend bool operator==(const TxParamSetupAns&, const TxParamSetupAns&) = default;
};
struct DlChannelReq {
    static constexpr std::uint8_t cid = 0x0A;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 5;
    static constexpr std::string_view kind = "dl_channel_req";
    std::uint8_t index = 0;
    std::uint32_t frequency_hz = 0;
    friend bool operator==(const DlChannelReq&, const DlChannelReq&) = default;
};
struct DlChannelAns {
    static constexpr std::uint8_t cid = 0x0A;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 2;
    static constexpr std::string_view kind = "dl_channel_ans";
    bool uplink_frequency_exists = false;
    bool frequency_ok = false;
    friend bool operator==(const DlChannelAns&, const DlChannelAns&) = default;
};
struct DeviceTimeReq {
    static constexpr std::uint8_t cid = 0x0D;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 1;
    static constexpr std::string_view kind = "device_time_req";
    friend bool operator==(const DeviceTimeReq&, const DeviceTimeReq&) = default;
};
struct DeviceTimeAns {
    static constexpr std::uint8_t cid = 0x0D;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 6;
    static constexpr std::string_view kind = "device_time_ans";
    std::uint32_t seconds = 0;  // since the GPS epoch
    std::uint8_t fraction = 0;  // in 1/256 s
    friend bool operator==(const DeviceTimeAns&, const DeviceTimeAns&) = default;
};

// ---- relay commands ----------------------------------------------------------------------------

struct RelayConfReq {
    static constexpr std::uint8_t cid = 0x40;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 6;
    static constexpr std::string_view kind = "relay_conf_req";
    bool enabled = false;
    std::uint8_t cad_periodicity = 0;            // 3 bits
    std::uint8_t default_channel_index = 0;      // 1 bit
    std::uint8_t second_channel_index = 0;       // 2 bits
    std::uint8_t second_channel_data_rate = 0;   // 4 bits
    std::uint8_t second_channel_ack_offset = 0;  // 3 bits
    std::uint32_t frequency_hz = 0;              // of the second channel
    friend bool operator==(const RelayConfReq&, const RelayConfReq&) = default;
};
struct RelayConfAns {
    static constexpr std::uint8_t cid = 0x40;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 2;
    static constexpr std::string_view kind = "relay_conf_ans";
    bool cad_periodicity_ack = false;
    bool default_channel_index_ack = false;
    bool second_channel_index_ack = false;
    bool second_channel_data_rate_ack = false;
    bool second_channel_ack_offset_ack = false;
    bool second_channel_frequency_ack = false;
    friend bool operator==(const RelayConfAns&, const RelayConfAns&) = default;
};
struct EndDeviceConfReq {
    static constexpr std::uint8_t cid = 0x41;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 7;
    static constexpr std::string_view kind = "end_device_conf_req";
    std::uint8_t relay_mode = 0;                 // 2 bits
    std::uint8_t smart_enable_level = 0;         // 2 bits
    std::uint8_t back_off = 0;                   // 6 bits
    std::uint8_t second_channel_index = 0;       // 2 bits
    std::uint8_t second_channel_data_rate = 0;   // 4 bits
    std::uint8_t second_channel_ack_offset = 0;  // 3 bits
    std::uint32_t frequency_hz = 0;              // of the second channel
    friend bool operator==(const EndDeviceConfReq&, const EndDeviceConfReq&) = default;
};
struct EndDeviceConfAns {
    static constexpr std::uint8_t cid = 0x41;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 2;
    static constexpr std::string_view kind = "end_device_conf_ans";
    bool second_channel_ack_offset_ack = false;
    bool second_channel_index_ack = false;
    bool second_channel_data_rate_ack = false;
    bool second_channel_frequency_ack = false;
    friend bool operator==(const EndDeviceConfAns&, const EndDeviceConfAns&) = default;
};
// A join filter rule: `eui` holds the leading bytes of JoinEUI followed by
// DevEUI, most significant first; the wire carries `eui_len` of them
// reversed. A rule read with more than 16 keeps the most significant 16.
struct FilterListReq {
    static constexpr std::uint8_t cid = 0x42;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 3;
    static constexpr std::string_view kind = "filter_list_req";
    static constexpr std::size_t kMaxEuiLen = 16;
    std::uint8_t index = 0;    // 4 bits
    std::uint8_t action = 0;   // 2 bits
    std::uint8_t eui_len = 0;  // 5 bits on the wire; at most 16 to be written
    std::array<std::uint8_t, 16> eui{};
    friend bool operator==(const FilterListReq&, const FilterListReq&) = default;
};
struct FilterListAns {
    static constexpr std::uint8_t cid = 0x42;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 2;
    static constexpr std::string_view kind = "filter_list_ans";
    bool combined_rules_ack = false;
    bool eui_len_ack = false;
    bool action_ack = false;
    friend bool operator==(const FilterListAns&, const FilterListAns&) = default;
};
struct UpdateUplinkListReq {
    static constexpr std::uint8_t cid = 0x43;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 27;
    static constexpr std::string_view kind = "update_uplink_list_req";
    std::uint8_t index = 0;        // 4 bits
    std::uint8_t bucket_size = 0;  // 2 bits
    std::uint8_t reload_rate = 0;  // 6 bits
    std::uint32_t dev_addr = 0;
    std::uint32_t wfcnt = 0;
    std::array<std::uint8_t, 16> root_wor_s_key{};
    friend bool operator==(const UpdateUplinkListReq&, const UpdateUplinkListReq&) = default;
};
struct UpdateUplinkListAns {
    static constexpr std::uint8_t cid = 0x43;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 1;
    static constexpr std::string_view kind = "update_uplink_list_ans";
    friend bool operator==(const UpdateUplinkListAns&, const UpdateUplinkListAns&) = default;
};
struct CtrlUplinkListReq {
    static constexpr std::uint8_t cid = 0x44;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 2;
    static constexpr std::string_view kind = "ctrl_uplink_list_req";
    std::uint8_t action = 0;  // 1 bit
    std::uint8_t index = 0;   // 4 bits
    friend bool operator==(const CtrlUplinkListReq&, const CtrlUplinkListReq&) = default;
};
struct CtrlUplinkListAns {
    static constexpr std::uint8_t cid = 0x44;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 6;
    static constexpr std::string_view kind = "ctrl_uplink_list_ans";
    bool index_ack = false;
    std::uint32_t wfcnt = 0;
    friend bool operator==(const CtrlUplinkListAns&, const CtrlUplinkListAns&) = default;
};
struct ConfigureFwdLimitReq {
    static constexpr std::uint8_t cid = 0x45;
    static constexpr Direction direction = Direction::Downlink;
    static constexpr std::size_t size = 6;
    static constexpr std::string_view kind = "configure_fwd_limit_req";
    std::uint8_t reset_limit_counters = 0;       // 2 bits
    std::uint8_t join_request_reload_rate = 0;   // 7 bits
    std::uint8_t notify_reload_rate = 0;         // 7 bits
    std::uint8_t global_uplink_reload_rate = 0;  // 7 bits
    std::uint8_t overall_reload_rate = 0;        // 7 bits
    std::uint8_t join_request_bucket_size = 0;   // 2 bits
    std::uint8_t notify_bucket_size = 0;         // 2 bits
    std::uint8_t global_uplink_bucket_size = 0;  // 2 bits
    std::uint8_t overall_bucket_size = 0;        // 2 bits
    friend bool operator==(const ConfigureFwdLimitReq&, const ConfigureFwdLimitReq&) = default;
};
struct ConfigureFwdLimitAns {
    static constexpr std::uint8_t cid = 0x45;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 1;
    static constexpr std::string_view kind = "configure_fwd_limit_ans";
    friend bool operator==(const ConfigureFwdLimitAns&, const ConfigureFwdLimitAns&) = default;
};
// Carried from -142 to -15 dBm and -20 to 11 dB; values outside are written
// as the nearest bound.
struct NotifyNewEndDeviceReq {
    static constexpr std::uint8_t cid = 0x46;
    static constexpr Direction direction = Direction::Uplink;
    static constexpr std::size_t size = 7;
    static constexpr std::string_view kind = "notify_new_end_device_req";
    std::uint32_t dev_addr = 0;
    std::int16_t rssi_dbm = 0;
    std::int8_t snr_db = 0;
    friend bool operator==(const NotifyNewEndDeviceReq&, const NotifyNewEndDeviceReq&) = default;
};

}  // namespace mac

// One command of either direction, as a value (no heap storage).
class MacCommand {
public:
    using Variant =
        std::variant<mac::LinkCheckReq, mac::LinkCheckAns, mac::LinkAdrReq, mac::LinkAdrAns, mac::DutyCycleReq,
                     mac::DutyCycleAns, mac::RxParamSetupReq, mac::RxParamSetupAns, mac::DevStatusReq,
                     mac::DevStatusAns, mac::NewChannelReq, mac::NewChannelAns, mac::RxTimingSetupReq,
                     mac::RxTimingSetupAns, mac::TxParamSetupReq, mac::TxParamSetupAns, mac::DlChannelReq,
                     mac::DlChannelAns, mac::DeviceTimeReq, mac::DeviceTimeAns, mac::RelayConfReq, mac::RelayConfAns,
                     mac::EndDeviceConfReq, mac::EndDeviceConfAns, mac::FilterListReq, mac::FilterListAns,
                     mac::UpdateUplinkListReq, mac::UpdateUplinkListAns, mac::CtrlUplinkListReq, mac::CtrlUplinkListAns,
                     mac::ConfigureFwdLimitReq, mac::ConfigureFwdLimitAns, mac::NotifyNewEndDeviceReq>;
    static constexpr std::size_t kCount = std::variant_size_v<Variant>;

    // What `parse` read, and how many bytes of the run it took.
    struct Parsed;

    template <class C>
        requires std::is_constructible_v<Variant, C>
    constexpr MacCommand(C command) noexcept : value_(std::move(command)) {}

    // The command of `cid` in `direction`, with every field zero; none when
    // the identifier names no command there.
    static std::optional<MacCommand> blank(std::uint8_t cid, Direction direction) noexcept;

    // Reads the command at the start of `bytes`; whatever follows it is not
    // looked at.
    static std::expected<Parsed, LorawanError> parse(Direction direction, std::span<const std::uint8_t> bytes);
    // Writes the command at the start of `out`, returning its length. On a
    // frequency that cannot travel the bytes before it are already written.
    std::expected<std::size_t, LorawanError> encode(std::span<std::uint8_t> out) const;

    const Variant& variant() const noexcept { return value_; }
    Variant& variant() noexcept { return value_; }
    template <class C>
    const C* get_if() const noexcept {
        return std::get_if<C>(&value_);
    }
    template <class F>
    decltype(auto) visit(F&& f) const {
        return std::visit(std::forward<F>(f), value_);
    }
    template <class F>
    decltype(auto) visit(F&& f) {
        return std::visit(std::forward<F>(f), value_);
    }

    std::string_view kind() const noexcept;
    std::uint8_t cid() const noexcept;
    Direction direction() const noexcept;

    friend bool operator==(const MacCommand&, const MacCommand&) = default;

private:
    Variant value_;
};

struct MacCommand::Parsed {
    MacCommand command;
    std::size_t size;
};

// Writes the commands one after another and returns the total length. On an
// error the commands before the failing one are already written.
std::expected<std::size_t, LorawanError> encode_all(std::span<const MacCommand> commands, std::span<std::uint8_t> out);

// Walks a run of commands (FOpts, or a port-0 payload) up to its end, the
// first identifier not known in its direction (the rest is dropped
// silently), or one truncated command, whose error it yields once.
class MacCommands {
public:
    MacCommands(std::span<const std::uint8_t> run, Direction direction) noexcept : run_(run), direction_(direction) {}

    std::optional<std::expected<MacCommand, LorawanError>> next();

    class iterator {
    public:
        using value_type = std::expected<MacCommand, LorawanError>;
        using difference_type = std::ptrdiff_t;
        const value_type& operator*() const noexcept { return *current_; }
        iterator& operator++() {
            current_ = walk_->next();
            return *this;
        }
        void operator++(int) { ++*this; }
        friend bool operator==(const iterator& it, std::default_sentinel_t) noexcept { return !it.current_; }

    private:
        friend class MacCommands;
        explicit iterator(MacCommands* walk) : walk_(walk), current_(walk->next()) {}
        MacCommands* walk_;
        std::optional<value_type> current_;
    };
    iterator begin() { return iterator(this); }
    std::default_sentinel_t end() const noexcept { return {}; }

private:
    std::span<const std::uint8_t> run_;
    std::size_t position_ = 0;
    Direction direction_;
    bool finished_ = false;
};

}  // namespace trovik::lorawan
