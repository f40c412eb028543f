// The small value classes of the Basics Station codec: upinfo levels,
// scheduled frames, windows, data rates, join ranges, clock values and the
// discovery endpoint's answer.
#include <cstdint>
#include <optional>
#include <string>

#include "binding/binding.hpp"
#include "gateway/station.hpp"
#include "trovik/core/number_text.hpp"
#include "trovik/gateway/station_discovery.hpp"
#include "trovik/gateway/station_message.hpp"

namespace trovik::py {

const BindingSource this_source{"gateway_station"};

namespace gateway_station {

gateway::station::Identifier identifier(std::string_view text) {
    const auto eui = gateway::Eui::from_hex(text);
    if (!eui) raise_trovik(std::string(text) + " is not sixteen hexadecimal digits");
    return gateway::station::identifier_of(*eui);
}

std::string identifier_text(gateway::station::Identifier id) { return gateway::station::eui_bytes(id).to_hex(); }

}  // namespace gateway_station

namespace {

namespace station = gateway::station;
using core::number_text::display;
using gateway_station::identifier;
using gateway_station::identifier_text;

Class<station::Levels> levels_class{
    "GatewayStationLevels", "How a station heard a packet, as it reports it.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init(
            {arg("rctx").def(0), arg("xtime").def(0), arg("gpstime").none(), arg("rssi").def(0.0), arg("snr").def(0.0)},
            [](std::int64_t rctx, std::int64_t xtime, std::optional<std::int64_t> gpstime, double rssi, double snr) {
                return station::Levels{rctx, xtime, gpstime, rssi, snr};
            });
        c.prop("rctx", "The radio the packet arrived on, which an answer goes back out on.",
               [](const station::Levels& l) { return l.rctx; });
        c.prop("xtime", "The station clock, in microseconds.", [](const station::Levels& l) { return l.xtime; });
        c.prop("gpstime", "The GPS time, when the station has one.",
               [](const station::Levels& l) { return l.gpstime; });
        c.prop("rssi", "The received signal strength, in dBm.", [](const station::Levels& l) { return l.rssi; });
        c.prop("snr", "The signal-to-noise ratio, in dB.", [](const station::Levels& l) { return l.snr; });
        c.repr([](const station::Levels& l) {
            return "GatewayStationLevels(rctx=" + std::to_string(l.rctx) + ", xtime=" + std::to_string(l.xtime) +
                   ", rssi=" + display(l.rssi) + ", snr=" + display(l.snr) + ")";
        });
    }};

Class<station::Broadcast> broadcast_class{
    "GatewayStationBroadcast", "One frame of a schedule, transmitted to a group rather than a device.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"pdu", arg("data_rate").def(0), arg("frequency_hz").def(0), arg("priority").def(0),
                arg("gpstime").none(), arg("rctx").none()},
               [](ByteVec pdu, std::uint8_t data_rate, std::uint32_t frequency_hz, std::uint8_t priority,
                  std::optional<std::int64_t> gpstime, std::optional<std::int64_t> rctx) {
                   return station::Broadcast{gpstime, rctx, std::move(pdu), frequency_hz, data_rate, priority};
               });
        c.prop("pdu", "The frame to transmit.", [](const station::Broadcast& b) { return to_py(b.pdu); });
        c.prop("data_rate", "The data rate to transmit at.", [](const station::Broadcast& b) { return b.data_rate; });
        c.prop("frequency_hz", "The frequency to transmit on, in hertz.",
               [](const station::Broadcast& b) { return b.frequency_hz; });
        c.prop("priority", "How urgent it is.", [](const station::Broadcast& b) { return b.priority; });
        c.prop("gpstime", "The GPS time to transmit at.", [](const station::Broadcast& b) { return b.gpstime; });
        c.prop("rctx", "The radio to transmit on.", [](const station::Broadcast& b) { return b.rctx; });
        c.repr([](const station::Broadcast& b) {
            return "GatewayStationBroadcast(len=" + std::to_string(b.pdu.size()) +
                   ", data_rate=" + std::to_string(b.data_rate) + ", frequency_hz=" + std::to_string(b.frequency_hz) +
                   ")";
        });
    }};

