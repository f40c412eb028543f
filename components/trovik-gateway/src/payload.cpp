#include "trovik/gateway/payload.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "trovik/core/number_text.hpp"
#include "trovik/gateway/base64.hpp"

namespace trovik::gateway::udp {
namespace {

using json::Object;
using json::Value;

// Joins the pieces of a sentence.
template <class... Pieces>
std::string cat(const Pieces&... pieces) {
    std::string out;
    ((out += pieces), ...);
    return out;
}

std::unexpected<ProtocolError> refuse(std::string sentence) {
    return std::unexpected(ProtocolError::invalid(std::move(sentence)));
}

std::string_view text_of(std::span<const std::uint8_t> body) {
    return {reinterpret_cast<const char*>(body.data()), body.size()};
}

// ---- the shared steps of every body reader -------------------------------------

std::expected<Value, ProtocolError> parse_json(std::span<const std::uint8_t> body, std::string_view name) {
    auto value = codec::json::parse(text_of(body));
    if (!value) return refuse(cat("the payload of ", name, " is not JSON: ", value.error().message));
    return std::move(*value);
}

std::expected<const Object*, ProtocolError> object_of(const Value& value, std::string_view name) {
    const auto* object = std::get_if<Object>(&value.data);
    if (!object) return refuse(cat(name, " is not a JSON object"));
    return object;
}

// The low bits of a whole number (two's complement, so a negative number
// wraps), or nothing.
template <class Int>
std::optional<Int> low_bits(const Object& object, std::string_view key) {
    const auto whole = json::whole_at(object, key);
    if (!whole) return std::nullopt;
    using Unsigned = std::make_unsigned_t<Int>;
    return static_cast<Int>(static_cast<Unsigned>(static_cast<std::uint64_t>(*whole)));
}

// "freq" in megahertz to hertz.
std::expected<std::uint32_t, ProtocolError> hertz(const Object& object, std::string_view name) {
    const auto mhz = json::number_at(object, "freq");
    if (!mhz) return refuse(cat("a ", name, " carries no \"freq\""));
    const double hz = std::round(*mhz * 1e6);  // halves away from zero
    if (!(hz >= 0.0 && hz <= 4294967295.0))
        return refuse(cat(core::number_text::display(*mhz), " MHz is not a carrier"));
    return static_cast<std::uint32_t>(hz);
}

std::optional<std::uint64_t> decimal(std::string_view digits, std::uint64_t max) {
    return core::number_text::parse_unsigned(digits, 10, max);
}

// "SF7BW125": the spreading factor and the bandwidth in hertz.
std::optional<lora::LinkSettings> datarate(std::string_view text) {
    if (!text.starts_with("SF")) return std::nullopt;
    const std::string_view rest = text.substr(2);
    const std::size_t bw = rest.find("BW");
    if (bw == std::string_view::npos) return std::nullopt;
    const auto sf = decimal(rest.substr(0, bw), 255);
    const auto khz = decimal(rest.substr(bw + 2), 0xFFFFFFFFu / 1000);
    if (!sf || !khz) return std::nullopt;
    return lora::LinkSettings(static_cast<std::uint8_t>(*sf), static_cast<std::uint32_t>(*khz * 1000));
}

std::expected<Modulation, ProtocolError> modulation_of(const Object& object, std::string_view name) {
    bool fsk = false;
    if (const std::string* modu = json::string_at(object, "modu")) {
        if (*modu == "FSK")
            fsk = true;
        else if (*modu != "LORA")
            return refuse(cat(*modu, " is not a modulation"));
    }
    if (fsk) {
        const auto bitrate = low_bits<std::uint32_t>(object, "datr");
        if (!bitrate) return refuse(cat("an FSK ", name, " carries no bitrate in \"datr\""));
        return Fsk{*bitrate};
    }
    const std::string* datr = json::string_at(object, "datr");
    if (!datr) return refuse(cat("a LoRa ", name, " carries no \"datr\""));
    auto settings = datarate(*datr);
    if (!settings) return refuse(cat(*datr, " is not a datarate identifier"));
    // A packet forwarder writes "OFF" where it could not tell the coding rate
    // (a packet with a CRC error it forwards anyway): no coding rate given,
    // rather than a refusal that would lose the whole datagram.
    if (const std::string* codr = json::string_at(object, "codr"); codr && *codr != "OFF") {
        const std::string_view text = *codr;
        const auto denominator = text.starts_with("4/") ? decimal(text.substr(2), 255) : std::nullopt;
        if (!denominator) return refuse(cat(text, " is not a coding rate"));
        settings = settings->with_coding_rate(static_cast<std::uint8_t>(*denominator));
    }
    return *settings;
}

std::expected<std::vector<std::uint8_t>, ProtocolError> payload_of(const Object& object, std::string_view name) {
    const std::string* data = json::string_at(object, "data");
    if (!data) return refuse(cat("a ", name, " carries no \"data\""));
    auto bytes = base64::decode(*data);
    if (!bytes) return refuse(cat("the ", name, " payload is not base64: ", bytes.error().message()));
    return std::move(*bytes);
}

// ---- writing -------------------------------------------------------------------------

Value integer(std::int64_t n) { return n < 0 ? Value{n} : Value{static_cast<std::uint64_t>(n)}; }
Value unsigned_integer(std::uint64_t n) { return Value{n}; }
Value text(std::string s) { return Value{std::move(s)}; }

void put_modulation(Object& out, const Modulation& modulation) {
    if (const auto* fsk = std::get_if<Fsk>(&modulation)) {
        out["modu"] = text("FSK");
        out["datr"] = unsigned_integer(fsk->bitrate_bps);
        return;
    }
    const auto& link = std::get<lora::LinkSettings>(modulation);
    out["modu"] = text("LORA");
    out["datr"] =
        text(cat("SF", std::to_string(link.spreading_factor()), "BW", std::to_string(link.bandwidth_hz() / 1000)));
    out["codr"] = text(cat("4/", std::to_string(link.coding_rate_denominator())));
}

void put_payload(Object& out, const std::vector<std::uint8_t>& payload) {
    out["data"] = text(base64::encode(payload));
    out["size"] = unsigned_integer(payload.size());
}

// Divided, never multiplied: 868100000 / 1e6 is the double nearest 868.1,
// which prints as 868.1; a product with 1e-6 would not.
Value megahertz(std::uint32_t hz) { return Value{static_cast<double>(hz) / 1e6}; }

// Whole dBm, halves away from zero.
std::int64_t whole_db(lora::Decibels level) {
    const std::int64_t h = level.hundredths();
    return (h + (h < 0 ? -50 : 50)) / 100;
}

bool is_blank(std::span<const std::uint8_t> body) {
    for (const std::uint8_t b : body)
        if (b != ' ' && b != '\t' && b != '\n' && b != '\f' && b != '\r') return false;
    return true;
}

constexpr std::array<std::string_view, 8> status_names = {
    "NONE", "TOO_LATE", "TOO_EARLY", "COLLISION_PACKET", "COLLISION_BEACON", "TX_FREQ", "TX_POWER", "GPS_UNLOCKED",
};

}  // namespace

// ---- rxpk ----------------------------------------------------------------------------

std::expected<Rxpk, ProtocolError> Rxpk::from_value(const Value& value) {
    const auto object = object_of(value, "an rxpk entry");
    if (!object) return std::unexpected(object.error());
    const Object& o = **object;
    Rxpk rx;
    auto modulation = modulation_of(o, "rxpk");
    if (!modulation) return std::unexpected(modulation.error());
    rx.modulation = *modulation;
    if (const std::string* time = json::string_at(o, "time")) rx.time = *time;
    rx.gps_millis = low_bits<std::uint64_t>(o, "tmms");
    rx.timestamp_us = low_bits<std::uint32_t>(o, "tmst");
    const auto hz = hertz(o, "rxpk");
    if (!hz) return std::unexpected(hz.error());
    rx.frequency_hz = *hz;
    rx.channel = low_bits<std::uint8_t>(o, "chan").value_or(0);
    rx.rf_chain = low_bits<std::uint8_t>(o, "rfch").value_or(0);
    const auto crc = json::whole_at(o, "stat");
    rx.crc = crc == 1 ? CrcStatus::Ok : crc == -1 ? CrcStatus::Failed : CrcStatus::Absent;
    // Whole dBm in hundredths: 32 bits of dBm times 100 can pass the 32-bit
    // range, so the product is taken wide and held at its ends.
    const std::int64_t rssi_hundredths = std::int64_t{low_bits<std::int32_t>(o, "rssi").value_or(0)} * 100;
    rx.rssi = lora::Decibels(static_cast<std::int32_t>(std::clamp<std::int64_t>(
        rssi_hundredths, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max())));
    if (const auto snr = json::number_at(o, "lsnr")) rx.snr = lora::Decibels::from_db(*snr);
    auto payload = payload_of(o, "rxpk");
    if (!payload) return std::unexpected(payload.error());
    rx.payload = std::move(*payload);
    return rx;
}

Value Rxpk::to_value() const {
    Object o;
    o["freq"] = megahertz(frequency_hz);
    put_modulation(o, modulation);
    put_payload(o, payload);
    o["stat"] = integer(static_cast<std::int64_t>(crc));
    o["rssi"] = integer(whole_db(rssi));
    if (snr) o["lsnr"] = Value{snr->to_db()};
    o["chan"] = unsigned_integer(channel);
    o["rfch"] = unsigned_integer(rf_chain);
    if (timestamp_us) o["tmst"] = unsigned_integer(*timestamp_us);
    if (gps_millis) o["tmms"] = unsigned_integer(*gps_millis);
    if (time) o["time"] = text(*time);
    return Value{std::move(o)};
}

// ---- stat and the PUSH_DATA body ------------------------------------------------------

namespace {

Stat stat_of(const Object& o) {
    Stat stat;
    if (const std::string* time = json::string_at(o, "time")) stat.time = *time;
    stat.latitude_deg = json::number_at(o, "lati");
    stat.longitude_deg = json::number_at(o, "long");
    stat.altitude_m = low_bits<std::int32_t>(o, "alti");
    stat.received = low_bits<std::uint32_t>(o, "rxnb").value_or(0);
    stat.received_ok = low_bits<std::uint32_t>(o, "rxok").value_or(0);
    stat.forwarded = low_bits<std::uint32_t>(o, "rxfw").value_or(0);
    stat.acknowledged_percent = json::number_at(o, "ackr").value_or(0.0);
    stat.downlinks = low_bits<std::uint32_t>(o, "dwnb").value_or(0);
    stat.transmitted = low_bits<std::uint32_t>(o, "txnb").value_or(0);
    return stat;
}

}  // namespace

Value Stat::to_value() const {
    Object o;
    if (time) o["time"] = text(*time);
    if (latitude_deg && longitude_deg) {
        o["lati"] = Value{*latitude_deg};
        o["long"] = Value{*longitude_deg};
    }
    if (altitude_m) o["alti"] = integer(*altitude_m);
    o["rxnb"] = unsigned_integer(received);
    o["rxok"] = unsigned_integer(received_ok);
    o["rxfw"] = unsigned_integer(forwarded);
    o["ackr"] = Value{acknowledged_percent};
    o["dwnb"] = unsigned_integer(downlinks);
    o["txnb"] = unsigned_integer(transmitted);
    return Value{std::move(o)};
}

std::expected<Uplink, ProtocolError> Uplink::from_json(std::span<const std::uint8_t> body) {
    const auto value = parse_json(body, "a PUSH_DATA");
    if (!value) return std::unexpected(value.error());
    const auto object = object_of(*value, "a PUSH_DATA payload");
    if (!object) return std::unexpected(object.error());
    const Object& o = **object;
    Uplink uplink;
    if (const Value* rxpk = json::find(o, "rxpk")) {
        const auto* entries = std::get_if<json::Array>(&rxpk->data);
        if (!entries) return refuse("\"rxpk\" is not an array");
        uplink.packets.reserve(entries->size());
        for (const Value& entry : *entries) {
            auto rx = Rxpk::from_value(entry);
            if (!rx) return std::unexpected(rx.error());
            uplink.packets.push_back(std::move(*rx));
        }
    }
    if (const Value* stat = json::find(o, "stat")) {
        const auto stat_object = object_of(*stat, "a stat object");
        if (!stat_object) return std::unexpected(stat_object.error());
        uplink.status = stat_of(**stat_object);
    } else if (uplink.packets.empty()) {
        return refuse("a PUSH_DATA payload carries neither \"rxpk\" nor \"stat\"");
    }
    return uplink;
}

std::string Uplink::to_json() const {
    Object o;
    if (!packets.empty()) {
        json::Array entries;
        entries.reserve(packets.size());
        for (const Rxpk& rx : packets)
            entries.push_back(rx.to_value());
        o["rxpk"] = Value{std::move(entries)};
    }
    if (status) o["stat"] = status->to_value();
    return json::write(Value{std::move(o)});
}

// ---- txpk -----------------------------------------------------------------------------

std::expected<Txpk, ProtocolError> Txpk::from_json(std::span<const std::uint8_t> body) {
    const auto value = parse_json(body, "a PULL_RESP");
    if (!value) return std::unexpected(value.error());
    const auto object = object_of(*value, "a PULL_RESP payload");
    if (!object) return std::unexpected(object.error());
    const Value* inner = json::find(**object, "txpk");
    if (!inner) return refuse("a PULL_RESP payload carries no \"txpk\"");
    const auto txpk = object_of(*inner, "a txpk object");
    if (!txpk) return std::unexpected(txpk.error());
    const Object& o = **txpk;

    Txpk tx;
    tx.immediate = json::bool_at(o, "imme").value_or(false);
    tx.timestamp_us = low_bits<std::uint32_t>(o, "tmst");
    tx.gps_millis = low_bits<std::uint64_t>(o, "tmms");
    const auto hz = hertz(o, "txpk");
    if (!hz) return std::unexpected(hz.error());
    tx.frequency_hz = *hz;
    tx.rf_chain = low_bits<std::uint8_t>(o, "rfch").value_or(0);
    tx.power_dbm = low_bits<std::int8_t>(o, "powe").value_or(14);
    auto modulation = modulation_of(o, "txpk");
    if (!modulation) return std::unexpected(modulation.error());
    tx.modulation = *modulation;
    tx.frequency_deviation_hz = low_bits<std::uint32_t>(o, "fdev");
    tx.invert_polarity = json::bool_at(o, "ipol").value_or(false);
    tx.preamble_symbols = low_bits<std::uint16_t>(o, "prea");
    tx.without_crc = json::bool_at(o, "ncrc").value_or(false);
    auto payload = payload_of(o, "txpk");
    if (!payload) return std::unexpected(payload.error());
    tx.payload = std::move(*payload);
    return tx;
}

std::string Txpk::to_json() const {
    Object o;
    o["imme"] = Value{immediate};
    if (timestamp_us) o["tmst"] = unsigned_integer(*timestamp_us);
    if (gps_millis) o["tmms"] = unsigned_integer(*gps_millis);
    o["freq"] = megahertz(frequency_hz);
    o["rfch"] = unsigned_integer(rf_chain);
    o["powe"] = integer(power_dbm);
    put_modulation(o, modulation);
    const bool fsk = std::holds_alternative<Fsk>(modulation);
    if (fsk && frequency_deviation_hz) o["fdev"] = unsigned_integer(*frequency_deviation_hz);
    if (!fsk) o["ipol"] = Value{invert_polarity};
    if (preamble_symbols) o["prea"] = unsigned_integer(*preamble_symbols);
    if (without_crc) o["ncrc"] = Value{true};
    put_payload(o, payload);
    Object outer;
    outer["txpk"] = Value{std::move(o)};
    return json::write(Value{std::move(outer)});
}

// ---- TX_ACK -------------------------------------------------------------------------

std::string_view tx_status_name(TxStatus status) noexcept {
    const auto index = static_cast<std::size_t>(status);
    return index < status_names.size() ? status_names[index] : std::string_view{};
}

std::optional<TxStatus> tx_status_named(std::string_view name) noexcept {
    for (std::size_t i = 0; i < status_names.size(); ++i)
        if (status_names[i] == name) return static_cast<TxStatus>(i);
    return std::nullopt;
}

std::expected<TxStatus, ProtocolError> tx_status_from_json(std::span<const std::uint8_t> body) {
    if (is_blank(body)) return TxStatus::None;
    const auto value = parse_json(body, "a TX_ACK");
    if (!value) return std::unexpected(value.error());
    const auto object = object_of(*value, "a TX_ACK payload");
    if (!object) return std::unexpected(object.error());
    const Value* ack = json::find(**object, "txpk_ack");
    if (!ack) return refuse("a TX_ACK payload carries no \"txpk_ack\"");
    const auto ack_object = object_of(*ack, "a txpk_ack object");
    if (!ack_object) return std::unexpected(ack_object.error());
    const std::string* error = json::string_at(**ack_object, "error");
    if (!error) return TxStatus::None;
    const auto status = tx_status_named(*error);
    if (!status) return refuse(cat(*error, " is not a TX_ACK error"));
    return *status;
}

std::string tx_status_to_json(TxStatus status) {
    Object error;
    error["error"] = text(std::string(tx_status_name(status)));
    Object o;
    o["txpk_ack"] = Value{std::move(error)};
    return json::write(Value{std::move(o)});
}

}  // namespace trovik::gateway::udp
