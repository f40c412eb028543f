// The packet-forwarder surface: the received, transmitted and status records,
// the datagram object, and reading, writing and acknowledging datagrams.
#include "gateway/gateway.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding.hpp"
#include "lora/region.hpp"
#include "trovik/gateway/time.hpp"
#include "trovik/gateway/udp.hpp"

namespace trovik::py {

const BindingSource this_source{"gateway"};

namespace gw = gateway::udp;

// What a Python `GatewayStat` holds.
struct GatewayStatValue {
    std::optional<std::uint64_t> time_s;
    std::optional<double> latitude_deg;
    std::optional<double> longitude_deg;
    std::optional<std::int32_t> altitude_m;
    std::uint32_t received;
    std::uint32_t received_ok;
    std::uint32_t forwarded;
    double acknowledged_percent;
    std::uint32_t downlinks;
    std::uint32_t transmitted;
};

// What a Python `GatewayPacket` holds: the record objects themselves, so the
// getters hand back the very objects given.
struct GatewayPacketValue {
    std::string kind;
    std::uint16_t token;
    std::optional<std::string> gateway;
    std::vector<Ref> packets;
    Ref status;    // a GatewayStat, or null
    Ref transmit;  // a GatewayTxpk, or null
    std::optional<std::string> tx_status;
};

namespace {

// An argument that must be an instance of a bound class, kept as the object.
template <class T>
struct Held {
    Ref object;
};
// A sequence of instances of a bound class, kept as the objects.
template <class T>
struct HeldList {
    std::vector<Ref> objects;
};

}  // namespace

template <class T>
struct Caster<Held<T>> {
    Held<T> v;
    explicit Caster(PyObject* o) {
        ClassOf<T>::cls->instance_of(o);
        v.object = Ref::borrow(o);
    }
    Held<T> get() && { return std::move(v); }
};

template <class T>
struct Caster<HeldList<T>> {
    HeldList<T> v;
    explicit Caster(PyObject* o) {
        const Py_ssize_t n = sequence_length(o);
        v.objects.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            Ref item(check(PySequence_GetItem(o, i)));
            ClassOf<T>::cls->instance_of(item.get());
            v.objects.push_back(std::move(item));
        }
    }
    HeldList<T> get() && { return std::move(v); }
};

