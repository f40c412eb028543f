#include "trovik/lorawan/mac_command.hpp"

#include <algorithm>

#include "frequency.hpp"
#include "le.hpp"

namespace trovik::lorawan {
namespace {

using Kind = LorawanError::Kind;
using namespace mac;

constexpr std::uint8_t bits(std::uint32_t value, int shift, int width) noexcept {
    return static_cast<std::uint8_t>((value >> shift) & ((1u << width) - 1));
}
constexpr bool bit(std::uint32_t value, int shift) noexcept { return (value >> shift) & 1; }
constexpr std::uint32_t place(std::uint32_t value, int shift, int width) noexcept {
    return (value & ((1u << width) - 1)) << shift;
}

std::uint32_t read_frequency(const std::uint8_t* at) noexcept { return frequency::read(at); }
bool write_frequency(std::uint8_t* at, std::uint32_t hz) noexcept {
    if (!frequency::carried(hz)) return false;
    frequency::write(at, hz);
    return true;
}

// ---- reading: `b` holds at least the command's size, b[0] its CID ------------------------------

void read(LinkCheckReq&, const std::uint8_t*) {}
void read(LinkCheckAns& c, const std::uint8_t* b) {
    c.margin = b[1];
    c.gateways = b[2];
}
void read(LinkAdrReq& c, const std::uint8_t* b) {
    c.data_rate = bits(b[1], 4, 4);
    c.tx_power = bits(b[1], 0, 4);
    c.channel_mask = static_cast<std::uint16_t>(le::read(b + 2, 2));
    c.mask_control = bits(b[4], 4, 3);
    c.transmissions = bits(b[4], 0, 4);
}
void read(LinkAdrAns& c, const std::uint8_t* b) {
    c.power_ack = bit(b[1], 2);
    c.data_rate_ack = bit(b[1], 1);
    c.channel_mask_ack = bit(b[1], 0);
}
void read(DutyCycleReq& c, const std::uint8_t* b) { c.max_duty_cycle = bits(b[1], 0, 4); }
void read(DutyCycleAns&, const std::uint8_t*) {}
void read(RxParamSetupReq& c, const std::uint8_t* b) {
    c.rx1_offset = bits(b[1], 4, 3);
    c.rx2_data_rate = bits(b[1], 0, 4);
    c.frequency_hz = read_frequency(b + 2);
}
void read(RxParamSetupAns& c, const std::uint8_t* b) {
    c.rx1_offset_ack = bit(b[1], 2);
    c.rx2_data_rate_ack = bit(b[1], 1);
    c.channel_ack = bit(b[1], 0);
}
void read(DevStatusReq&, const std::uint8_t*) {}
void read(DevStatusAns& c, const std::uint8_t* b) {
    c.battery = b[1];
    // A six-bit two's complement number: bit 5 is the sign.
    const std::uint8_t margin = bits(b[2], 0, 6);
    c.snr_margin = static_cast<std::int8_t>(bit(margin, 5) ? margin | 0xC0 : margin);
}
void read(NewChannelReq& c, const std::uint8_t* b) {
    c.index = b[1];
    c.frequency_hz = read_frequency(b + 2);
    c.max_data_rate = bits(b[5], 4, 4);
    c.min_data_rate = bits(b[5], 0, 4);
}
void read(NewChannelAns& c, const std::uint8_t* b) {
    c.data_rate_range_ok = bit(b[1], 1);
    c.frequency_ok = bit(b[1], 0);
}
void read(RxTimingSetupReq& c, const std::uint8_t* b) { c.delay = bits(b[1], 0, 4); }
void read(RxTimingSetupAns&, const std::uint8_t*) {}
void read(TxParamSetupReq& c, const std::uint8_t* b) {
    c.downlink_dwell = bit(b[1], 5);
    c.uplink_dwell = bit(b[1], 4);
    c.max_eirp = bits(b[1], 0, 4);
}
void read(TxParamSetupAns&, const std::uint8_t*) {}
void read(DlChannelReq& c, const std::uint8_t* b) {
    c.index = b[1];
    c.frequency_hz = read_frequency(b + 2);
}
void read(DlChannelAns& c, const std::uint8_t* b) {
    c.uplink_frequency_exists = bit(b[1], 1);
    c.frequency_ok = bit(b[1], 0);
}
void read(DeviceTimeReq&, const std::uint8_t*) {}
void read(DeviceTimeAns& c, const std::uint8_t* b) {
    c.seconds = le::read(b + 1, 4);
    c.fraction = b[5];
}
void read(RelayConfReq& c, const std::uint8_t* b) {
    const std::uint32_t settings = le::read(b + 1, 2);
    c.enabled = bit(settings, 13);
    c.cad_periodicity = bits(settings, 10, 3);
    c.default_channel_index = bits(settings, 9, 1);
    c.second_channel_index = bits(settings, 7, 2);
    c.second_channel_data_rate = bits(settings, 3, 4);
    c.second_channel_ack_offset = bits(settings, 0, 3);
    c.frequency_hz = read_frequency(b + 3);
}
void read(RelayConfAns& c, const std::uint8_t* b) {
    c.cad_periodicity_ack = bit(b[1], 5);
    c.default_channel_index_ack = bit(b[1], 4);
    c.second_channel_index_ack = bit(b[1], 3);
    c.second_channel_data_rate_ack = bit(b[1], 2);
    c.second_channel_ack_offset_ack = bit(b[1], 1);
    c.second_channel_frequency_ack = bit(b[1], 0);
}
void read(EndDeviceConfReq& c, const std::uint8_t* b) {
    c.relay_mode = bits(b[1], 2, 2);
    c.smart_enable_level = bits(b[1], 0, 2);
    const std::uint32_t settings = le::read(b + 2, 2);
    c.back_off = bits(settings, 9, 6);
    c.second_channel_index = bits(settings, 7, 2);
    c.second_channel_data_rate = bits(settings, 3, 4);
    c.second_channel_ack_offset = bits(settings, 0, 3);
    c.frequency_hz = read_frequency(b + 4);
}
void read(EndDeviceConfAns& c, const std::uint8_t* b) {
    c.second_channel_ack_offset_ack = bit(b[1], 3);
    c.second_channel_index_ack = bit(b[1], 2);
    c.second_channel_data_rate_ack = bit(b[1], 1);
    c.second_channel_frequency_ack = bit(b[1], 0);
}
void read(FilterListReq& c, const std::uint8_t* b) {
    const std::uint32_t rule = le::read(b + 1, 2);
    c.index = bits(rule, 7, 4);
    c.action = bits(rule, 5, 2);
    c.eui_len = bits(rule, 0, 5);
    // The wire holds the least significant byte first; past 16 bytes only
    // the most significant sixteen are kept.
    const std::size_t kept = std::min<std::size_t>(c.eui_len, FilterListReq::kMaxEuiLen);
    const std::uint8_t* last = b + 3 + c.eui_len;
    std::reverse_copy(last - kept, last, c.eui.begin());
}
void read(FilterListAns& c, const std::uint8_t* b) {
    c.combined_rules_ack = bit(b[1], 2);
    c.eui_len_ack = bit(b[1], 1);
    c.action_ack = bit(b[1], 0);
}
void read(UpdateUplinkListReq& c, const std::uint8_t* b) {
    c.index = bits(b[1], 0, 4);
    c.bucket_size = bits(b[2], 6, 2);
    c.reload_rate = bits(b[2], 0, 6);
    c.dev_addr = le::read(b + 3, 4);
    c.wfcnt = le::read(b + 7, 4);
    std::copy_n(b + 11, c.root_wor_s_key.size(), c.root_wor_s_key.begin());
}
void read(UpdateUplinkListAns&, const std::uint8_t*) {}
void read(CtrlUplinkListReq& c, const std::uint8_t* b) {
    c.action = bits(b[1], 4, 1);
    c.index = bits(b[1], 0, 4);
}
void read(CtrlUplinkListAns& c, const std::uint8_t* b) {
    c.index_ack = bit(b[1], 0);
    c.wfcnt = le::read(b + 2, 4);
}
void read(ConfigureFwdLimitReq& c, const std::uint8_t* b) {
    const std::uint32_t rates = le::read(b + 1, 4);
    c.reset_limit_counters = bits(rates, 28, 2);
    c.join_request_reload_rate = bits(rates, 21, 7);
    c.notify_reload_rate = bits(rates, 14, 7);
    c.global_uplink_reload_rate = bits(rates, 7, 7);
    c.overall_reload_rate = bits(rates, 0, 7);
    c.join_request_bucket_size = bits(b[5], 6, 2);
    c.notify_bucket_size = bits(b[5], 4, 2);
    c.global_uplink_bucket_size = bits(b[5], 2, 2);
    c.overall_bucket_size = bits(b[5], 0, 2);
}
void read(ConfigureFwdLimitAns&, const std::uint8_t*) {}
void read(NotifyNewEndDeviceReq& c, const std::uint8_t* b) {
    c.dev_addr = le::read(b + 1, 4);
    const std::uint32_t levels = le::read(b + 5, 2);
    c.rssi_dbm = static_cast<std::int16_t>(-static_cast<int>(bits(levels, 5, 7)) - 15);
    c.snr_db = static_cast<std::int8_t>(static_cast<int>(bits(levels, 0, 5)) - 20);
}

// ---- writing: `b` has room for the command; b[0] already holds its CID --------------------------
// Returns false on a frequency that cannot travel.

bool write(const LinkCheckReq&, std::uint8_t*) { return true; }
bool write(const LinkCheckAns& c, std::uint8_t* b) {
    b[1] = c.margin;
    b[2] = c.gateways;
    return true;
}
bool write(const LinkAdrReq& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(place(c.data_rate, 4, 4) | place(c.tx_power, 0, 4));
    le::write(b + 2, c.channel_mask, 2);
    b[4] = static_cast<std::uint8_t>(place(c.mask_control, 4, 3) | place(c.transmissions, 0, 4));
    return true;
}
bool write(const LinkAdrAns& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(c.power_ack << 2 | c.data_rate_ack << 1 | c.channel_mask_ack);
    return true;
}
bool write(const DutyCycleReq& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(place(c.max_duty_cycle, 0, 4));
    return true;
}
bool write(const DutyCycleAns&, std::uint8_t*) { return true; }
bool write(const RxParamSetupReq& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(place(c.rx1_offset, 4, 3) | place(c.rx2_data_rate, 0, 4));
    return write_frequency(b + 2, c.frequency_hz);
}
bool write(const RxParamSetupAns& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(c.rx1_offset_ack << 2 | c.rx2_data_rate_ack << 1 | c.channel_ack);
    return true;
}
bool write(const DevStatusReq&, std::uint8_t*) { return true; }
bool write(const DevStatusAns& c, std::uint8_t* b) {
    b[1] = c.battery;
    b[2] = static_cast<std::uint8_t>(place(static_cast<std::uint8_t>(c.snr_margin), 0, 6));
    return true;
}
bool write(const NewChannelReq& c, std::uint8_t* b) {
    b[1] = c.index;
    if (!write_frequency(b + 2, c.frequency_hz)) return false;
    b[5] = static_cast<std::uint8_t>(place(c.max_data_rate, 4, 4) | place(c.min_data_rate, 0, 4));
    return true;
}
bool write(const NewChannelAns& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(c.data_rate_range_ok << 1 | c.frequency_ok);
    return true;
}
bool write(const RxTimingSetupReq& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(place(c.delay, 0, 4));
    return true;
}
bool write(const RxTimingSetupAns&, std::uint8_t*) { return true; }
bool write(const TxParamSetupReq& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(c.downlink_dwell << 5 | c.uplink_dwell << 4 | place(c.max_eirp, 0, 4));
    return true;
}
bool write(const TxParamSetupAns&, std::uint8_t*) { return true; }
bool write(const DlChannelReq& c, std::uint8_t* b) {
    b[1] = c.index;
    return write_frequency(b + 2, c.frequency_hz);
}
bool write(const DlChannelAns& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(c.uplink_frequency_exists << 1 | c.frequency_ok);
    return true;
}
bool write(const DeviceTimeReq&, std::uint8_t*) { return true; }
bool write(const DeviceTimeAns& c, std::uint8_t* b) {
    le::write(b + 1, c.seconds, 4);
    b[5] = c.fraction;
    return true;
}
bool write(const RelayConfReq& c, std::uint8_t* b) {
    const std::uint32_t settings = place(c.enabled, 13, 1) | place(c.cad_periodicity, 10, 3) |
                                   place(c.default_channel_index, 9, 1) | place(c.second_channel_index, 7, 2) |
                                   place(c.second_channel_data_rate, 3, 4) | place(c.second_channel_ack_offset, 0, 3);
    le::write(b + 1, settings, 2);
    return write_frequency(b + 3, c.frequency_hz);
}
bool write(const RelayConfAns& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(c.cad_periodicity_ack << 5 | c.default_channel_index_ack << 4 |
                                     c.second_channel_index_ack << 3 | c.second_channel_data_rate_ack << 2 |
                                     c.second_channel_ack_offset_ack << 1 | c.second_channel_frequency_ack);
    return true;
}
bool write(const EndDeviceConfReq& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(place(c.relay_mode, 2, 2) | place(c.smart_enable_level, 0, 2));
    const std::uint32_t settings = place(c.back_off, 9, 6) | place(c.second_channel_index, 7, 2) |
                                   place(c.second_channel_data_rate, 3, 4) | place(c.second_channel_ack_offset, 0, 3);
    le::write(b + 2, settings, 2);
    return write_frequency(b + 4, c.frequency_hz);
}
bool write(const EndDeviceConfAns& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(c.second_channel_ack_offset_ack << 3 | c.second_channel_index_ack << 2 |
                                     c.second_channel_data_rate_ack << 1 | c.second_channel_frequency_ack);
    return true;
}
bool write(const FilterListReq& c, std::uint8_t* b) {
    le::write(b + 1, place(c.index, 7, 4) | place(c.action, 5, 2) | place(c.eui_len, 0, 5), 2);
    std::reverse_copy(c.eui.begin(), c.eui.begin() + c.eui_len, b + 3);
    return true;
}
bool write(const FilterListAns& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(c.combined_rules_ack << 2 | c.eui_len_ack << 1 | c.action_ack);
    return true;
}
bool write(const UpdateUplinkListReq& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(place(c.index, 0, 4));
    b[2] = static_cast<std::uint8_t>(place(c.bucket_size, 6, 2) | place(c.reload_rate, 0, 6));
    le::write(b + 3, c.dev_addr, 4);
    le::write(b + 7, c.wfcnt, 4);
    std::ranges::copy(c.root_wor_s_key, b + 11);
    return true;
}
bool write(const UpdateUplinkListAns&, std::uint8_t*) { return true; }
bool write(const CtrlUplinkListReq& c, std::uint8_t* b) {
    b[1] = static_cast<std::uint8_t>(place(c.action, 4, 1) | place(c.index, 0, 4));
    return true;
}
bool write(const CtrlUplinkListAns& c, std::uint8_t* b) {
    b[1] = c.index_ack ? 1 : 0;
    le::write(b + 2, c.wfcnt, 4);
    return true;
}
bool write(const ConfigureFwdLimitReq& c, std::uint8_t* b) {
    const std::uint32_t rates = place(c.reset_limit_counters, 28, 2) | place(c.join_request_reload_rate, 21, 7) |
                                place(c.notify_reload_rate, 14, 7) | place(c.global_uplink_reload_rate, 7, 7) |
                                place(c.overall_reload_rate, 0, 7);
    le::write(b + 1, rates, 4);
    b[5] = static_cast<std::uint8_t>(place(c.join_request_bucket_size, 6, 2) | place(c.notify_bucket_size, 4, 2) |
                                     place(c.global_uplink_bucket_size, 2, 2) | place(c.overall_bucket_size, 0, 2));
    return true;
}
bool write(const ConfigureFwdLimitAns&, std::uint8_t*) { return true; }
bool write(const NotifyNewEndDeviceReq& c, std::uint8_t* b) {
    le::write(b + 1, c.dev_addr, 4);
    const int snr = std::clamp<int>(c.snr_db, -20, 11);
    const int rssi = std::clamp<int>(c.rssi_dbm, -142, -15);
    le::write(b + 5, static_cast<std::uint32_t>((snr + 20) | (-rssi - 15) << 5), 2);
    return true;
}

// The bytes a command takes, from its identifier on.
template <class C>
std::size_t wire_size(const C&) noexcept {
    return C::size;
}
std::size_t wire_size(const FilterListReq& c) noexcept { return FilterListReq::size + c.eui_len; }

// Which alternative an identifier names in each direction: built once from
// the commands' own identifiers.
struct CommandTable {
    std::array<std::int8_t, 256> up{};
    std::array<std::int8_t, 256> down{};
};
constexpr CommandTable kTable = [] {
    CommandTable table;
    table.up.fill(-1);
    table.down.fill(-1);
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        const auto enter = [&]<class C>(std::int8_t index) {
            (C::direction == Direction::Downlink ? table.down : table.up)[C::cid] = index;
        };
        (enter.template operator()<std::variant_alternative_t<I, MacCommand::Variant>>(static_cast<std::int8_t>(I)),
         ...);
    }(std::make_index_sequence<MacCommand::kCount>{});
    return table;
}();

int alternative_of(std::uint8_t cid, Direction direction) noexcept {
    return (direction == Direction::Downlink ? kTable.down : kTable.up)[cid];
}

// The zero command of each alternative, by index.
template <std::size_t... I>
MacCommand::Variant make_alternative(std::size_t index, std::index_sequence<I...>) {
    using Make = MacCommand::Variant (*)();
    static constexpr Make kMakers[] = {+[] { return MacCommand::Variant(std::in_place_index<I>); }...};
    return kMakers[index]();
}

}  // namespace

