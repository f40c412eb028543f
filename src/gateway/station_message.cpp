// One Python class for every Basics Station message kind, and the module
// functions that read and write messages, identifiers, clock values and the
// discovery exchange.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "binding/binding.hpp"
#include "gateway/station.hpp"
#include "trovik/core/saturating.hpp"
#include "trovik/gateway/station_discovery.hpp"
#include "trovik/gateway/station_message.hpp"

namespace trovik::py {

const BindingSource this_source{"gateway_station"};

namespace {

namespace station = gateway::station;
using gateway_station::Held;
using gateway_station::identifier;
using gateway_station::identifier_text;

// An object holds exactly what its caller gave; the kind's rules apply only
// when it is written.
struct StationMessage {
    std::string msgtype;
    std::optional<std::string> station, firmware, package, model;
    std::optional<std::uint32_t> protocol;
    std::optional<std::string> features;
    std::optional<std::vector<std::uint32_t>> net_id;
    std::optional<std::vector<Held<station::JoinRange>>> join_eui_ranges;
    std::optional<std::string> region;
    std::optional<double> max_eirp;
    std::optional<std::string> hwspec;
    std::optional<std::uint32_t> freq_min, freq_max;
    std::optional<std::vector<std::optional<Held<station::DataRate>>>> data_rates;
    std::optional<std::uint8_t> mhdr;
    std::optional<std::string> join_eui, dev_eui;
    std::optional<std::uint16_t> dev_nonce;
    std::optional<std::int32_t> dev_addr;
    std::optional<std::uint8_t> fctrl;
    std::optional<std::uint16_t> fcnt;
    ByteVec fopts;
    std::optional<std::uint8_t> fport;
    ByteVec payload;
    std::optional<std::int32_t> mic;
    std::optional<std::uint8_t> data_rate;
    std::optional<std::uint32_t> frequency_hz;
    std::optional<Held<station::Levels>> levels;
    std::optional<std::uint8_t> class_;
    std::optional<std::int64_t> diid;
    std::optional<std::uint8_t> rx_delay;
    std::optional<Held<station::Window>> rx1, rx2, ping_slot;
    std::optional<std::uint8_t> priority;
    std::optional<std::int64_t> xtime, rctx;
    std::optional<double> txtime;
    std::optional<std::int64_t> gpstime;
    std::optional<std::vector<Held<station::Broadcast>>> schedule;
};

template <class T>
std::optional<Held<T>> held(T value) {
    return Held<T>{Ref(make(std::move(value)))};
}

template <class T>
PyObject* list_of(const std::optional<std::vector<T>>& items) {
    if (!items) return none();
    Ref list(check(PyList_New(static_cast<Py_ssize_t>(items->size()))));
    for (std::size_t i = 0; i < items->size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), check(to_py((*items)[i])));
    return list.release();
}

std::optional<station::Window> window_of(const std::optional<Held<station::Window>>& w) {
    if (!w) return std::nullopt;
    return w->value();
}

station::Message message_of(const StationMessage& m) {
    // The uplink levels first, whatever the kind: the levels given, or the
    // message's own radio context and clocks.
    station::Levels levels;
    if (m.levels) {
        levels = m.levels->value();
    } else {
        levels.rctx = m.rctx.value_or(0);
        levels.xtime = m.xtime.value_or(0);
        levels.gpstime = m.gpstime;
    }
    const std::string& kind = m.msgtype;
    const auto text = [](const std::optional<std::string>& s) { return s.value_or(std::string()); };
    if (kind == "version") {
        return {station::Version{text(m.station), text(m.firmware), text(m.package), text(m.model),
                                 m.protocol.value_or(2), text(m.features)}};
    }
    if (kind == "router_config") {
        station::RouterConfig c;
        c.net_id = m.net_id;
        if (m.join_eui_ranges) {
            for (const auto& range : *m.join_eui_ranges)
                c.join_eui_ranges.push_back(range.value());
        }
        c.region = text(m.region);
        c.max_eirp = m.max_eirp.value_or(0.0);
        c.hwspec = text(m.hwspec);
        c.freq_min = m.freq_min.value_or(0);
        c.freq_max = m.freq_max.value_or(0);
        if (m.data_rates) {
            for (const auto& rate : *m.data_rates)
                c.data_rates.push_back(rate ? std::optional(rate->value()) : std::nullopt);
        }
        return {std::move(c)};
    }
    if (kind == "jreq") {
        // A missing identifier is checked as the empty text, so it is refused.
        const station::Identifier join_eui = identifier(text(m.join_eui));
        const station::Identifier dev_eui = identifier(text(m.dev_eui));
        return {station::JoinRequest{m.mhdr.value_or(0), join_eui, dev_eui, m.dev_nonce.value_or(0), m.mic.value_or(0),
                                     m.data_rate.value_or(0), m.frequency_hz.value_or(0), levels}};
    }
    if (kind == "updf") {
        return {station::DataUplink{m.mhdr.value_or(0), m.dev_addr.value_or(0), m.fctrl.value_or(0), m.fcnt.value_or(0),
                                    m.fopts, m.fport, m.payload, m.mic.value_or(0), m.data_rate.value_or(0),
                                    m.frequency_hz.value_or(0), levels}};
    }
    if (kind == "propdf") {
        return {station::ProprietaryUplink{m.payload, m.data_rate.value_or(0), m.frequency_hz.value_or(0), levels}};
    }
    if (kind == "dnmsg") {
        station::Downlink d;
        d.dev_eui = identifier(text(m.dev_eui));
        d.class_ = m.class_.value_or(0);
        d.diid = m.diid.value_or(0);
        d.payload = m.payload;
        d.rx_delay = m.rx_delay;
        d.rx1 = window_of(m.rx1);
        d.rx2 = window_of(m.rx2);
        d.ping_slot = window_of(m.ping_slot);
        d.priority = m.priority.value_or(0);
        d.xtime = m.xtime;
        d.rctx = m.rctx;
        d.gpstime = m.gpstime;
        return {std::move(d)};
    }
    if (kind == "dnsched") {
        station::Schedule s;
        if (m.schedule) {
            for (const auto& entry : *m.schedule)
                s.schedule.push_back(entry.value());
        }
        return {std::move(s)};
    }
    if (kind == "dntxed") {
        const station::Identifier dev_eui = identifier(text(m.dev_eui));
        return {station::Transmitted{m.diid.value_or(0), dev_eui, m.rctx.value_or(0), m.xtime.value_or(0),
                                     m.txtime.value_or(0.0), m.gpstime}};
    }
    if (kind == "timesync") {
        std::optional<std::int64_t> txtime;
        if (m.txtime) txtime = core::saturating_round<std::int64_t>(*m.txtime);
        return {station::TimeSync{txtime, m.xtime, m.gpstime}};
    }
    return {station::OtherKind{kind}};
}

struct ToPy {
    StationMessage& m;

