// The class A end device: its settings, the device itself, what its calls
// return, and the error it raises.
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "binding/binding.hpp"
#include "binding/error_subclass.hpp"
#include "lora/region.hpp"
#include "lorawan/end_device.hpp"
#include "lorawan/version.hpp"
#include "security/args.hpp"
#include "trovik/core/text.hpp"
#include "trovik/lorawan/device/end_device.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan_device"};

namespace {

using lorawan::Device;
using lorawan::Session;
namespace dev = lorawan::device;

const ErrorSubclass device_error_type{
    "LorawanDeviceError",
    "Raised when an end device cannot do what it was asked. `kind` names why: `too_many_channels`, "
    "`no_credentials`, `not_joined`, `busy`, `nothing_pending`, `wait`, `no_channel`, `data_rate`, "
    "`payload_too_long`, `counter_exhausted`, `frame`, `foreign`, `replayed`, `counter_gap`, `refused` or "
    "`state`. `until_us`, `max`, `data_rate`, `state` and `format` carry what goes with it, and are `None` "
    "otherwise.",
    {"until_us", "max", "data_rate", "state", "format"}};

[[noreturn]] void raise_device_error(const dev::DeviceError& e) {
    using K = dev::DeviceError::Kind;
    const std::string message = e.display();
    switch (e.kind) {
        case K::Wait: device_error_type.raise(e.name(), message, {{"until_us", e.value}});
        case K::TooManyChannels:
        case K::PayloadTooLong: device_error_type.raise(e.name(), message, {{"max", e.value}});
        case K::DataRate: device_error_type.raise(e.name(), message, {{"data_rate", e.value}});
        case K::State:
            if (e.state.kind == dev::StateError::Kind::Format)
                device_error_type.raise(e.name(), message, {{"state", e.state.name()}, {"format", e.state.format}});
            device_error_type.raise(e.name(), message, {{"state", e.state.name()}});
        default: device_error_type.raise(e.name(), message);
    }
}

template <class T>
T checked(std::expected<T, dev::DeviceError> result) {
    if (!result) raise_device_error(result.error());
    return std::move(*result);
}

std::string addr_text(std::uint32_t addr) { return core::text::hex_prefixed(addr, 10); }
const char* py_bool(bool v) { return v ? "True" : "False"; }
template <class T>
std::string some_or_none(const std::optional<T>& v) {
    return v ? "Some(" + std::to_string(*v) + ")" : "None";
}

// ---- LorawanDeviceSettings ------------------------------------------------------

struct SettingsValue {
    dev::DeviceSettings settings;
    std::string version;
};

Class<SettingsValue> settings_class{
    "LorawanDeviceSettings", "What a device's radio can do, and how it takes part.", [](auto& c) {
        c.no_borrow();  // never changes once made
        c.init({"min_output_dbm", "max_output_dbm", arg("version").def("1.0.4"), arg("adr").def(true),
                arg("antenna_gain_db").def(0), arg("lowest_hz").def(137000000), arg("highest_hz").def(1020000000),
                arg("regional_duty_cycle").def(true), arg("behind_repeater").def(false), arg("seed").def(0)},
               [](std::int8_t min_dbm, std::int8_t max_dbm, std::string_view version, bool adr, std::int8_t gain,
                  std::uint32_t lowest_hz, std::uint32_t highest_hz, bool regional_duty_cycle, bool behind_repeater,
                  std::uint32_t seed) {
                   const bool v104 = lorawan_link::version(version);
                   if (highest_hz < lowest_hz || max_dbm < min_dbm)
                       raise_trovik("the output power and tuning ranges must run from low to high");
                   dev::DeviceSettings s;
                   s.lowest_hz = lowest_hz;
                   s.highest_hz = highest_hz;
                   s.crystal_ppm = 20;
                   s.seed = seed;
                   s.min_output_dbm = min_dbm;
                   s.max_output_dbm = max_dbm;
                   s.antenna_gain_db = gain;
                   s.version_1_0_4 = v104;
                   s.adr = adr;
                   s.regional_duty_cycle = regional_duty_cycle;
                   s.behind_repeater = behind_repeater;
                   return SettingsValue{s, std::string(version)};
               });
        c.prop("min_output_dbm", "The lowest power the radio puts out, conducted, in dBm.",
               [](const SettingsValue& v) { return v.settings.min_output_dbm; });
        c.prop("max_output_dbm", "The highest, conducted, in dBm.",
               [](const SettingsValue& v) { return v.settings.max_output_dbm; });
        c.prop("version", "The link layer revision, `1.0.3` or `1.0.4`.",
               [](const SettingsValue& v) { return std::string_view(v.version); });
        c.prop("adr", "Whether the network manages the data rate and power.",
               [](const SettingsValue& v) { return v.settings.adr; });
        c.prop("antenna_gain_db", "The antenna gain less the cable and connector losses, in dB.",
               [](const SettingsValue& v) { return v.settings.antenna_gain_db; });
        c.prop("lowest_hz", "The lowest frequency the radio and its front end can use, in hertz.",
               [](const SettingsValue& v) { return v.settings.lowest_hz; });
        c.prop("highest_hz", "The highest, in hertz.", [](const SettingsValue& v) { return v.settings.highest_hz; });
        c.prop("regional_duty_cycle", "Whether the device is held to the region's sub-band duty cycles.",
               [](const SettingsValue& v) { return v.settings.regional_duty_cycle; });
        c.prop("behind_repeater", "Whether payloads are sized for a path through a relay.",
               [](const SettingsValue& v) { return v.settings.behind_repeater; });
        c.prop("seed", "The seed for the random choices of channel and retry delay.",
               [](const SettingsValue& v) { return v.settings.seed; });
        c.repr([](const SettingsValue& v) {
            return "LorawanDeviceSettings(min_output_dbm=" + std::to_string(v.settings.min_output_dbm) +
                   ", max_output_dbm=" + std::to_string(v.settings.max_output_dbm) + ", version=\"" + v.version + "\")";
        });
    }};

// ---- result classes ---------------------------------------------------------------

struct WindowValue {
    dev::ReceiveWindow window;
};

Class<WindowValue> window_class{
    "LorawanWindow", "When and where to listen for a downlink.", [](auto& c) {
        c.no_borrow();
        c.prop("delay_us", "How long after the end of the transmission the window opens, in microseconds.",
               [](const WindowValue& w) { return w.window.delay_us; });
        c.prop("frequency_hz", "The frequency to listen on, in hertz.",
               [](const WindowValue& w) { return w.window.frequency_hz; });
        c.prop("data_rate", "The downlink data rate.", [](const WindowValue& w) { return w.window.data_rate; });
        c.prop("link", "The link to receive with, inverted IQ and no payload CRC.",
               [](const WindowValue& w) { return make_lora_link(w.window.link); });
        c.repr([](const WindowValue& w) {
            return "LorawanWindow(delay_us=" + std::to_string(w.window.delay_us) +
                   ", frequency_hz=" + std::to_string(w.window.frequency_hz) +
                   ", data_rate=" + std::to_string(w.window.data_rate) + ")";
        });
    }};

struct TransmissionValue {
    dev::Transmission t;
};

Class<TransmissionValue> transmission_class{
    "LorawanTransmission", "A frame to put on the air, and where to listen afterward.", [](auto& c) {
        c.no_borrow();
        c.prop("frame", "The frame.", [](const TransmissionValue& v) { return bytes_of(v.t.frame.as_bytes()); });
        c.prop("rx1", "The first receive window.",
               [](const TransmissionValue& v) { return make(WindowValue{v.t.rx1}); });
        c.prop("rx2", "The second receive window, which opens only if nothing for this device arrived in the first.",
               [](const TransmissionValue& v) { return make(WindowValue{v.t.rx2}); });
        c.prop("relay",
               "The wake-on-radio exchange this frame goes out behind, and `None` for a frame that goes straight "
               "to a gateway.",
               [](const TransmissionValue& v) -> PyObject* {
                   if (!v.t.relay) return none();
                   return make_lorawan_relay_exchange(*v.t.relay);
               });
        c.prop("frequency_hz", "The uplink frequency, in hertz.",
               [](const TransmissionValue& v) { return v.t.frequency_hz; });
        c.prop("data_rate", "The uplink data rate.", [](const TransmissionValue& v) { return v.t.data_rate; });
        c.prop("link", "The link to transmit with.",
               [](const TransmissionValue& v) { return make_lora_link(v.t.link); });
        c.prop("output_dbm", "The power to ask of the radio, conducted, in dBm.",
               [](const TransmissionValue& v) { return v.t.output_dbm; });
        c.prop("airtime_us", "The frame's time on air, in microseconds.",
               [](const TransmissionValue& v) { return v.t.airtime_us; });
        c.prop("carries_payload",
               "Whether the application payload went out in this frame. When the answers the device owed left no "
               "room, it did not, and has to be sent again.",
               [](const TransmissionValue& v) { return v.t.carries_payload; });
        c.repr([](const TransmissionValue& v) {
            return "LorawanTransmission(frequency_hz=" + std::to_string(v.t.frequency_hz) +
                   ", data_rate=" + std::to_string(v.t.data_rate) + ", output_dbm=" + std::to_string(v.t.output_dbm) +
                   ", airtime_us=" + std::to_string(v.t.airtime_us) + ")";
        });
    }};

struct DeliveryValue {
    dev::Delivery d;
};

Class<DeliveryValue> delivery_class{
    "LorawanDelivery", "A downlink, read and acted on.", [](auto& c) {
        c.no_borrow();
        c.prop("port",
               "The application port the payload arrived on, or `None` for a frame that carried only MAC commands "
               "or nothing.",
               [](const DeliveryValue& v) { return v.d.port; });
        c.prop("payload", "The application payload.", [](const DeliveryValue& v) { return bytes_of(v.d.payload()); });
        c.prop("acknowledged", "Whether the network acknowledged the confirmed uplink this answered.",
               [](const DeliveryValue& v) { return v.d.acknowledged; });
        c.prop("confirmed",
               "Whether the network asked for this downlink to be acknowledged, which the next uplink does by "
               "itself.",
               [](const DeliveryValue& v) { return v.d.confirmed; });
        c.prop("more_pending", "Whether the network has more to send.",
               [](const DeliveryValue& v) { return v.d.more_pending; });
        c.prop("link_check",
               "The answer to a link check the device asked for, as the margin in dB and the gateway count, or "
               "`None`.",
               [](const DeliveryValue& v) -> std::optional<std::tuple<std::uint8_t, std::uint8_t>> {
                   if (!v.d.link_check) return std::nullopt;
                   return std::tuple{v.d.link_check->first, v.d.link_check->second};
               });
        c.prop("device_time",
               "The answer to a time request the device asked for, as whole seconds since the GPS epoch and 256ths "
               "of a second, or `None`.",
               [](const DeliveryValue& v) -> std::optional<std::tuple<std::uint32_t, std::uint8_t>> {
                   if (!v.d.device_time) return std::nullopt;
                   return std::tuple{v.d.device_time->first, v.d.device_time->second};
               });
        c.repr([](const DeliveryValue& v) {
            return "LorawanDelivery(port=" + some_or_none(v.d.port) +
                   ", payload_len=" + std::to_string(v.d.payload_len) + ", acknowledged=" + py_bool(v.d.acknowledged) +
                   ")";
        });
    }};

struct HeardValue {
    bool joined = false;
    std::uint32_t dev_addr = 0;
    std::optional<dev::Delivery> delivery;
};

Class<HeardValue> heard_class{
    "LorawanHeard", "What a frame heard in a receive window turned out to be.", [](auto& c) {
        c.no_borrow();
        c.prop("kind", "`joined` or `data`.",
               [](const HeardValue& v) { return std::string_view(v.joined ? "joined" : "data"); });
        c.prop("dev_addr", "The device's DevAddr after the call.", [](const HeardValue& v) { return v.dev_addr; });
        c.prop("delivery", "The downlink for `data`, `None` for `joined`.", [](const HeardValue& v) -> PyObject* {
            if (!v.delivery) return none();
            return make(DeliveryValue{*v.delivery});
        });
        c.repr([](const HeardValue& v) {
            return std::string("LorawanHeard(kind=\"") + (v.joined ? "joined" : "data") +
                   "\", dev_addr=" + addr_text(v.dev_addr) + ")";
        });
    }};

struct NextValue {
    dev::Next next;
};

std::string_view next_kind(const dev::Next& n) {
    switch (n.kind) {
        case dev::Next::Kind::Repeat: return "repeat";
        case dev::Next::Kind::Done: return "done";
        case dev::Next::Kind::Unacknowledged: return "unacknowledged";
        case dev::Next::Kind::JoinAgain: return "join_again";
    }
    return "done";
}

Class<NextValue> next_class{
    "LorawanNext", "What to do once both receive windows closed with nothing for the device.", [](auto& c) {
        c.no_borrow();
        c.prop("kind", "`repeat`, `done`, `unacknowledged` or `join_again`.",
               [](const NextValue& v) { return next_kind(v.next); });
        c.prop("not_before_us", "For a repeat or another join, the earliest time to send, in microseconds.",
               [](const NextValue& v) { return v.next.not_before_us; });
        c.repr([](const NextValue& v) {
            return "LorawanNext(kind=\"" + std::string(next_kind(v.next)) +
                   "\", not_before_us=" + some_or_none(v.next.not_before_us) + ")";
        });
    }};

struct ChannelValue {
    std::uint16_t index = 0;
    dev::ChannelSlot slot;
};

Class<ChannelValue> channel_class{
    "LorawanChannel", "A channel a device may send on.", [](auto& c) {
        c.no_borrow();
        c.prop("index", "The channel's index in the device's table.", [](const ChannelValue& v) { return v.index; });
        c.prop("uplink_hz", "The uplink frequency, in hertz.", [](const ChannelValue& v) { return v.slot.uplink_hz; });
        c.prop("downlink_hz", "Where the first receive window listens, in hertz.",
               [](const ChannelValue& v) { return v.slot.downlink_hz; });
        c.prop("min_data_rate", "The lowest uplink data rate the channel carries.",
               [](const ChannelValue& v) { return v.slot.min_data_rate; });
        c.prop("max_data_rate", "The highest.", [](const ChannelValue& v) { return v.slot.max_data_rate; });
        c.repr([](const ChannelValue& v) {
            return "LorawanChannel(index=" + std::to_string(v.index) +
                   ", uplink_hz=" + std::to_string(v.slot.uplink_hz) +
                   ", downlink_hz=" + std::to_string(v.slot.downlink_hz) + ")";
        });
    }};

// ---- LorawanEndDevice -----------------------------------------------------------

const lora::ChannelPlan& published(const ChannelPlanValue& plan) {
    if (!plan.published)
        raise_trovik("a device runs on a published plan, from ChannelPlan.for_region or ChannelPlan.for_cn470");
    return *plan.published;
}

dev::EndDevice with_counters(dev::EndDevice d, std::uint32_t fcnt_up, std::optional<std::uint32_t> fcnt_down) {
    d.fcnt_up = fcnt_up;
    d.fcnt_down = fcnt_down;
    return d;
}

PyObject* transmitted(std::expected<dev::Transmission, dev::DeviceError> t) {
    return make(TransmissionValue{checked(std::move(t))});
}

std::uint8_t window_number(std::string_view text) {
    if (text == "rx1") return 0;
    if (text == "rx2") return 1;
    if (text == "rxr") return 2;
    raise_trovik(std::string(text) + " is not a receive window; expected rx1, rx2 or rxr");
}

std::string_view relay_activation_name(dev::DeviceRelay::Activation a) {
    switch (a) {
        case dev::DeviceRelay::Activation::Disabled: return "disabled";
        case dev::DeviceRelay::Activation::Enabled: return "enabled";
        case dev::DeviceRelay::Activation::Dynamic: return "dynamic";
        case dev::DeviceRelay::Activation::DeviceControlled: return "device_controlled";
    }
    return "device_controlled";
}

std::string_view relay_sync_name(dev::DeviceRelay::Sync s) {
    switch (s) {
        case dev::DeviceRelay::Sync::Initialized: return "initialized";
        case dev::DeviceRelay::Sync::Synchronized: return "synchronized";
        case dev::DeviceRelay::Sync::Unsynchronized: return "unsynchronized";
    }
    return "initialized";
}

Class<dev::EndDevice> end_device_class{
    "LorawanEndDevice",
    "A LoRaWAN Class A end device.\n\n"
    "One exchange runs like this: `join` or `send` returns a transmission to put on the air and two receive "
    "windows timed from its end. A frame heard in either window goes to `heard`. If neither window held one, "
    "`nothing_heard` says whether to send the same frame again with `repeat`, or move on.",
    [](auto& c) {
        c.def_static("over_the_air",
                     "Makes a device that joins over the air.\n\n"
                     "`fcnt_up` and `fcnt_down` carry frame counters over a restart; a join starts them over.\n\n"
                     "Raises `TrovikError` if the plan was built rather than published.",
                     {"plan", "credentials", "settings", arg("fcnt_up").def(0), arg("fcnt_down").none()},
                     [](In<ChannelPlanValue> plan, In<Device> credentials, In<SettingsValue> settings,
                        std::uint32_t fcnt_up, std::optional<std::uint32_t> fcnt_down) {
                         const lora::ChannelPlan& p = published(*plan);
                         return make(with_counters(checked(dev::EndDevice::make(p, *credentials, settings->settings)),
                                                   fcnt_up, fcnt_down));
                     });
        c.def_static(
            "personalized",
            "Makes a device activated by personalization, with its session provisioned.\n\n"
            "Such a device never resets its frame counters, TS001-1.0.4 section 4.3.1.5, so one that lost "
            "power passes the counters it kept.",
            {"plan", "session", "settings", arg("fcnt_up").def(0), arg("fcnt_down").none()},
            [](In<ChannelPlanValue> plan, In<Session> session, In<SettingsValue> settings, std::uint32_t fcnt_up,
               std::optional<std::uint32_t> fcnt_down) {
                const lora::ChannelPlan& p = published(*plan);
                return make(with_counters(checked(dev::EndDevice::personalized(p, *session, settings->settings)),
                                          fcnt_up, fcnt_down));
            });
        c.def("join", "Builds a join request, with a nonce this device has never used with its join identifier.",
              {"dev_nonce", "now_us"}, [](dev::EndDevice& d, std::uint16_t dev_nonce, std::uint64_t now_us) {
                  return transmitted(d.join(dev_nonce, now_us));
              });
        c.def("send",
              "Builds an uplink carrying a payload on an application port, 1 to 223, or 224 for the certification "
              "test port.",
              {"port", "payload", "now_us", arg("confirmed").def(false)},
              [](dev::EndDevice& d, std::uint8_t port, ByteView payload, std::uint64_t now_us, bool confirmed) {
                  return transmitted(d.send(port, payload, confirmed, now_us));
              });
        c.def("send_empty",
              "Builds an uplink with no payload, carrying the answers the device owes, an acknowledgment, or an ADR "
              "acknowledgment request.",
              {"now_us"}, [](dev::EndDevice& d, std::uint64_t now_us) { return transmitted(d.send_empty(now_us)); });
        c.def("repeat", "Sends the last uplink again, the same frame on a channel chosen afresh.", {"now_us"},
              [](dev::EndDevice& d, std::uint64_t now_us) { return transmitted(d.repeat(now_us)); });
        c.def("heard",
              "Reads a frame heard in one of the receive windows of the last transmission.\n\n"
              "A frame that is not for this device, does not verify, or is longer than the window's data rate "
              "carries raises and leaves the transmission waiting, so the second window still opens. `window` is "
              "`rx1` or `rx2` (`rxr` for a relay's window); without one, a frame may be as long as the longer of "
              "the two windows allows.",
              {"frame", "snr_db", arg("window").none()},
              [](dev::EndDevice& d, ByteView frame, std::int8_t snr_db, std::optional<std::string_view> window) {
                  auto heard = window ? d.heard_in(window_number(*window), frame, snr_db) : d.heard(frame, snr_db);
                  dev::Heard h = checked(std::move(heard));
                  HeardValue v;
                  v.dev_addr = d.session ? d.session->dev_addr : 0;
                  if (std::holds_alternative<std::uint32_t>(h)) {
                      v.joined = true;
                      v.dev_addr = std::get<std::uint32_t>(h);
                  } else {
                      v.delivery = std::get<dev::Delivery>(std::move(h));
                  }
                  return make(std::move(v));
              });
        c.def("nothing_heard", "Says what comes next once both receive windows closed with nothing for the device.",
              {"now_us"}, [](dev::EndDevice& d, std::uint64_t now_us) {
                  return make(NextValue{checked(d.nothing_heard(now_us))});
              });
        c.def("set_battery",
              "Sets what the device reports its battery as when a network asks: a level from 1, empty, to 254, "
              "full, or `None` when it cannot tell. `external` marks a device on external power, whatever the "
              "level.",
              {arg("level").none(), arg("external").def(false)},
              [](dev::EndDevice& d, std::optional<std::uint8_t> level, bool external) {
                  using B = dev::Battery::Kind;
                  d.battery = external ? dev::Battery{B::External, level.value_or(0)}
                              : level  ? dev::Battery{B::Level, *level}
                                       : dev::Battery{};
              });
        c.def("request_link_check", "Asks the network, with the next uplink, how well it hears the device.",
              [](dev::EndDevice& d) { d.answers.link_check_requested = true; });
        c.def("request_device_time", "Asks the network, with the next uplink, for the time.",
              [](dev::EndDevice& d) { d.answers.device_time_requested = true; });
        c.def("channels", "The channels the device may send on.", [](const dev::EndDevice& d) {
            Ref list(check(PyList_New(0)));
            for (std::size_t i = 0; i < dev::kMaxChannels; ++i) {
                if (!dev::mask_has(d.channels.enabled, i) || !d.channels.slots[i].present) continue;
                Ref item(make(ChannelValue{static_cast<std::uint16_t>(i), d.channels.slots[i]}));
                if (PyList_Append(list.get(), item.get()) != 0) throw PendingError{};
            }
            return list.release();
        });
        c.def("save",
              "Saves a joined device's state, to keep across a loss of power.\n\n"
              "The bytes hold the session keys, so keep them wherever the keys would be safe.",
              {"now_us"}, [](const dev::EndDevice& d, std::uint64_t now_us) {
                  const dev::SavedBytes bytes = checked(d.save(now_us));
                  return bytes_of(std::span<const std::uint8_t>(bytes));
              });
        c.def("resume", "Puts a saved state back on a device made the same way, on the clock it woke to.",
              {"saved", "now_us"}, [](dev::EndDevice& d, ByteView saved, std::uint64_t now_us) {
                  // The bytes are judged before anything about the device.
                  const auto state = dev::Saved::from_bytes(saved);
                  if (!state) {
                      dev::DeviceError e = dev::DeviceError::of(dev::DeviceError::Kind::State);
                      e.state = state.error();
                      raise_device_error(e);
                  }
                  if (const auto resumed = d.resume(*state, now_us); !resumed) raise_device_error(resumed.error());
              });
        c.def("use_relay",
              "Turns relay mode on or off, TS011-1.0.1 section 10.2 and appendix 5.\n\n"
              "From then on the decision is the caller's rather than the device's own policy, until its network "
              "takes it over with an `EndDeviceConfReq` or hands it back. Returns `False` when the network holds "
              "the decision, leaving the mode as it was.",
              {"on"}, [](dev::EndDevice& d, bool on) { return d.relay.use(on); });
        c.def("heard_wor_ack",
              "Reads the acknowledgment a relay answered the last wake-on-radio frame with.\n\n"
              "The device is then synchronized with the relay's scans: its next frames carry only as much "
              "preamble as the two clocks could have drifted apart since.",
              {"frame"}, [](dev::EndDevice& d, ByteView frame) {
                  return make_lorawan_relay_status(checked(d.heard_wor_ack(frame)));
              });
        c.def("no_wor_ack",
              "Says what to do once the acknowledgment window closed with nothing in it: send the uplink anyway, "
              "or wake the relay again first, as the network's `BackOff` asks.",
              {"now_us"}, [](dev::EndDevice& d, std::uint64_t now_us) {
                  return make_lorawan_wor_next(checked(d.no_wor_ack(now_us)));
              });
        c.prop("is_joined", "Whether the device holds a session.",
               [](const dev::EndDevice& d) { return d.session.has_value(); });
        c.prop("dev_addr", "The session's DevAddr, or `None` before a join.",
               [](const dev::EndDevice& d) -> std::optional<std::uint32_t> {
                   if (!d.session) return std::nullopt;
                   return d.session->dev_addr;
               });
        c.prop("data_rate", "The data rate of the next uplink.", [](const dev::EndDevice& d) { return d.data_rate; });
        c.prop("fcnt_up", "The frame counter the next new uplink carries.",
               [](const dev::EndDevice& d) { return d.fcnt_up; });
        c.prop("fcnt_down", "The last downlink frame counter accepted, or `None`.",
               [](const dev::EndDevice& d) { return d.fcnt_down; });
        c.prop("transmissions", "How many times each new uplink goes out.",
               [](const dev::EndDevice& d) { return d.transmissions; });
        c.prop("rx2", "The second window's frequency in hertz and its data rate.", [](const dev::EndDevice& d) {
            return std::tuple{d.rx2_frequency_hz, d.rx2_data_rate};
        });
        c.prop("receive_delay_us", "From the end of an uplink to the first receive window, in microseconds.",
               [](const dev::EndDevice& d) { return d.receive_delay_us; });
        c.prop("frequency_span", "The lowest and highest frequency the device may send or listen on, in hertz.",
               [](const dev::EndDevice& d) {
                   const auto [low, high] = d.frequency_span();
                   return std::tuple{low, high};
               });
        c.prop("relaying", "Whether the next frame goes out behind a wake-on-radio exchange with a relay.",
               [](const dev::EndDevice& d) { return d.relay.relaying; });
        c.prop("relay_activation",
               "Who decides whether the device relays: `disabled`, `enabled`, `dynamic` or `device_controlled`.",
               [](const dev::EndDevice& d) { return relay_activation_name(d.relay.activation); });
        c.prop("relay_sync",
               "`synchronized` when the device knows when its relay scans, `unsynchronized` when it knows of a relay "
               "but not when it scans, `initialized` otherwise.",
               [](const dev::EndDevice& d) { return relay_sync_name(d.relay.sync()); });
        c.prop("relay_status", "What the last relay acknowledgment said about the relay, or `None`.",
               [](const dev::EndDevice& d) -> PyObject* {
                   if (!d.relay.relay_status) return none();
                   return make_lorawan_relay_status(*d.relay.relay_status);
               });
        c.prop("wor_counter", "The counter the next wake-on-radio frame ahead of an uplink carries.",
               [](const dev::EndDevice& d) { return d.relay.wor_counter; });
        c.repr([](const dev::EndDevice& d) {
            if (!d.session) return std::string("LorawanEndDevice(not joined)");
            return "LorawanEndDevice(dev_addr=" + addr_text(d.session->dev_addr) + ")";
        });
    }};

}  // namespace
}  // namespace trovik::py