std::optional<MacCommand> MacCommand::blank(std::uint8_t cid, Direction direction) noexcept {
    const int index = alternative_of(cid, direction);
    if (index < 0) return std::nullopt;
    MacCommand command{LinkCheckReq{}};
    command.value_ = make_alternative(static_cast<std::size_t>(index), std::make_index_sequence<kCount>{});
    return command;
}

std::expected<MacCommand::Parsed, LorawanError> MacCommand::parse(Direction direction,
                                                                  std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return std::unexpected(LorawanError{Kind::TooShort});
    auto command = blank(bytes[0], direction);
    if (!command) return std::unexpected(LorawanError{Kind::UnknownMacCommand, bytes[0]});
    return command->visit([&](auto& c) -> std::expected<Parsed, LorawanError> {
        using C = std::remove_cvref_t<decltype(c)>;
        if (bytes.size() < C::size) return std::unexpected(LorawanError{Kind::TooShort});
        // FilterListReq says in its own header how long its EUI is.
        if constexpr (std::is_same_v<C, FilterListReq>)
            if (bytes.size() < C::size + (bytes[1] & 0x1F)) return std::unexpected(LorawanError{Kind::TooShort});
        read(c, bytes.data());
        return Parsed{*command, wire_size(c)};
    });
}

std::expected<std::size_t, LorawanError> MacCommand::encode(std::span<std::uint8_t> out) const {
    return visit([&](const auto& c) -> std::expected<std::size_t, LorawanError> {
        using C = std::remove_cvref_t<decltype(c)>;
        if constexpr (std::is_same_v<C, FilterListReq>)
            if (c.eui_len > FilterListReq::kMaxEuiLen) return std::unexpected(LorawanError{Kind::Malformed});
        const std::size_t size = wire_size(c);
        if (out.size() < size) return std::unexpected(LorawanError{Kind::PayloadTooLarge});
        out[0] = C::cid;
        if (!write(c, out.data())) return std::unexpected(LorawanError{Kind::Malformed});
        return size;
    });
}

