// The one-site network server: `GatewayNetwork` and the values it hands out.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding.hpp"
#include "binding/guarded.hpp"
#include "gateway/gateway.hpp"
#include "gateway/station.hpp"
#include "lora/region.hpp"
#include "lorawan/mac.hpp"
#include "lorawan/relay_names.hpp"
#include "lorawan/version.hpp"
#include "trovik/core/text.hpp"
#include "trovik/gateway/network.hpp"

namespace trovik::py {

const BindingSource this_source{"gateway_network"};

namespace net = gateway::network;

// A `downstream` argument: (first_hz, step_hz, count).
template <>
struct Caster<net::Downstream> {
    net::Downstream v;
    explicit Caster(PyObject* o) {
        if (!PyTuple_Check(o) || PyTuple_Size(o) != 3)
            raise_type_error("downstream is a tuple of three integers: first_hz, step_hz and count");
        v.first_hz = Caster<std::uint32_t>(PyTuple_GetItem(o, 0)).get();
        v.step_hz = Caster<std::uint32_t>(PyTuple_GetItem(o, 1)).get();
        v.count = Caster<std::uint16_t>(PyTuple_GetItem(o, 2)).get();
    }
    net::Downstream get() const { return v; }
};

namespace {

using LinkHeld = gateway_station::Held<LoraLinkValue>;

struct NetworkValue {
    std::unique_ptr<Guarded<net::Network>> cell;
};

// `link` is the very `LoraLink` object given, or a new one for a slot the
// network made.
struct SlotValue {
    std::uint32_t timestamp_us;
    std::uint32_t frequency_hz;
    LinkHeld link;
};

struct RelayedValue {
    net::Relayed relayed;
};

struct NoticeValue {
    net::Notice notice;
};

struct EventValue {
    const char* outcome;
    std::optional<std::string> dev_eui;
    std::uint32_t dev_addr;
    std::optional<std::uint32_t> fcnt;
    std::optional<std::uint8_t> fport;
    std::optional<std::vector<std::uint8_t>> payload;
    std::optional<bool> confirmed;
    Ref slot;
    Ref accept;
    Ref relay;
};

std::string address(std::uint32_t value) { return core::text::hex_prefixed(value, 10); }

PyObject* held_or_none(const Ref& object) { return object ? Ref::borrow(object.get()).release() : none(); }

template <class T>
T checked(std::expected<T, net::NetworkError>&& result) {
    if (!result) raise_trovik(result.error().message());
    return std::move(*result);
}

lorawan::Eui eight(ByteView bytes, const char* name) {
    if (bytes.size() != 8)
        raise_value_error(std::string(name) + " must be eight bytes, not " + std::to_string(bytes.size()));
    lorawan::Eui out;
    std::ranges::copy(bytes, out.begin());
    return out;
}

net::Slot slot_of(const SlotValue& slot) {
    const auto modulation = modulation_of(slot.link.value().settings, std::nullopt);
    return net::Slot{slot.timestamp_us, slot.frequency_hz, std::get<lora::LinkSettings>(modulation)};
}

PyObject* slot_to_py(const net::Slot& slot) {
    Ref link(make_lora_link(slot.link));
    return make(SlotValue{slot.timestamp_us, slot.frequency_hz, LinkHeld{std::move(link)}});
}

EventValue bare_event(const char* outcome, std::uint32_t dev_addr) {
    return EventValue{outcome,      std::nullopt, dev_addr, std::nullopt, std::nullopt,
                      std::nullopt, std::nullopt, Ref(),    Ref(),        Ref()};
}

PyObject* event_to_py(net::Event&& event) {
    if (auto* joined = std::get_if<net::Joined>(&event)) {
        EventValue v = bare_event("joined", joined->dev_addr);
        v.dev_eui = core::text::hex_bytes(joined->dev_eui);
        v.accept = Ref(txpk_to_py(joined->accept));
        return make(std::move(v));
    }
    if (auto* data = std::get_if<net::Data>(&event)) {
        EventValue v = bare_event("data", data->dev_addr);
        v.fcnt = data->fcnt;
        v.fport = data->fport;
        v.payload = std::move(data->payload);
        v.confirmed = data->confirmed;
        v.slot = Ref(slot_to_py(data->slot));
        if (data->relayed) v.relay = Ref(make(RelayedValue{*data->relayed}));
        return make(std::move(v));
    }
    return make(bare_event("foreign", std::get<net::Foreign>(event).dev_addr));
}

Class<SlotValue> slot_class{
    "GatewaySlot", "Where and when a downlink answers an uplink, in the concentrator's own terms.", [](auto& c) {
        c.no_borrow();  // a plain value that never changes
        c.init({"timestamp_us", "frequency_hz", "link"},
               [](std::uint32_t timestamp_us, std::uint32_t frequency_hz, LinkHeld link) {
                   return SlotValue{timestamp_us, frequency_hz, std::move(link)};
               });
        c.prop("timestamp_us", "The concentrator timestamp to transmit at, in microseconds.",
               [](const SlotValue& s) { return s.timestamp_us; });
        c.prop("frequency_hz", "The frequency to transmit on, in hertz.",
               [](const SlotValue& s) { return s.frequency_hz; });
        c.prop("link", "The `LoraLink` to transmit with.",
               [](const SlotValue& s) { return Ref::borrow(s.link.ref.get()).release(); });
        c.repr([](const SlotValue& s) {
            return "GatewaySlot(timestamp_us=" + std::to_string(s.timestamp_us) +
                   ", frequency_hz=" + std::to_string(s.frequency_hz) + ")";
        });
    }};

Class<EventValue> event_class{
    "GatewayNetworkEvent", "What a forwarded packet turned out to be, and where its answer goes.", [](auto& c) {
        c.no_borrow();  // a plain value that never changes
        c.prop("outcome", "`joined`, `data` or `foreign`.",
               [](const EventValue& e) { return std::string_view(e.outcome); });
        c.prop("dev_eui",
               "The device that joined, as sixteen lowercase hexadecimal digits, most significant byte first; "
               "`None` for data and foreign.",
               [](const EventValue& e) { return e.dev_eui; });
        c.prop("dev_addr", "The address granted (joined) or the address the frame claimed (data, foreign).",
               [](const EventValue& e) { return e.dev_addr; });
        c.prop("fcnt", "The counter the frame carried, widened to its full width (data); else `None`.",
               [](const EventValue& e) { return e.fcnt; });
        c.prop("fport",
               "The frame's port (data); `None` for a frame carrying only options, and for joined and foreign.",
               [](const EventValue& e) { return e.fport; });
        c.prop("payload", "What the device sent, decrypted (data; empty for a frame without port); else `None`.",
               [](const EventValue& e) -> PyObject* { return e.payload ? to_py(ByteView(*e.payload)) : none(); });
        c.prop("confirmed", "Whether the device asked to be acknowledged (data); else `None`.",
               [](const EventValue& e) { return e.confirmed; });
        c.prop("slot", "Where an answer goes (data); `None` for joined and foreign.",
               [](const EventValue& e) { return held_or_none(e.slot); });
        c.prop("accept", "The `GatewayTxpk` carrying the join accept (joined); else `None`.",
               [](const EventValue& e) { return held_or_none(e.accept); });
        c.prop("relay", "What the relay added, for a data frame a relay forwarded; else `None`.",
               [](const EventValue& e) { return held_or_none(e.relay); });
        c.repr([](const EventValue& e) {
            return std::string("GatewayNetworkEvent(outcome=") + e.outcome + ", dev_addr=" + address(e.dev_addr) + ")";
        });
    }};

Class<RelayedValue> relayed_class{
    "GatewayRelayed", "What a relay added to an uplink it forwarded, TS011-1.0.1 section 9.1.", [](auto& c) {
        c.no_borrow();  // a plain value that never changes
        c.prop("relay", "The relay's own DevAddr.", [](const RelayedValue& r) { return r.relayed.relay; });
        c.prop("frequency_hz", "The frequency the uplink arrived on at the relay, in hertz.",
               [](const RelayedValue& r) { return r.relayed.frequency_hz; });
        c.prop("rssi_dbm", "What the relay heard of the uplink, in dBm.",
               [](const RelayedValue& r) { return r.relayed.rssi_dbm; });
        c.prop("snr_db", "Its signal-to-noise ratio, in dB.", [](const RelayedValue& r) { return r.relayed.snr_db; });
        c.prop("data_rate", "The data rate it arrived at.", [](const RelayedValue& r) { return r.relayed.data_rate; });
        c.prop("wor_channel", "The wake-on-radio channel the device woke the relay on: `default` or `second`.",
               [](const RelayedValue& r) { return channel_out(r.relayed.wor_channel); });
        c.repr([](const RelayedValue& r) {
            return "GatewayRelayed(relay=" + address(r.relayed.relay) +
                   ", rssi_dbm=" + std::to_string(r.relayed.rssi_dbm) + ", snr_db=" + std::to_string(r.relayed.snr_db) +
                   ")";
        });
    }};

Class<NoticeValue> notice_class{
    "GatewayNotice", "A device a relay heard and could not verify, TS011-1.0.1 section 10.7.", [](auto& c) {
        c.no_borrow();  // a plain value that never changes
        c.prop("relay", "The relay that heard the device.", [](const NoticeValue& n) { return n.notice.relay; });
        c.prop("dev_addr", "The address the wake-on-radio frame named.",
               [](const NoticeValue& n) { return n.notice.dev_addr; });
        c.prop("rssi_dbm", "The frame's signal strength in dBm.",
               [](const NoticeValue& n) { return n.notice.rssi_dbm; });
        c.prop("snr_db", "Its signal-to-noise ratio in dB.", [](const NoticeValue& n) { return n.notice.snr_db; });
        c.repr([](const NoticeValue& n) {
            return "GatewayNotice(relay=" + address(n.notice.relay) + ", dev_addr=" + address(n.notice.dev_addr) + ")";
        });
    }};

Class<NetworkValue> network_class{
    "GatewayNetwork", "The network side of one site: what a server does with what a gateway forwarded.", [](auto& c) {
        c.no_borrow();  // the network sits behind a mutex of its own
        c.init({"plan", "net_id", arg("receive_delay_us").none(), arg("join_delay_us").none(),
                arg("rx1_data_rate_offset").none(), arg("downstream").none(), arg("first_dev_addr").none()},
               [](In<ChannelPlanValue> plan, std::uint32_t net_id, std::optional<std::uint32_t> receive_delay_us,
                  std::optional<std::uint32_t> join_delay_us, std::optional<std::uint8_t> rx1_data_rate_offset,
                  std::optional<net::Downstream> downstream, std::optional<std::uint32_t> first_dev_addr) {
                   const net::Settings defaults;
                   const net::Settings settings{
                       .net_id = net_id,
                       .downstream = downstream,
                       .receive_delay_us = receive_delay_us.value_or(defaults.receive_delay_us),
                       .join_delay_us = join_delay_us.value_or(defaults.join_delay_us),
                       .rx1_data_rate_offset = rx1_data_rate_offset.value_or(defaults.rx1_data_rate_offset),
                       .first_dev_addr = first_dev_addr.value_or(defaults.first_dev_addr)};
                   auto made = plan->plan.with_plan(
                       [&](const lora::ChannelPlan& view) { return net::Network::make(view, settings); });
                   if (!made) raise_value_error(made.error().message());
                   return NetworkValue{std::make_unique<Guarded<net::Network>>(
                       "the network was left locked by a failed call", std::move(*made))};
               });
        c.def("register",
              "Admits a device, so a join request signed with its key is accepted.\n\n"
              "`version` is the link-layer revision the device follows, 1.0.3 or 1.0.4, and 1.0.4 unless "
              "given. A 1.0.3 device's frames are refused once their counter runs `MAX_FCNT_GAP` ahead of the "
              "last one accepted, which TS001-1.0.4 no longer asks.\n\n"
              "A join request is refused when it repeats a DevNonce the device joined with before (for a 1.0.4 "
              "device, one not above the last), so a replayed request cannot take the device off the network.",
              {"dev_eui", "app_eui", "app_key", arg("version").none()},
              [](const NetworkValue& self, ByteView dev_eui, ByteView app_eui, ByteView app_key,
                 std::optional<std::string_view> version) {
                  net::Registration registration;
                  registration.dev_eui = eight(dev_eui, "dev_eui");
                  registration.app_eui = eight(app_eui, "app_eui");
                  if (app_key.size() != 16)
                      raise_value_error("app_key must be sixteen bytes, not " + std::to_string(app_key.size()));
                  std::ranges::copy(app_key, registration.app_key.begin());
                  registration.version =
                      !version || lorawan_link::version(*version) ? net::Version::V1_0_4 : net::Version::V1_0_3;
                  self.cell->with([&](net::Network& n) { n.register_device(registration); });
              });
        c.def("uplink", "Reads a packet the gateway forwarded.", {"heard"},
              [](const NetworkValue& self, In<GatewayRxpkValue> heard) {
                  const gateway::udp::Rxpk rx = rxpk_of(*heard);
                  auto event = self.cell->with([&](net::Network& n) { return n.uplink(rx); });
                  return event_to_py(checked(std::move(event)));
              });
        c.def("answer", "Builds a downlink for a device, encrypted with its session.",
              {"dev_addr", "slot", "fport", "payload"},
              [](const NetworkValue& self, std::uint32_t dev_addr, In<SlotValue> slot, std::uint8_t fport,
                 ByteView payload) {
                  const net::Slot at = slot_of(*slot);
                  auto txpk = self.cell->with([&](net::Network& n) { return n.answer(dev_addr, at, fport, payload); });
                  return txpk_to_py(checked(std::move(txpk)));
              });
        c.def("notices",
              "Takes the devices relays have reported hearing and could not verify, TS011-1.0.1 section 10.7.\n\n"
              "A relay carries these in the MAC commands of its own uplinks, alongside whatever else that uplink "
              "was for, so they wait here until they are read.",
              [](const NetworkValue& self) {
                  const auto notices = self.cell->with([](net::Network& n) { return n.take_notices(); });
                  Ref list(check(PyList_New(static_cast<Py_ssize_t>(notices.size()))));
                  for (std::size_t i = 0; i < notices.size(); ++i)
                      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), make(NoticeValue{notices[i]}));
                  return list.release();
              });
        c.def("command",
              "Builds a downlink carrying MAC commands, which is how a network configures a relay.\n\n"
              "The commands ride in the frame options where they fit, and in a frame of their own on port 0 "
              "where they do not.",
              {"dev_addr", "slot", "commands"},
              [](const NetworkValue& self, std::uint32_t dev_addr, In<SlotValue> slot,
                 std::vector<In<MacCommandValue>> commands) {
                  const net::Slot at = slot_of(*slot);
                  std::vector<lorawan::MacCommand> rebuilt;
                  rebuilt.reserve(commands.size());
                  for (const auto& command : commands)
                      rebuilt.push_back(rebuild_command(*command));
                  auto txpk = self.cell->with([&](net::Network& n) { return n.command(dev_addr, at, rebuilt); });
                  return txpk_to_py(checked(std::move(txpk)));
              });
        c.def("trust_command",
              "Builds the command that tells a relay to trust a device, with the key that lets it verify the "
              "device's wake-on-radio frames, TS011-1.0.1 section 10.4.\n\n"
              "`index` is the entry in the relay's list, `reload_rate` how many of the device's uplinks it "
              "forwards an hour (63 for no limit) and `bucket_size` the coded multiplier of table 55.",
              {"dev_addr", "index", arg("reload_rate").def(63), arg("bucket_size").def(0)},
              [](const NetworkValue& self, std::uint32_t dev_addr, std::uint8_t index, std::uint8_t reload_rate,
                 std::uint8_t bucket_size) {
                  auto command = self.cell->with(
                      [&](net::Network& n) { return n.trust_command(dev_addr, index, reload_rate, bucket_size); });
                  return make(describe_mac(checked(std::move(command))));
              });
    }};

}  // namespace
}  // namespace trovik::py