    void operator()(const station::Version& v) const {
        m.station = v.station;
        m.firmware = v.firmware;
        m.package = v.package;
        m.model = v.model;
        m.protocol = v.protocol;
        m.features = v.features;
    }
    void operator()(const station::RouterConfig& c) const {
        m.net_id = c.net_id;
        m.join_eui_ranges.emplace();
        for (const auto& range : c.join_eui_ranges)
            m.join_eui_ranges->push_back(*held(range));
        m.region = c.region;
        m.max_eirp = c.max_eirp;
        m.hwspec = c.hwspec;
        m.freq_min = c.freq_min;
        m.freq_max = c.freq_max;
        m.data_rates.emplace();
        for (const auto& rate : c.data_rates)
            m.data_rates->push_back(rate ? held(*rate) : std::nullopt);
    }
    void operator()(const station::JoinRequest& j) const {
        m.mhdr = j.mhdr;
        m.join_eui = identifier_text(j.join_eui);
        m.dev_eui = identifier_text(j.dev_eui);
        m.dev_nonce = j.dev_nonce;
        m.mic = j.mic;
        m.data_rate = j.data_rate;
        m.frequency_hz = j.frequency_hz;
        m.levels = held(j.levels);
    }
    void operator()(const station::DataUplink& u) const {
        m.mhdr = u.mhdr;
        m.dev_addr = u.dev_addr;
        m.fctrl = u.fctrl;
        m.fcnt = u.fcnt;
        m.fopts = u.fopts;
        m.fport = u.fport;
        m.payload = u.payload;
        m.mic = u.mic;
        m.data_rate = u.data_rate;
        m.frequency_hz = u.frequency_hz;
        m.levels = held(u.levels);
    }
    void operator()(const station::ProprietaryUplink& p) const {
        m.payload = p.payload;
        m.data_rate = p.data_rate;
        m.frequency_hz = p.frequency_hz;
        m.levels = held(p.levels);
    }
    void operator()(const station::Downlink& d) const {
        m.dev_eui = identifier_text(d.dev_eui);
        m.class_ = d.class_;
        m.diid = d.diid;
        m.payload = d.payload;
        m.rx_delay = d.rx_delay;
        if (d.rx1) m.rx1 = held(*d.rx1);
        if (d.rx2) m.rx2 = held(*d.rx2);
        if (d.ping_slot) m.ping_slot = held(*d.ping_slot);
        m.priority = d.priority;
        m.xtime = d.xtime;
        m.rctx = d.rctx;
        m.gpstime = d.gpstime;
    }
    void operator()(const station::Schedule& s) const {
        m.schedule.emplace();
        for (const auto& entry : s.schedule)
            m.schedule->push_back(*held(entry));
    }
    void operator()(const station::Transmitted& t) const {
        m.diid = t.diid;
        m.dev_eui = identifier_text(t.dev_eui);
        m.rctx = t.rctx;
        m.xtime = t.xtime;
        m.txtime = t.txtime;
        m.gpstime = t.gpstime;
    }
    void operator()(const station::TimeSync& t) const {
        if (t.txtime) m.txtime = static_cast<double>(*t.txtime);
        m.xtime = t.xtime;
        m.gpstime = t.gpstime;
    }
    void operator()(const station::OtherKind&) const {}
};

PyObject* message_to_py(const station::Message& message) {
    StationMessage m;
    m.msgtype = std::string(message.msgtype());
    std::visit(ToPy{m}, message.kind);
    return make(std::move(m));
}

Class<StationMessage> message_class{
    "GatewayStationMessage",
    "A message either side of a session sends.\n\n"
    "Every message names its kind in `msgtype`, and carries the fields that kind uses. The rest\n"
    "read as ``None``. Build one with the keyword arguments of its kind and write it with\n"
    ":func:`station_encode`.",
    [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"msgtype",
                kw_only,
                arg("station").none(),
                arg("firmware").none(),
                arg("package").none(),
                arg("model").none(),
                arg("protocol").none(),
                arg("features").none(),
                arg("net_id").none(),
                arg("join_eui_ranges").none(),
                arg("region").none(),
                arg("max_eirp").none(),
                arg("hwspec").none(),
                arg("freq_min").none(),
                arg("freq_max").none(),
                arg("data_rates").none(),
                arg("mhdr").none(),
                arg("join_eui").none(),
                arg("dev_eui").none(),
                arg("dev_nonce").none(),
                arg("dev_addr").none(),
                arg("fctrl").none(),
                arg("fcnt").none(),
                arg("fopts").none(),
                arg("fport").none(),
                arg("payload").none(),
                arg("mic").none(),
                arg("data_rate").none(),
                arg("frequency_hz").none(),
                arg("levels").none(),
                arg("class_").none(),
                arg("diid").none(),
                arg("rx_delay").none(),
                arg("rx1").none(),
                arg("rx2").none(),
                arg("ping_slot").none(),
                arg("priority").none(),
                arg("xtime").none(),
                arg("rctx").none(),
                arg("txtime").none(),
                arg("gpstime").none(),
                arg("schedule").none()},
               [](std::string msgtype, std::optional<std::string> station, std::optional<std::string> firmware,
                  std::optional<std::string> package, std::optional<std::string> model,
                  std::optional<std::uint32_t> protocol, std::optional<std::string> features,
                  std::optional<std::vector<std::uint32_t>> net_id,
                  std::optional<std::vector<Held<station::JoinRange>>> join_eui_ranges,
                  std::optional<std::string> region, std::optional<double> max_eirp, std::optional<std::string> hwspec,
                  std::optional<std::uint32_t> freq_min, std::optional<std::uint32_t> freq_max,
                  std::optional<std::vector<std::optional<Held<station::DataRate>>>> data_rates,
                  std::optional<std::uint8_t> mhdr, std::optional<std::string> join_eui,
                  std::optional<std::string> dev_eui, std::optional<std::uint16_t> dev_nonce,
                  std::optional<std::int32_t> dev_addr, std::optional<std::uint8_t> fctrl,
                  std::optional<std::uint16_t> fcnt, std::optional<ByteVec> fopts, std::optional<std::uint8_t> fport,
                  std::optional<ByteVec> payload, std::optional<std::int32_t> mic,
                  std::optional<std::uint8_t> data_rate, std::optional<std::uint32_t> frequency_hz,
                  std::optional<Held<station::Levels>> levels, std::optional<std::uint8_t> class_,
                  std::optional<std::int64_t> diid, std::optional<std::uint8_t> rx_delay,
                  std::optional<Held<station::Window>> rx1, std::optional<Held<station::Window>> rx2,
                  std::optional<Held<station::Window>> ping_slot, std::optional<std::uint8_t> priority,
                  std::optional<std::int64_t> xtime, std::optional<std::int64_t> rctx, std::optional<double> txtime,
                  std::optional<std::int64_t> gpstime, std::optional<std::vector<Held<station::Broadcast>>> schedule) {
                   if (msgtype.empty()) raise_trovik("a message names its kind in msgtype, such as updf");
                   return StationMessage{std::move(msgtype),
                                         std::move(station),
                                         std::move(firmware),
                                         std::move(package),
                                         std::move(model),
                                         protocol,
                                         std::move(features),
                                         std::move(net_id),
                                         std::move(join_eui_ranges),
                                         std::move(region),
                                         max_eirp,
                                         std::move(hwspec),
                                         freq_min,
                                         freq_max,
                                         std::move(data_rates),
                                         mhdr,
                                         std::move(join_eui),
                                         std::move(dev_eui),
                                         dev_nonce,
                                         dev_addr,
                                         fctrl,
                                         fcnt,
                                         std::move(fopts).value_or(ByteVec{}),
                                         fport,
                                         std::move(payload).value_or(ByteVec{}),
                                         mic,
                                         data_rate,
                                         frequency_hz,
                                         std::move(levels),
                                         class_,
                                         diid,
                                         rx_delay,
                                         std::move(rx1),
                                         std::move(rx2),
                                         std::move(ping_slot),
                                         priority,
                                         xtime,
                                         rctx,
                                         txtime,
                                         gpstime,
                                         std::move(schedule)};
               });
        c.prop("msgtype", "The kind as the protocol writes it, such as `jreq` or `updf`.",
               [](const StationMessage& m) { return m.msgtype; });
        c.prop("station", "The station software, for a version.", [](const StationMessage& m) { return m.station; });
        c.prop("firmware", "Its firmware, for a version.", [](const StationMessage& m) { return m.firmware; });
        c.prop("package", "The package it came from, for a version.",
               [](const StationMessage& m) { return m.package; });
        c.prop("model", "The hardware model, for a version.", [](const StationMessage& m) { return m.model; });
        c.prop("protocol", "The protocol version it speaks, for a version.",
               [](const StationMessage& m) { return m.protocol; });
        c.prop("features", "What it can do, for a version.", [](const StationMessage& m) { return m.features; });
        c.prop("net_id",
               "The networks whose data frames a configuration forwards, ``None`` to forward every\n"
               "network's. A station matches each against the top seven bits of a device address, so an\n"
               "empty list forwards no data frame at all.",
               [](const StationMessage& m) { return list_of(m.net_id); });
        c.prop("join_eui_ranges", "The join identifier ranges a configuration forwards; empty forwards every join.",
               [](const StationMessage& m) { return list_of(m.join_eui_ranges); });
        c.prop("region", "The region name, for a configuration.", [](const StationMessage& m) { return m.region; });
        c.prop("max_eirp", "The highest radiated power the region allows, in dBm.",
               [](const StationMessage& m) { return m.max_eirp; });
        c.prop("hwspec", "The concentrator the configuration is written for.",
               [](const StationMessage& m) { return m.hwspec; });
        c.prop("freq_min", "The lowest frequency the station may use, in hertz.",
               [](const StationMessage& m) { return m.freq_min; });
        c.prop("freq_max", "The highest frequency the station may use, in hertz.",
               [](const StationMessage& m) { return m.freq_max; });
        c.prop("data_rates",
               "A configuration's data rates, indexed by data-rate number, with ``None`` for a number\n"
               "the table leaves undefined.",
               [](const StationMessage& m) { return list_of(m.data_rates); });
        c.prop("mhdr", "The MAC header byte, for a join request or a data frame.",
               [](const StationMessage& m) { return m.mhdr; });
        c.prop("join_eui", "The application being joined, as sixteen hexadecimal digits.",
               [](const StationMessage& m) { return m.join_eui; });
        c.prop("dev_eui", "The device, as sixteen hexadecimal digits.",
               [](const StationMessage& m) { return m.dev_eui; });
        c.prop("dev_nonce", "The nonce a join request used.", [](const StationMessage& m) { return m.dev_nonce; });
        c.prop("dev_addr", "The address a data frame came from.", [](const StationMessage& m) { return m.dev_addr; });
        c.prop("fctrl", "The frame control byte.", [](const StationMessage& m) { return m.fctrl; });
        c.prop("fcnt", "The frame counter, as the sixteen bits on the air.",
               [](const StationMessage& m) { return m.fcnt; });
        c.prop("fopts", "The frame options a data frame carries.",
               [](const StationMessage& m) { return to_py(m.fopts); });
        c.prop("fport", "The port, ``None`` for a frame carrying only options.",
               [](const StationMessage& m) { return m.fport; });
        c.prop("payload",
               "The payload a frame carries, still encrypted, the whole of a proprietary frame, or the\n"
               "frame a downlink transmits.",
               [](const StationMessage& m) { return to_py(m.payload); });
        c.prop("mic", "The message integrity code.", [](const StationMessage& m) { return m.mic; });
        c.prop("data_rate", "The data rate a frame arrived at.", [](const StationMessage& m) { return m.data_rate; });
        c.prop("frequency_hz", "The frequency in hertz.", [](const StationMessage& m) { return m.frequency_hz; });
        c.prop("levels", "How it was heard, for the kinds a station sends up.",
               [](const StationMessage& m) { return m.levels ? to_py(*m.levels) : none(); });
        c.prop("class_", "Which class of downlink this is: 0 for A, 1 for B, 2 for C.",
               [](const StationMessage& m) { return m.class_; });
        c.prop("diid", "The identifier a downlink and its transmission report share.",
               [](const StationMessage& m) { return m.diid; });
        c.prop("rx_delay", "The delay before the first receive window, in seconds.",
               [](const StationMessage& m) { return m.rx_delay; });
        c.prop("rx1", "The first receive window a downlink names.",
               [](const StationMessage& m) { return m.rx1 ? to_py(*m.rx1) : none(); });
        c.prop("rx2", "The second receive window a downlink names.",
               [](const StationMessage& m) { return m.rx2 ? to_py(*m.rx2) : none(); });
        c.prop("ping_slot", "The ping slot a class B downlink goes out in.",
               [](const StationMessage& m) { return m.ping_slot ? to_py(*m.ping_slot) : none(); });
        c.prop("priority", "How urgent a downlink is.", [](const StationMessage& m) { return m.priority; });
        c.prop("xtime",
               "The station clock in microseconds: the uplink a downlink answers, the moment a reported\n"
               "frame went out, or the one a time sync carries.",
               [](const StationMessage& m) { return m.xtime; });
        c.prop("rctx", "The radio, for a downlink or a report.", [](const StationMessage& m) { return m.rctx; });
        c.prop("txtime",
               "When a frame went out, in seconds, or the station time a time sync carries, in\n"
               "microseconds.",
               [](const StationMessage& m) { return m.txtime; });
        c.prop("gpstime", "The GPS time in microseconds since the GPS epoch.",
               [](const StationMessage& m) { return m.gpstime; });
        c.prop("schedule", "What to transmit to a group, for a schedule.",
               [](const StationMessage& m) { return list_of(m.schedule); });
        c.repr([](const StationMessage& m) { return "GatewayStationMessage(msgtype=" + m.msgtype + ")"; });
    }};