std::string_view MacCommand::kind() const noexcept {
    return visit([](const auto& c) { return std::remove_cvref_t<decltype(c)>::kind; });
}
std::uint8_t MacCommand::cid() const noexcept {
    return visit([](const auto& c) { return std::remove_cvref_t<decltype(c)>::cid; });
}
Direction MacCommand::direction() const noexcept {
    return visit([](const auto& c) { return std::remove_cvref_t<decltype(c)>::direction; });
}

std::expected<std::size_t, LorawanError> encode_all(std::span<const MacCommand> commands, std::span<std::uint8_t> out) {
    std::size_t written = 0;
    for (const MacCommand& command : commands) {
        const auto size = command.encode(out.subspan(written));
        if (!size) return size;
        written += *size;
    }
    return written;
}

std::optional<std::expected<MacCommand, LorawanError>> MacCommands::next() {
    if (finished_ || position_ >= run_.size()) return std::nullopt;
    auto parsed = MacCommand::parse(direction_, run_.subspan(position_));
    if (parsed) {
        position_ += parsed->size;
        return std::move(parsed->command);
    }
    finished_ = true;
    if (parsed.error().kind == Kind::UnknownMacCommand) return std::nullopt;
    return std::unexpected(parsed.error());
}

}  // namespace trovik::lorawan