namespace {

std::optional<lora::LinkSettings> settings_of(const std::optional<In<LoraLinkValue>>& link) {
    if (!link) return std::nullopt;
    return (*link)->settings;
}

const char* crc_name(gw::CrcStatus crc) {
    switch (crc) {
        case gw::CrcStatus::Ok: return "Ok";
        case gw::CrcStatus::Failed: return "Failed";
        case gw::CrcStatus::Absent: return "Absent";
    }
    return "Absent";
}

// The FSK bitrate of a core modulation; a LoRa one has its settings instead.
std::optional<std::uint32_t> bitrate_of(const gw::Modulation& modulation) {
    if (const auto* fsk = std::get_if<gw::Fsk>(&modulation)) return fsk->bitrate_bps;
    return std::nullopt;
}

Class<GatewayRxpkValue> rxpk_class{
    "GatewayRxpk", "A packet the gateway heard, with the metadata the protocol carries beside it.", [](auto& c) {
        c.no_borrow();  // a plain value that never changes
        c.init(
            {"frequency_hz", "payload", kw_only, arg("link").none(), arg("bitrate_bps").none(),
             arg("crc").def("Ok").show("..."), arg("rssi_dbm").def(0.0), arg("snr_db").none(), arg("channel").def(0),
             arg("rf_chain").def(0), arg("timestamp_us").none(), arg("received_at_us").none(),
             arg("gps_millis").none()},
            [](std::uint32_t frequency_hz, ByteVec payload, std::optional<In<LoraLinkValue>> link,
               std::optional<std::uint32_t> bitrate_bps, std::string crc, double rssi_dbm, std::optional<double> snr_db,
               std::uint8_t channel, std::uint8_t rf_chain, std::optional<std::uint32_t> timestamp_us,
               std::optional<std::uint64_t> received_at_us, std::optional<std::uint64_t> gps_millis) {
                return GatewayRxpkValue{frequency_hz,
                                        std::move(payload),
                                        settings_of(link),
                                        bitrate_bps,
                                        std::move(crc),
                                        rssi_dbm,
                                        snr_db,
                                        channel,
                                        rf_chain,
                                        timestamp_us,
                                        received_at_us,
                                        gps_millis};
            });
        c.prop("frequency_hz", "The carrier it was heard on, in hertz.",
               [](const GatewayRxpkValue& r) { return r.frequency_hz; });
        c.prop("payload", "The bytes received.", [](const GatewayRxpkValue& r) { return ByteView(r.payload); });
        c.prop("link", "The LoRa settings it was heard with, or `None` for FSK.",
               [](const GatewayRxpkValue& r) -> PyObject* { return r.link ? make_lora_link(*r.link) : none(); });
        c.prop("bitrate_bps", "The FSK bitrate in bits per second, or `None` for LoRa.",
               [](const GatewayRxpkValue& r) { return r.bitrate_bps; });
        c.prop("crc", "What the gateway said of the CRC: `Ok`, `Failed` or `Absent`.",
               [](const GatewayRxpkValue& r) { return std::string_view(r.crc); });
        c.prop("rssi_dbm", "The received signal strength, in dBm.",
               [](const GatewayRxpkValue& r) { return r.rssi_dbm; });
        c.prop("snr_db", "The signal-to-noise ratio in dB, or `None`.",
               [](const GatewayRxpkValue& r) { return r.snr_db; });
        c.prop("channel", "The concentrator's IF channel.", [](const GatewayRxpkValue& r) { return r.channel; });
        c.prop("rf_chain", "The RF chain it came through.", [](const GatewayRxpkValue& r) { return r.rf_chain; });
        c.prop("timestamp_us", "The concentrator's microsecond counter when it was heard, or `None`.",
               [](const GatewayRxpkValue& r) { return r.timestamp_us; });
        c.prop("received_at_us", "When it was received, in microseconds since 1970 (UTC), or `None`.",
               [](const GatewayRxpkValue& r) { return r.received_at_us; });
        c.prop("gps_millis", "When it was received, in milliseconds of the GPS clock, or `None`.",
               [](const GatewayRxpkValue& r) { return r.gps_millis; });
    }};

Class<GatewayTxpkValue> txpk_class{
    "GatewayTxpk", "A packet the server asks the gateway to transmit.", [](auto& c) {
        c.no_borrow();  // a plain value that never changes
        c.init({"frequency_hz", "payload", kw_only, arg("link").none(), arg("bitrate_bps").none(),
                arg("immediate").none(), arg("timestamp_us").none(), arg("gps_millis").none(), arg("rf_chain").def(0),
                arg("power_dbm").def(14), arg("frequency_deviation_hz").none(), arg("invert_polarity").def(false),
                arg("preamble_symbols").none(), arg("without_crc").def(false)},
               [](std::uint32_t frequency_hz, ByteVec payload, std::optional<In<LoraLinkValue>> link,
                  std::optional<std::uint32_t> bitrate_bps, std::optional<bool> immediate,
                  std::optional<std::uint32_t> timestamp_us, std::optional<std::uint64_t> gps_millis,
                  std::uint8_t rf_chain, std::int8_t power_dbm, std::optional<std::uint32_t> frequency_deviation_hz,
                  bool invert_polarity, std::optional<std::uint16_t> preamble_symbols, bool without_crc) {
                   // Without a time to send at, the gateway can only send at once.
                   const bool now = immediate.value_or(!timestamp_us.has_value());
                   return GatewayTxpkValue{frequency_hz, std::move(payload),     settings_of(link), bitrate_bps,
                                           now,          timestamp_us,           gps_millis,        rf_chain,
                                           power_dbm,    frequency_deviation_hz, invert_polarity,   preamble_symbols,
                                           without_crc};
               });
        c.prop("frequency_hz", "The carrier to transmit on, in hertz.",
               [](const GatewayTxpkValue& t) { return t.frequency_hz; });
        c.prop("payload", "The bytes to transmit.", [](const GatewayTxpkValue& t) { return ByteView(t.payload); });
        c.prop("link", "The LoRa settings to transmit with, or `None` for FSK.",
               [](const GatewayTxpkValue& t) -> PyObject* { return t.link ? make_lora_link(*t.link) : none(); });
        c.prop("bitrate_bps", "The FSK bitrate in bits per second, or `None` for LoRa.",
               [](const GatewayTxpkValue& t) { return t.bitrate_bps; });
        c.prop("immediate", "Whether to transmit at once rather than at a given time.",
               [](const GatewayTxpkValue& t) { return t.immediate; });
        c.prop("timestamp_us", "The concentrator time to transmit at, in microseconds, or `None`.",
               [](const GatewayTxpkValue& t) { return t.timestamp_us; });
        c.prop("gps_millis", "The GPS time to transmit at, in milliseconds, or `None`.",
               [](const GatewayTxpkValue& t) { return t.gps_millis; });
        c.prop("rf_chain", "The RF chain to transmit through.", [](const GatewayTxpkValue& t) { return t.rf_chain; });
        c.prop("power_dbm", "The transmit power, in dBm.", [](const GatewayTxpkValue& t) { return t.power_dbm; });
        c.prop("frequency_deviation_hz", "The FSK frequency deviation in hertz, or `None`.",
               [](const GatewayTxpkValue& t) { return t.frequency_deviation_hz; });
        c.prop("invert_polarity", "Whether to invert the LoRa chirps, as downlinks to devices do.",
               [](const GatewayTxpkValue& t) { return t.invert_polarity; });
        c.prop("preamble_symbols", "The preamble length in symbols, or `None` for the gateway's default.",
               [](const GatewayTxpkValue& t) { return t.preamble_symbols; });
        c.prop("without_crc", "Whether to send the packet without a CRC.",
               [](const GatewayTxpkValue& t) { return t.without_crc; });
    }};

Class<GatewayStatValue> stat_class{
    "GatewayStat", "A gateway's own status report.", [](auto& c) {
        c.no_borrow();  // a plain value that never changes
        c.init({kw_only, arg("time_s").none(), arg("latitude_deg").none(), arg("longitude_deg").none(),
                arg("altitude_m").none(), arg("received").def(0), arg("received_ok").def(0), arg("forwarded").def(0),
                arg("acknowledged_percent").def(0.0), arg("downlinks").def(0), arg("transmitted").def(0)},
               [](std::optional<std::uint64_t> time_s, std::optional<double> latitude_deg,
                  std::optional<double> longitude_deg, std::optional<std::int32_t> altitude_m, std::uint32_t received,
                  std::uint32_t received_ok, std::uint32_t forwarded, double acknowledged_percent,
                  std::uint32_t downlinks, std::uint32_t transmitted) {
                   return GatewayStatValue{time_s,      latitude_deg, longitude_deg,        altitude_m, received,
                                           received_ok, forwarded,    acknowledged_percent, downlinks,  transmitted};
               });
        c.prop("time_s", "When the report was made, in seconds since 1970 (UTC), or `None`.",
               [](const GatewayStatValue& s) { return s.time_s; });
        c.prop("latitude_deg", "The gateway's latitude in degrees, north positive, or `None`.",
               [](const GatewayStatValue& s) { return s.latitude_deg; });
        c.prop("longitude_deg", "The gateway's longitude in degrees, east positive, or `None`.",
               [](const GatewayStatValue& s) { return s.longitude_deg; });
        c.prop("altitude_m", "The gateway's altitude in metres, or `None`.",
               [](const GatewayStatValue& s) { return s.altitude_m; });
        c.prop("received", "Packets the radio received.", [](const GatewayStatValue& s) { return s.received; });
        c.prop("received_ok", "Of those, packets with a good CRC.",
               [](const GatewayStatValue& s) { return s.received_ok; });
        c.prop("forwarded", "Packets forwarded.", [](const GatewayStatValue& s) { return s.forwarded; });
        c.prop("acknowledged_percent", "The share of datagrams acknowledged, in percent.",
               [](const GatewayStatValue& s) { return s.acknowledged_percent; });
        c.prop("downlinks", "Downlink datagrams received.", [](const GatewayStatValue& s) { return s.downlinks; });
        c.prop("transmitted", "Packets transmitted.", [](const GatewayStatValue& s) { return s.transmitted; });
    }};

Class<GatewayPacketValue> packet_class{
    "GatewayPacket", "One datagram of the protocol, with the fields its kind carries.", [](auto& c) {
        c.no_borrow();  // never changes after construction; holds only immutable objects
        c.init({"kind", "token", kw_only, arg("gateway").none(), arg("packets").empty().show("..."),
                arg("status").none(), arg("transmit").none(), arg("tx_status").none()},
               [](std::string kind, std::uint16_t token, std::optional<std::string> gateway,
                  HeldList<GatewayRxpkValue> packets, std::optional<Held<GatewayStatValue>> status,
                  std::optional<Held<GatewayTxpkValue>> transmit, std::optional<std::string> tx_status) {
                   return GatewayPacketValue{std::move(kind),
                                             token,
                                             std::move(gateway),
                                             std::move(packets.objects),
                                             status ? std::move(status->object) : Ref(),
                                             transmit ? std::move(transmit->object) : Ref(),
                                             std::move(tx_status)};
               });
        c.prop("kind", "The kind of datagram: PushData, PushAck, PullData, PullResp, PullAck or TxAck.",
               [](const GatewayPacketValue& p) { return std::string_view(p.kind); });
        c.prop("token", "The token that pairs a datagram with its answer.",
               [](const GatewayPacketValue& p) { return p.token; });
        c.prop("gateway", "The gateway's EUI as sixteen hexadecimal digits, or `None`.",
               [](const GatewayPacketValue& p) { return p.gateway; });
        c.prop("packets", "The packets a PUSH_DATA forwards.", [](const GatewayPacketValue& p) -> PyObject* {
            Ref list(check(PyList_New(static_cast<Py_ssize_t>(p.packets.size()))));
            for (std::size_t i = 0; i < p.packets.size(); ++i)
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), Ref::borrow(p.packets[i].get()).release());
            return list.release();
        });
        c.prop("status", "The report a PUSH_DATA carries, or `None`.", [](const GatewayPacketValue& p) -> PyObject* {
            return p.status ? Ref::borrow(p.status.get()).release() : none();
        });
        c.prop("transmit", "What a PULL_RESP asks the gateway to transmit, or `None`.",
               [](const GatewayPacketValue& p) -> PyObject* {
                   return p.transmit ? Ref::borrow(p.transmit.get()).release() : none();
               });
        c.prop("tx_status", "What a TX_ACK reports, or `None`.",
               [](const GatewayPacketValue& p) { return p.tx_status; });
    }};