// ---- functions -------------------------------------------------------------------------------

const Function station_parse_fn{
    "station_parse", "Reads a message that arrived over the websocket.", {"text"}, [](std::string_view text) {
        return message_to_py(unwrap(station::Message::from_json(text)));
    }};

const Function station_encode_fn{"station_encode",
                                 "Writes a message of any kind the way the websocket carries it.",
                                 {"message"},
                                 [](In<StationMessage> message) { return message_of(*message).to_json(); }};

const Function station_heard_fn{
    "station_heard",
    "Reads a frame the radio heard into the message that reports it.",
    {"frame", "data_rate", "frequency_hz", arg("levels").none()},
    [](ByteView frame, std::uint8_t data_rate, std::uint32_t frequency_hz, std::optional<In<station::Levels>> levels) {
        const station::Levels heard_with = levels ? **levels : station::Levels{};
        return message_to_py(unwrap(station::Message::heard(frame, data_rate, frequency_hz, heard_with)));
    }};

const Function station_id6_fn{
    "station_id6", "Writes an identifier in the ID6 form the protocol prefers.", {"eui"}, [](std::string_view eui) {
        return station::id6(identifier(eui));
    }};

const Function station_eui_of_fn{"station_eui_of",
                                 "Reads an identifier written in any form the protocol accepts.",
                                 {"text"},
                                 [](std::string_view text) {
                                     const auto id = station::eui_of(text);
                                     if (!id) raise_trovik(std::string(text) + " is not an identifier");
                                     return identifier_text(*id);
                                 }};