// ---- shared with the relay node ------------------------------------------------

namespace trovik::py {

[[noreturn]] void raise_lorawan_device_error(const lorawan::device::DeviceError& e) { raise_device_error(e); }

PyObject* make_lorawan_transmission(lorawan::device::Transmission t) { return make(TransmissionValue{std::move(t)}); }

PyObject* make_lorawan_heard(lorawan::device::Heard heard, std::uint32_t dev_addr) {
    HeardValue v;
    v.dev_addr = dev_addr;
    if (const auto* joined = std::get_if<std::uint32_t>(&heard)) {
        v.joined = true;
        v.dev_addr = *joined;
    } else {
        v.delivery = std::get<lorawan::device::Delivery>(std::move(heard));
    }
    return make(std::move(v));
}

PyObject* make_lorawan_next(const lorawan::device::Next& next) { return make(NextValue{next}); }

PyObject* make_lorawan_window(const lorawan::device::ReceiveWindow& window) { return make(WindowValue{window}); }

const lora::ChannelPlan& lorawan_published_plan(const ChannelPlanValue& plan) { return published(plan); }

const lorawan::device::DeviceSettings& lorawan_device_settings(PyObject* settings) {
    return Class<SettingsValue>::value_of(settings).settings;
}

}  // namespace trovik::py