// ---- conversions -----------------------------------------------------------------

gateway::Eui gateway_of(const std::optional<std::string>& gateway) {
    if (!gateway) raise_value_error("this kind of datagram carries the gateway's identifier");
    const auto eui = gateway::Eui::from_hex(*gateway);
    if (!eui) raise_value_error("a gateway identifier is sixteen hexadecimal digits, not " + *gateway);
    return *eui;
}

std::optional<gw::PacketKind> kind_named(std::string_view name) {
    for (std::uint8_t i = 0; i <= static_cast<std::uint8_t>(gw::PacketKind::TxAck); ++i)
        if (gw::kind_name(static_cast<gw::PacketKind>(i)) == name) return static_cast<gw::PacketKind>(i);
    return std::nullopt;
}

gw::Stat stat_of(const GatewayStatValue& s) {
    gw::Stat stat;
    if (s.time_s) stat.time = gateway::time::expanded(*s.time_s);
    stat.latitude_deg = s.latitude_deg;
    stat.longitude_deg = s.longitude_deg;
    stat.altitude_m = s.altitude_m;
    stat.received = s.received;
    stat.received_ok = s.received_ok;
    stat.forwarded = s.forwarded;
    stat.acknowledged_percent = s.acknowledged_percent;
    stat.downlinks = s.downlinks;
    stat.transmitted = s.transmitted;
    return stat;
}