const Function station_xtime_fn{
    "station_xtime",
    "Builds a station clock value from the radio it was read on, the run of the station, and\n"
    "the microseconds that run had counted.",
    {"unit", "session", "micros"},
    [](std::uint8_t unit, std::uint8_t session, std::uint64_t micros) {
        const auto xtime = station::xtime_of(unit, session, micros);
        if (!xtime) {
            raise_trovik("a station clock takes a unit up to 127 and 48 bits of microseconds, not unit " +
                         std::to_string(unit) + " and " + std::to_string(micros) + " us");
        }
        return *xtime;
    }};

const Function station_xtime_parts_fn{"station_xtime_parts",
                                      "Takes a station clock value apart into its radio unit, run, and microseconds.",
                                      {"xtime"},
                                      [](std::int64_t xtime) { return make(station::xtime_parts(xtime)); }};

const Function station_discovery_fn{
    "station_discovery",
    "Writes the request a station sends to find its network server.",
    {"router"},
    [](std::string_view router) { return station::Discovery{identifier(router)}.to_json(); }};

const Function station_discovery_parse_fn{
    "station_discovery_parse",
    "Reads the request a station sent to find its network server, as the server does, and\n"
    "returns the station asking as sixteen hexadecimal digits.",
    {"text"},
    [](std::string_view text) { return identifier_text(unwrap(station::Discovery::from_json(text)).router); }};

const Function station_router_accepted_fn{
    "station_router_accepted",
    "Writes the answer that sends a station to the websocket its session runs on.",
    {"router", "muxs", "uri"},
    [](std::string_view router, std::string_view muxs, std::string_view uri) {
        const station::Identifier station_id = identifier(router);
        const station::Identifier endpoint = identifier(muxs);
        return station::Router{station_id, endpoint, std::string(uri), std::nullopt}.to_json();
    }};

const Function station_router_refused_fn{
    "station_router_refused",
    "Writes the answer that refuses a station, saying why.",
    {"router", "error"},
    [](std::string_view router, std::string_view error) {
        return station::Router{identifier(router), std::nullopt, std::nullopt, std::string(error)}.to_json();
    }};

const Function station_router_parse_fn{
    "station_router_parse", "Reads the answer a discovery endpoint gives.", {"text"}, [](std::string_view text) {
        return make(unwrap(station::Router::from_json(text)));
    }};

}  // namespace
}  // namespace trovik::py
