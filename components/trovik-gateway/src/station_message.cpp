#include "trovik/gateway/station_message.hpp"

#include <limits>
#include <utility>

#include "trovik/core/saturating.hpp"
#include "trovik/gateway/json.hpp"

namespace trovik::gateway::station {
namespace {

using json::Array;
using json::Object;
using json::Value;

constexpr auto int64_max = std::numeric_limits<std::int64_t>::max();

// Writing. Integers go into the tree the way the reader holds them, a
// non-negative one unsigned, so a tree we write equals the tree read back.

Value integer(std::int64_t n) {
    if (n < 0) return Value{n};
    return Value{static_cast<std::uint64_t>(n)};
}
Value unsigned_integer(std::uint64_t n) { return Value{n}; }
// The tree writes a double that is not finite as null.
Value number(double x) { return Value{x}; }
Value text(std::string s) { return Value{std::move(s)}; }
Value hex(std::span<const std::uint8_t> bytes) { return Value{byte_field(bytes)}; }
Value eui(Identifier id) { return Value{id6(id)}; }

void put_optional(Object& object, const char* key, const std::optional<std::int64_t>& value) {
    if (value) object[key] = integer(*value);
}

// Reading.

using json::find;

// The integer rule: only a JSON number counts; an integer is taken as it is
// (saturating above the signed range), anything else rounded with halves
// away from zero and saturated. Unlike the packet forwarder's whole numbers,
// integers never pass through a double: clock values use all 64 bits.
std::optional<std::int64_t> whole_value(const Value* value) {
    if (!value) return std::nullopt;
    if (const auto* u = std::get_if<std::uint64_t>(&value->data))
        return *u > static_cast<std::uint64_t>(int64_max) ? int64_max : static_cast<std::int64_t>(*u);
    if (const auto* i = std::get_if<std::int64_t>(&value->data)) return *i;
    if (const auto* d = std::get_if<double>(&value->data)) return core::saturating_round<std::int64_t>(*d);
    return std::nullopt;
}
std::optional<std::int64_t> whole(const Object& object, std::string_view key) { return whole_value(find(object, key)); }

// Narrowing keeps the low-order bits in two's complement: a DR of 260 is 4.
template <class T>
T narrow(std::int64_t n) {
    return static_cast<T>(n);
}
template <class T>
T whole_or_zero(const Object& object, std::string_view key) {
    return narrow<T>(whole(object, key).value_or(0));
}

bool is_number(const Value* value) { return value && json::number_of(*value); }

double number_or_zero(const Object& object, std::string_view key) { return json::number_at(object, key).value_or(0.0); }

std::string text_or_empty(const Object& object, std::string_view key) {
    const std::string* s = json::string_at(object, key);
    return s ? *s : std::string();
}

// The numbers of an array, each narrowed to 32 bits; other elements skipped.
std::optional<std::vector<std::uint32_t>> numbers(const Object& object, std::string_view key) {
    const Array* array = json::array_at(object, key);
    if (!array) return std::nullopt;
    std::vector<std::uint32_t> out;
    for (const Value& element : *array) {
        if (const auto n = whole_value(&element)) out.push_back(narrow<std::uint32_t>(*n));
    }
    return out;
}

// A JoinEUI range end: an unsigned 64-bit number, negatives as 0, fractions
// dropped toward zero, saturating at the top.
std::uint64_t range_end(const Value& value) {
    if (const auto* u = std::get_if<std::uint64_t>(&value.data)) return *u;
    if (std::holds_alternative<std::int64_t>(value.data)) return 0;
    return core::saturating_cast<std::uint64_t>(std::get<double>(value.data));
}

std::vector<JoinRange> pairs(const Object& object, std::string_view key) {
    std::vector<JoinRange> out;
    const Array* array = json::array_at(object, key);
    if (!array) return out;
    for (const Value& element : *array) {
        const auto* pair = std::get_if<Array>(&element.data);
        if (!pair || pair->size() < 2 || !is_number(&(*pair)[0]) || !is_number(&(*pair)[1])) continue;
        out.push_back({range_end((*pair)[0]), range_end((*pair)[1])});
    }
    return out;
}

std::optional<Window> window(const Object& object, std::string_view rate_key, std::string_view frequency_key) {
    const auto rate = whole(object, rate_key);
    const auto frequency = whole(object, frequency_key);
    if (!rate || !frequency) return std::nullopt;
    return Window{narrow<std::uint8_t>(*rate), narrow<std::uint32_t>(*frequency)};
}

// One DRs element: [spreading factor, bandwidth in kHz, downlink-only];
// anything that does not fit is an undefined number at its place.
std::optional<DataRate> data_rate_entry(const Value& element) {
    const auto* entry = std::get_if<Array>(&element.data);
    if (!entry || entry->size() < 2) return std::nullopt;
    const auto sf = whole_value(&(*entry)[0]);
    const auto khz = whole_value(&(*entry)[1]);
    if (!sf || *sf < 0 || *sf > 255 || !khz || *khz < 0 || *khz > 4294967295) return std::nullopt;
    const auto hz = std::min<std::uint64_t>(static_cast<std::uint64_t>(*khz) * 1000, 4294967295u);
    const auto flag = entry->size() > 2 ? whole_value(&(*entry)[2]) : std::nullopt;
    return DataRate{static_cast<std::uint8_t>(*sf), static_cast<std::uint32_t>(hz), flag.value_or(0) != 0};
}

std::vector<std::optional<DataRate>> data_rates(const Object& object, std::string_view key) {
    std::vector<std::optional<DataRate>> out;
    const Array* array = json::array_at(object, key);
    if (!array) return out;
    for (const Value& element : *array)
        out.push_back(data_rate_entry(element));
    return out;
}

std::uint8_t mhdr_of(const Object& object) {
    const bool spelled_mhdr = !is_number(find(object, "MHdr"));
    return whole_or_zero<std::uint8_t>(object, spelled_mhdr ? "Mhdr" : "MHdr");
}

std::unexpected<udp::ProtocolError> failure(std::string message) {
    return std::unexpected(udp::ProtocolError::invalid(std::move(message)));
}

// Each kind's reader and writer.

Object write(const Version& m) {
    return {{"station", text(m.station)},
            {"firmware", text(m.firmware)},
            {"package", text(m.package)},
            {"model", text(m.model)},
            {"protocol", unsigned_integer(m.protocol)},
            {"features", text(m.features)}};
}
std::expected<Version, udp::ProtocolError> read_version(const Object& o) {
    return Version{text_or_empty(o, "station"),
                   text_or_empty(o, "firmware"),
                   text_or_empty(o, "package"),
                   text_or_empty(o, "model"),
                   whole_or_zero<std::uint32_t>(o, "protocol"),
                   text_or_empty(o, "features")};
}

Object write(const RouterConfig& m) {
    Object o;
    if (m.net_id) {
        Array ids;
        for (const std::uint32_t id : *m.net_id)
            ids.push_back(unsigned_integer(id));
        o["NetID"] = Value{std::move(ids)};
    } else {
        o["NetID"] = Value{nullptr};
    }
    Array ranges;
    for (const JoinRange& range : m.join_eui_ranges)
        ranges.push_back(Value{Array{unsigned_integer(range.first), unsigned_integer(range.last)}});
    o["JoinEui"] = Value{std::move(ranges)};
    o["region"] = text(m.region);
    o["max_eirp"] = number(m.max_eirp);
    o["hwspec"] = text(m.hwspec);
    o["freq_range"] = Value{Array{unsigned_integer(m.freq_min), unsigned_integer(m.freq_max)}};
    Array rates;
    for (const auto& rate : m.data_rates) {
        if (rate) {
            rates.push_back(
                Value{Array{unsigned_integer(rate->spreading_factor), unsigned_integer(rate->bandwidth_hz / 1000),
                            unsigned_integer(rate->downlink_only ? 1 : 0)}});
        } else {
            rates.push_back(Value{Array{integer(-1), integer(0), integer(0)}});
        }
    }
    o["DRs"] = Value{std::move(rates)};
    return o;
}
std::expected<RouterConfig, udp::ProtocolError> read_router_config(const Object& o) {
    RouterConfig m;
    m.net_id = numbers(o, "NetID");
    m.join_eui_ranges = pairs(o, "JoinEui");
    m.region = text_or_empty(o, "region");
    m.max_eirp = number_or_zero(o, "max_eirp");
    m.hwspec = text_or_empty(o, "hwspec");
    const auto range = numbers(o, "freq_range").value_or(std::vector<std::uint32_t>{});
    m.freq_min = range.size() > 0 ? range[0] : 0;
    m.freq_max = range.size() > 1 ? range[1] : 0;
    m.data_rates = data_rates(o, "DRs");
    return m;
}

Object write(const JoinRequest& m) {
    return {{"MHdr", unsigned_integer(m.mhdr)},
            {"JoinEui", eui(m.join_eui)},
            {"DevEui", eui(m.dev_eui)},
            {"DevNonce", unsigned_integer(m.dev_nonce)},
            {"MIC", integer(m.mic)},
            {"DR", unsigned_integer(m.data_rate)},
            {"Freq", unsigned_integer(m.frequency_hz)},
            {"upinfo", m.levels.to_value()}};
}
std::expected<JoinRequest, udp::ProtocolError> read_join_request(const Object& o) {
    JoinRequest m;
    m.mhdr = mhdr_of(o);
    auto join_eui = identifier(o, "JoinEui");
    if (!join_eui) return std::unexpected(std::move(join_eui.error()));
    m.join_eui = *join_eui;
    auto dev_eui = identifier(o, "DevEui");
    if (!dev_eui) return std::unexpected(std::move(dev_eui.error()));
    m.dev_eui = *dev_eui;
    m.dev_nonce = whole_or_zero<std::uint16_t>(o, "DevNonce");
    m.mic = whole_or_zero<std::int32_t>(o, "MIC");
    m.data_rate = whole_or_zero<std::uint8_t>(o, "DR");
    m.frequency_hz = whole_or_zero<std::uint32_t>(o, "Freq");
    m.levels = Levels::from_value(find(o, "upinfo"));
    return m;
}

Object write(const DataUplink& m) {
    return {{"MHdr", unsigned_integer(m.mhdr)},
            {"DevAddr", integer(m.dev_addr)},
            {"FCtrl", unsigned_integer(m.fctrl)},
            {"FCnt", unsigned_integer(m.fcnt)},
            {"FOpts", hex(m.fopts)},
            {"FPort", m.fport ? integer(*m.fport) : integer(-1)},
            {"FRMPayload", hex(m.payload)},
            {"MIC", integer(m.mic)},
            {"DR", unsigned_integer(m.data_rate)},
            {"Freq", unsigned_integer(m.frequency_hz)},
            {"upinfo", m.levels.to_value()}};
}
std::expected<DataUplink, udp::ProtocolError> read_data_uplink(const Object& o) {
    DataUplink m;
    m.mhdr = mhdr_of(o);
    m.dev_addr = whole_or_zero<std::int32_t>(o, "DevAddr");
    m.fctrl = whole_or_zero<std::uint8_t>(o, "FCtrl");
    m.fcnt = whole_or_zero<std::uint16_t>(o, "FCnt");
    auto fopts = bytes_of(o, "FOpts");
    if (!fopts) return std::unexpected(std::move(fopts.error()));
    m.fopts = std::move(*fopts);
    // -1 is how the protocol says "no port".
    if (const auto port = whole(o, "FPort"); port && *port >= 0) m.fport = narrow<std::uint8_t>(*port);
    auto payload = bytes_of(o, "FRMPayload");
    if (!payload) return std::unexpected(std::move(payload.error()));
    m.payload = std::move(*payload);
    m.mic = whole_or_zero<std::int32_t>(o, "MIC");
    m.data_rate = whole_or_zero<std::uint8_t>(o, "DR");
    m.frequency_hz = whole_or_zero<std::uint32_t>(o, "Freq");
    m.levels = Levels::from_value(find(o, "upinfo"));
    return m;
}

Object write(const ProprietaryUplink& m) {
    return {{"FRMPayload", hex(m.payload)},
            {"DR", unsigned_integer(m.data_rate)},
            {"Freq", unsigned_integer(m.frequency_hz)},
            {"upinfo", m.levels.to_value()}};
}
std::expected<ProprietaryUplink, udp::ProtocolError> read_proprietary_uplink(const Object& o) {
    ProprietaryUplink m;
    auto payload = bytes_of(o, "FRMPayload");
    if (!payload) return std::unexpected(std::move(payload.error()));
    m.payload = std::move(*payload);
    m.data_rate = whole_or_zero<std::uint8_t>(o, "DR");
    m.frequency_hz = whole_or_zero<std::uint32_t>(o, "Freq");
    m.levels = Levels::from_value(find(o, "upinfo"));
    return m;
}

void put_window(Object& o, const char* rate_key, const char* frequency_key, const std::optional<Window>& w) {
    if (!w) return;
    o[rate_key] = unsigned_integer(w->data_rate);
    o[frequency_key] = unsigned_integer(w->frequency_hz);
}

Object write(const Downlink& m) {
    Object o{{"DevEui", eui(m.dev_eui)},
             {"dC", unsigned_integer(m.class_)},
             {"diid", integer(m.diid)},
             {"pdu", hex(m.payload)},
             {"priority", unsigned_integer(m.priority)}};
    if (m.rx_delay) o["RxDelay"] = unsigned_integer(*m.rx_delay);
    put_window(o, "RX1DR", "RX1Freq", m.rx1);
    put_window(o, "RX2DR", "RX2Freq", m.rx2);
    put_window(o, "DR", "Freq", m.ping_slot);
    put_optional(o, "xtime", m.xtime);
    put_optional(o, "rctx", m.rctx);
    put_optional(o, "gpstime", m.gpstime);
    return o;
}
std::expected<Downlink, udp::ProtocolError> read_downlink(const Object& o) {
    Downlink m;
    auto dev_eui = identifier(o, "DevEui");
    if (!dev_eui) return std::unexpected(std::move(dev_eui.error()));
    m.dev_eui = *dev_eui;
    m.class_ = whole_or_zero<std::uint8_t>(o, "dC");
    m.diid = whole(o, "diid").value_or(0);
    auto pdu = bytes_of(o, "pdu");
    if (!pdu) return std::unexpected(std::move(pdu.error()));
    m.payload = std::move(*pdu);
    if (const auto delay = whole(o, "RxDelay")) m.rx_delay = narrow<std::uint8_t>(*delay);
    m.rx1 = window(o, "RX1DR", "RX1Freq");
    m.rx2 = window(o, "RX2DR", "RX2Freq");
    m.ping_slot = window(o, "DR", "Freq");
    m.priority = whole_or_zero<std::uint8_t>(o, "priority");
    m.xtime = whole(o, "xtime");
    m.rctx = whole(o, "rctx");
    m.gpstime = whole(o, "gpstime");
    return m;
}

Object write(const Schedule& m) {
    Array entries;
    for (const Broadcast& entry : m.schedule)
        entries.push_back(entry.to_value());
    return {{"schedule", Value{std::move(entries)}}};
}
std::expected<Schedule, udp::ProtocolError> read_schedule(const Object& o) {
    Schedule m;
    const Array* array = json::array_at(o, "schedule");
    if (!array) return m;
    for (const Value& element : *array) {
        const auto* entry = std::get_if<Object>(&element.data);
        if (!entry) return failure("a scheduled frame is not a JSON object");
        Broadcast b;
        auto pdu = bytes_of(*entry, "pdu");
        if (!pdu) return std::unexpected(std::move(pdu.error()));
        b.pdu = std::move(*pdu);
        b.data_rate = whole_or_zero<std::uint8_t>(*entry, "DR");
        b.frequency_hz = whole_or_zero<std::uint32_t>(*entry, "Freq");
        b.priority = whole_or_zero<std::uint8_t>(*entry, "priority");
        b.gpstime = whole(*entry, "gpstime");
        b.rctx = whole(*entry, "rctx");
        m.schedule.push_back(std::move(b));
    }
    return m;
}

Object write(const Transmitted& m) {
    Object o{{"diid", integer(m.diid)},
             {"DevEui", eui(m.dev_eui)},
             {"rctx", integer(m.rctx)},
             {"xtime", integer(m.xtime)},
             {"txtime", number(m.txtime)}};
    put_optional(o, "gpstime", m.gpstime);
    return o;
}
std::expected<Transmitted, udp::ProtocolError> read_transmitted(const Object& o) {
    Transmitted m;
    m.diid = whole(o, "diid").value_or(0);
    auto dev_eui = identifier(o, "DevEui");
    if (!dev_eui) return std::unexpected(std::move(dev_eui.error()));
    m.dev_eui = *dev_eui;
    m.rctx = whole(o, "rctx").value_or(0);
    m.xtime = whole(o, "xtime").value_or(0);
    m.txtime = number_or_zero(o, "txtime");
    m.gpstime = whole(o, "gpstime");
    return m;
}

Object write(const TimeSync& m) {
    Object o;
    put_optional(o, "txtime", m.txtime);
    put_optional(o, "xtime", m.xtime);
    put_optional(o, "gpstime", m.gpstime);
    return o;
}
std::expected<TimeSync, udp::ProtocolError> read_time_sync(const Object& o) {
    return TimeSync{whole(o, "txtime"), whole(o, "xtime"), whole(o, "gpstime")};
}

Object write(const OtherKind&) { return {}; }

constexpr std::string_view kind_names[] = {"version", "router_config", "jreq",   "updf",    "propdf",
                                           "dnmsg",   "dnsched",       "dntxed", "timesync"};

template <class Kind>
std::expected<Message, udp::ProtocolError> as_message(std::expected<Kind, udp::ProtocolError> read) {
    if (!read) return std::unexpected(std::move(read.error()));
    return Message{std::move(*read)};
}

}  // namespace

Value Levels::to_value() const {
    Object o{{"rctx", integer(rctx)}, {"xtime", integer(xtime)}, {"rssi", number(rssi)}, {"snr", number(snr)}};
    put_optional(o, "gpstime", gpstime);
    return Value{std::move(o)};
}

Levels Levels::from_value(const Value* value) {
    Levels levels;
    const auto* o = value ? std::get_if<Object>(&value->data) : nullptr;
    if (!o) return levels;
    levels.rctx = whole(*o, "rctx").value_or(0);
    levels.xtime = whole(*o, "xtime").value_or(0);
    levels.gpstime = whole(*o, "gpstime");
    levels.rssi = number_or_zero(*o, "rssi");
    levels.snr = number_or_zero(*o, "snr");
    return levels;
}

Value Broadcast::to_value() const {
    Object o{{"pdu", hex(pdu)},
             {"DR", unsigned_integer(data_rate)},
             {"Freq", unsigned_integer(frequency_hz)},
             {"priority", unsigned_integer(priority)}};
    put_optional(o, "gpstime", gpstime);
    put_optional(o, "rctx", rctx);
    return Value{std::move(o)};
}

std::string_view Message::msgtype() const {
    if (const auto* other = std::get_if<OtherKind>(&kind)) return other->msgtype;
    return kind_names[kind.index()];
}

std::string Message::to_json() const {
    Object o = std::visit([](const auto& m) { return write(m); }, kind);
    o["msgtype"] = text(std::string(msgtype()));
    return json::write(Value{std::move(o)});
}

std::expected<Message, udp::ProtocolError> Message::from_json(std::string_view text) {
    auto parsed = codec::json::parse(text);
    if (!parsed) return failure("the message is not JSON: " + parsed.error().message);
    const auto* o = std::get_if<Object>(&parsed->data);
    if (!o) return failure("the message is not a JSON object");
    const std::string* name = json::string_at(*o, "msgtype");
    if (!name) return failure("the message names no kind");
    if (*name == "version") return as_message(read_version(*o));
    if (*name == "router_config") return as_message(read_router_config(*o));
    if (*name == "jreq") return as_message(read_join_request(*o));
    if (*name == "updf") return as_message(read_data_uplink(*o));
    if (*name == "propdf") return as_message(read_proprietary_uplink(*o));
    if (*name == "dnmsg") return as_message(read_downlink(*o));
    if (*name == "dnsched") return as_message(read_schedule(*o));
    if (*name == "dntxed") return as_message(read_transmitted(*o));
    if (*name == "timesync") return as_message(read_time_sync(*o));
    return Message{OtherKind{*name}};
}

}  // namespace trovik::gateway::station