PyObject* stat_to_py(const gw::Stat& s) {
    return make(GatewayStatValue{s.time ? gateway::time::from_expanded(*s.time) : std::nullopt, s.latitude_deg,
                                 s.longitude_deg, s.altitude_m, s.received, s.received_ok, s.forwarded,
                                 s.acknowledged_percent, s.downlinks, s.transmitted});
}

gw::Packet packet_of(const GatewayPacketValue& p) {
    const auto kind = kind_named(p.kind);
    if (!kind) raise_value_error("no datagram is of kind " + p.kind);
    switch (*kind) {
        case gw::PacketKind::PushData: {
            gw::PushData push{p.token, gateway_of(p.gateway), {}};
            push.uplink.packets.reserve(p.packets.size());
            for (const Ref& rx : p.packets)
                push.uplink.packets.push_back(rxpk_of(Class<GatewayRxpkValue>::value_of(rx.get())));
            if (p.status) push.uplink.status = stat_of(Class<GatewayStatValue>::value_of(p.status.get()));
            return gw::Packet{std::move(push)};
        }
        case gw::PacketKind::PushAck: return gw::Packet{gw::PushAck{p.token}};
        case gw::PacketKind::PullData: return gw::Packet{gw::PullData{p.token, gateway_of(p.gateway)}};
        case gw::PacketKind::PullResp:
            if (!p.transmit) raise_value_error("a PullResp carries what to transmit in `transmit`");
            return gw::Packet{gw::PullResp{p.token, txpk_of(Class<GatewayTxpkValue>::value_of(p.transmit.get()))}};
        case gw::PacketKind::PullAck: return gw::Packet{gw::PullAck{p.token}};
        case gw::PacketKind::TxAck: {
            const gateway::Eui eui = gateway_of(p.gateway);
            auto status = gw::TxStatus::None;
            if (p.tx_status) {
                const auto named = gw::tx_status_named(*p.tx_status);
                if (!named) raise_value_error(*p.tx_status + " is not a TX_ACK status");
                status = *named;
            }
            return gw::Packet{gw::TxAck{p.token, eui, status}};
        }
    }
    raise_value_error("no datagram is of kind " + p.kind);
}