Class<station::Window> window_class{
    "GatewayStationWindow", "A receive window, or the ping slot a class B frame goes out in.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"data_rate", "frequency_hz"}, [](std::uint8_t data_rate, std::uint32_t frequency_hz) {
            return station::Window{data_rate, frequency_hz};
        });
        c.prop("data_rate", "The data rate, as the network's table numbers it.",
               [](const station::Window& w) { return w.data_rate; });
        c.prop("frequency_hz", "The frequency in hertz.", [](const station::Window& w) { return w.frequency_hz; });
        c.eq([](const station::Window& a, const station::Window& b) { return a == b; });
        c.repr([](const station::Window& w) {
            return "GatewayStationWindow(data_rate=" + std::to_string(w.data_rate) +
                   ", frequency_hz=" + std::to_string(w.frequency_hz) + ")";
        });
    }};

Class<station::DataRate> data_rate_class{
    "GatewayStationDataRate", "One number of a configuration's data-rate table.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"spreading_factor", "bandwidth_hz", arg("downlink_only").def(false)},
               [](std::uint8_t spreading_factor, std::uint32_t bandwidth_hz, bool downlink_only) {
                   return station::DataRate{spreading_factor, bandwidth_hz, downlink_only};
               });
        c.prop("spreading_factor", "The spreading factor, 0 for FSK.",
               [](const station::DataRate& d) { return d.spreading_factor; });
        c.prop("bandwidth_hz", "The bandwidth in hertz.", [](const station::DataRate& d) { return d.bandwidth_hz; });
        c.prop("downlink_only", "Whether the rate is used only for downlinks.",
               [](const station::DataRate& d) { return d.downlink_only; });
        c.eq([](const station::DataRate& a, const station::DataRate& b) { return a == b; });
        c.repr([](const station::DataRate& d) {
            return "GatewayStationDataRate(spreading_factor=" + std::to_string(d.spreading_factor) +
                   ", bandwidth_hz=" + std::to_string(d.bandwidth_hz) +
                   ", downlink_only=" + (d.downlink_only ? "True" : "False") + ")";
        });
    }};

Class<station::JoinRange> join_range_class{
    "GatewayStationJoinRange",
    "A range of join identifiers whose join requests a station forwards, both ends included.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"first", "last"}, [](std::string_view first, std::string_view last) {
            const station::Identifier low = identifier(first);
            return station::JoinRange{low, identifier(last)};
        });
        c.prop("first", "The first identifier, as sixteen hexadecimal digits.",
               [](const station::JoinRange& r) { return identifier_text(r.first); });
        c.prop("last", "The last identifier, as sixteen hexadecimal digits.",
               [](const station::JoinRange& r) { return identifier_text(r.last); });
        c.eq([](const station::JoinRange& a, const station::JoinRange& b) { return a == b; });
        c.repr([](const station::JoinRange& r) {
            return "GatewayStationJoinRange(first=" + identifier_text(r.first) + ", last=" + identifier_text(r.last) +
                   ")";
        });
    }};

Class<station::XtimeParts> xtime_class{
    "GatewayStationXtime", "A station clock value taken apart.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.prop("unit", "The radio unit the time was read on, 0 to 127.",
               [](const station::XtimeParts& x) { return x.unit; });
        c.prop("session", "The run of the station the time belongs to.",
               [](const station::XtimeParts& x) { return x.session; });
        c.prop("micros", "The microseconds the run had counted, below 2^48.",
               [](const station::XtimeParts& x) { return x.micros; });
        c.eq([](const station::XtimeParts& a, const station::XtimeParts& b) { return a == b; });
        c.repr([](const station::XtimeParts& x) {
            return "GatewayStationXtime(unit=" + std::to_string(x.unit) + ", session=" + std::to_string(x.session) +
                   ", micros=" + std::to_string(x.micros) + ")";
        });
    }};

std::optional<std::string> identifier_or_none(const std::optional<station::Identifier>& id) {
    if (!id) return std::nullopt;
    return identifier_text(*id);
}

Class<station::Router> router_class{
    "GatewayStationRouter", "The answer a discovery endpoint gives.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.prop("router", "The station, as the server read it.",
               [](const station::Router& r) { return identifier_or_none(r.router); });
        c.prop("muxs", "The server endpoint carrying the session.",
               [](const station::Router& r) { return identifier_or_none(r.muxs); });
        c.prop("uri", "The websocket to open, absolute.", [](const station::Router& r) { return r.uri; });
        c.prop("error", "Why the station was refused, when it was.", [](const station::Router& r) { return r.error; });
        c.repr([](const station::Router& r) {
            if (r.error) return "GatewayStationRouter(error=" + *r.error + ")";
            if (r.uri) return "GatewayStationRouter(uri=" + *r.uri + ")";
            return std::string("GatewayStationRouter()");
        });
    }};

}  // namespace
}  // namespace trovik::py