GatewayPacketValue bare_packet(gw::PacketKind kind, std::uint16_t token) {
    return GatewayPacketValue{std::string(gw::kind_name(kind)), token, std::nullopt, {}, Ref(), Ref(), std::nullopt};
}

PyObject* packet_to_py(const gw::Packet& packet) {
    GatewayPacketValue value = bare_packet(packet.kind(), packet.token());
    std::visit(
        [&](const auto& p) {
            using T = std::decay_t<decltype(p)>;
            if constexpr (requires { p.gateway; }) value.gateway = p.gateway.to_hex();
            if constexpr (std::is_same_v<T, gw::PushData>) {
                value.packets.reserve(p.uplink.packets.size());
                for (const gw::Rxpk& rx : p.uplink.packets)
                    value.packets.emplace_back(rxpk_to_py(rx));
                if (p.uplink.status) value.status = Ref(stat_to_py(*p.uplink.status));
            } else if constexpr (std::is_same_v<T, gw::PullResp>) {
                value.transmit = Ref(txpk_to_py(p.transmit));
            } else if constexpr (std::is_same_v<T, gw::TxAck>) {
                value.tx_status = std::string(gw::tx_status_name(p.tx_status));
            }
        },
        packet.body);
    return make(std::move(value));
}

const Function parse_fn{"gateway_parse", "Reads a datagram that arrived.", {"datagram"}, [](ByteView datagram) {
                            return packet_to_py(unwrap(gw::Packet::parse(datagram)));
                        }};

const Function encode_fn{
    "gateway_encode", "Writes a datagram to send over a socket.", {"packet"}, [](In<GatewayPacketValue> packet) {
        return packet_of(*packet).to_bytes();
    }};

const Function acknowledgment_fn{
    "gateway_acknowledgment",
    "Returns the acknowledgment a server owes a datagram, or `None` for one that needs none.",
    {"packet"},
    [](In<GatewayPacketValue> packet) -> PyObject* {
        const gw::Packet core = packet_of(*packet);
        switch (core.kind()) {
            case gw::PacketKind::PushData: return make(bare_packet(gw::PacketKind::PushAck, core.token()));
            case gw::PacketKind::PullData: return make(bare_packet(gw::PacketKind::PullAck, core.token()));
            default: return none();
        }
    }};

}  // namespace

// ---- shared converters --------------------------------------------------------------

gw::Modulation modulation_of(const std::optional<lora::LinkSettings>& link, std::optional<std::uint32_t> bitrate_bps) {
    if (bitrate_bps) return gw::Fsk{*bitrate_bps};
    if (!link) return lora::LinkSettings(7, 125000);
    lora::LinkSettings settings = lora::LinkSettings(link->spreading_factor(), link->bandwidth_hz())
                                      .with_coding_rate(link->coding_rate_denominator());
    settings.preamble_symbols = link->preamble_symbols;
    settings.explicit_header = link->explicit_header;
    settings.crc = link->crc;
    return settings;
}

gw::Rxpk rxpk_of(const GatewayRxpkValue& r) {
    gw::Rxpk rx;
    if (r.received_at_us) rx.time = gateway::time::compact(*r.received_at_us);
    if (r.crc == "Ok")
        rx.crc = gw::CrcStatus::Ok;
    else if (r.crc == "Failed")
        rx.crc = gw::CrcStatus::Failed;
    else if (r.crc == "Absent")
        rx.crc = gw::CrcStatus::Absent;
    else
        raise_value_error("no CRC status is named " + r.crc + "; use Ok, Failed, or Absent");
    rx.modulation = modulation_of(r.link, r.bitrate_bps);
    rx.rssi = lora::Decibels::from_db(r.rssi_dbm);
    if (r.snr_db) rx.snr = lora::Decibels::from_db(*r.snr_db);
    rx.payload = r.payload;
    rx.frequency_hz = r.frequency_hz;
    rx.channel = r.channel;
    rx.rf_chain = r.rf_chain;
    rx.timestamp_us = r.timestamp_us;
    rx.gps_millis = r.gps_millis;
    return rx;
}

gw::Txpk txpk_of(const GatewayTxpkValue& t) {
    gw::Txpk tx;
    tx.immediate = t.immediate;
    tx.timestamp_us = t.timestamp_us;
    tx.gps_millis = t.gps_millis;
    tx.frequency_hz = t.frequency_hz;
    tx.rf_chain = t.rf_chain;
    tx.power_dbm = t.power_dbm;
    tx.modulation = modulation_of(t.link, t.bitrate_bps);
    tx.frequency_deviation_hz = t.frequency_deviation_hz;
    tx.invert_polarity = t.invert_polarity;
    tx.preamble_symbols = t.preamble_symbols;
    tx.without_crc = t.without_crc;
    tx.payload = t.payload;
    return tx;
}

PyObject* rxpk_to_py(const gw::Rxpk& rx) {
    const auto* link = std::get_if<lora::LinkSettings>(&rx.modulation);
    return make(GatewayRxpkValue{
        rx.frequency_hz,
        rx.payload,
        link ? std::optional<lora::LinkSettings>(*link) : std::nullopt,
        bitrate_of(rx.modulation),
        crc_name(rx.crc),
        rx.rssi.to_db(),
        rx.snr ? std::optional<double>(rx.snr->to_db()) : std::nullopt,
        rx.channel,
        rx.rf_chain,
        rx.timestamp_us,
        rx.time ? gateway::time::from_compact(*rx.time) : std::nullopt,
        rx.gps_millis,
    });
}

PyObject* txpk_to_py(const gw::Txpk& tx) {
    const auto* link = std::get_if<lora::LinkSettings>(&tx.modulation);
    return make(GatewayTxpkValue{
        tx.frequency_hz,
        tx.payload,
        link ? std::optional<lora::LinkSettings>(*link) : std::nullopt,
        bitrate_of(tx.modulation),
        tx.immediate,
        tx.timestamp_us,
        tx.gps_millis,
        tx.rf_chain,
        tx.power_dbm,
        tx.frequency_deviation_hz,
        tx.invert_polarity,
        tx.preamble_symbols,
        tx.without_crc,
    });
}

}  // namespace trovik::py
