// The relay node from Python: `LorawanRelay`, what its calls hand out, and
// the error it raises.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "binding/binding.hpp"
#include "binding/error_subclass.hpp"
#include "lora/region.hpp"
#include "lorawan/end_device.hpp"
#include "lorawan/relay_names.hpp"
#include "security/args.hpp"
#include "trovik/core/text.hpp"
#include "trovik/lorawan/join.hpp"
#include "trovik/lorawan/relay/node.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan_relay_node"};

namespace {

namespace relay = lorawan::relay;
namespace dev = lorawan::device;
using relay::Relay;
using relay::RelayError;

const ErrorSubclass relay_error_type{
    "LorawanRelayError",
    "Raised when a relay cannot do what it was asked. `kind` names why: `stopped`, `busy`, `not_listening`, "
    "`nothing_held`, `nothing_awaited`, `frame`, `carrier`, `limited`, `filtered`, `foreign` or `configuration`. "
    "What the relay's own device refused raises `LorawanDeviceError` instead.",
    {}};

// What the relay's own device refused is raised as that device's error.
[[noreturn]] void raise_relay_error(const RelayError& e) {
    if (e.kind == RelayError::Kind::Device) raise_lorawan_device_error(e.device);
    relay_error_type.raise(e.name(), e.display());
}

template <class T>
T checked(std::expected<T, RelayError> result) {
    if (!result) raise_relay_error(result.error());
    return std::move(*result);
}

template <class T>
T device_checked(std::expected<T, dev::DeviceError> result) {
    if (!result) raise_lorawan_device_error(result.error());
    return std::move(*result);
}

std::string addr_text(std::uint32_t addr) { return core::text::hex_prefixed(addr, 10); }
std::string quoted(std::string_view text) { return core::text::debug_quoted(text); }
template <class T>
std::string some_or_none(const std::optional<T>& v) {
    return v ? "Some(" + std::to_string(*v) + ")" : "None";
}

std::uint32_t session_addr(const dev::EndDevice& d) { return d.session ? d.session->dev_addr : 0; }

// ---- result classes ------------------------------------------------------------------------------

Class<relay::Scan> scan_class{
    "LorawanScan", "A scan for wake-on-radio frames, due next.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.prop("start_us", "When to start detecting, in microseconds.",
               [](const relay::Scan& s) { return s.start_us; });
        c.prop("channel", "Which channel: `default` or `second`.",
               [](const relay::Scan& s) { return channel_out(s.channel); });
        c.prop("carrier", "Where to listen, and how fast.", [](const relay::Scan& s) { return make(s.carrier); });
        c.prop("link", "The LoRa settings of a wake-on-radio frame, heard with inverted IQ.",
               [](const relay::Scan& s) { return make_lora_link(s.link); });
        c.prop("preamble_symbols", "The longest preamble an end device sends on the channel, in symbols.",
               [](const relay::Scan& s) { return s.preamble_symbols; });
        c.repr([](const relay::Scan& s) {
            return "LorawanScan(start_us=" + std::to_string(s.start_us) +
                   ", frequency_hz=" + std::to_string(s.carrier.frequency_hz) +
                   ", data_rate=" + std::to_string(s.carrier.data_rate) + ")";
        });
    }};

Class<relay::Acknowledgment> acknowledgment_class{
    "LorawanAcknowledgment", "The acknowledgment a relay answers a wake-on-radio frame with.", [](auto& c) {
        c.no_borrow();
        c.prop("frame", "The frame, seven bytes.", [](const relay::Acknowledgment& a) { return bytes_of(a.frame); });
        c.prop("start_us", "When to start sending it, in microseconds.",
               [](const relay::Acknowledgment& a) { return a.start_us; });
        c.prop("carrier", "Where it goes, and how fast.",
               [](const relay::Acknowledgment& a) { return make(a.carrier); });
        c.prop("link", "Its LoRa settings, sent with inverted IQ.",
               [](const relay::Acknowledgment& a) { return make_lora_link(a.link); });
        c.prop("airtime_us", "How long it holds the air, in microseconds.",
               [](const relay::Acknowledgment& a) { return a.airtime_us; });
        c.prop("output_dbm", "The power to ask of the radio, conducted, in dBm.",
               [](const relay::Acknowledgment& a) { return a.output_dbm; });
        c.repr([](const relay::Acknowledgment& a) {
            return "LorawanAcknowledgment(start_us=" + std::to_string(a.start_us) +
                   ", frequency_hz=" + std::to_string(a.carrier.frequency_hz) + ")";
        });
    }};

Class<relay::Listen> listen_class{
    "LorawanListen", "When and where a relay listens for the uplink a wake-on-radio frame announced.", [](auto& c) {
        c.no_borrow();
        c.prop("start_us", "When the uplink starts, in microseconds.",
               [](const relay::Listen& l) { return l.start_us; });
        c.prop("carrier", "Where it arrives, and how fast.", [](const relay::Listen& l) { return make(l.carrier); });
        c.prop("link", "Its LoRa settings, heard with standard IQ.",
               [](const relay::Listen& l) { return make_lora_link(l.link); });
        c.prop("max_len", "The longest frame the relay forwards; stop receiving anything longer.",
               [](const relay::Listen& l) { return l.max_len; });
        c.repr([](const relay::Listen& l) {
            return "LorawanListen(start_us=" + std::to_string(l.start_us) +
                   ", frequency_hz=" + std::to_string(l.carrier.frequency_hz) +
                   ", max_len=" + std::to_string(l.max_len) + ")";
        });
    }};

std::string_view wake_kind(const relay::Wake& w) {
    switch (w.kind) {
        case relay::Wake::Kind::JoinRequest: return "join_request";
        case relay::Wake::Kind::Uplink: return "uplink";
        case relay::Wake::Kind::Notified: return "notified";
    }
    return "uplink";
}

Class<relay::Wake> wake_class{
    "LorawanWake", "What a wake-on-radio frame led a relay to do.", [](auto& c) {
        c.no_borrow();
        c.prop("kind", "`join_request`, `uplink` or `notified`.", [](const relay::Wake& w) { return wake_kind(w); });
        c.prop("dev_addr", "The device, for an uplink or a notification, and `None` for a join request.",
               [](const relay::Wake& w) { return w.dev_addr; });
        c.prop("wfcnt", "The wake-on-radio frame counter it carried, for an uplink.",
               [](const relay::Wake& w) { return w.wfcnt; });
        c.prop("forward", "Whether the relay forwards the uplink, which the acknowledgment reports.",
               [](const relay::Wake& w) -> std::optional<std::string_view> {
                   if (!w.forward) return std::nullopt;
                   return forward_out(*w.forward);
               });
        c.prop("acknowledgment", "The acknowledgment to send, where there is one.",
               [](const relay::Wake& w) -> PyObject* {
                   if (!w.acknowledgment) return none();
                   return make(*w.acknowledgment);
               });
        c.prop("listen", "Where and when to listen for the uplink, where the relay will.",
               [](const relay::Wake& w) -> PyObject* {
                   if (!w.listen) return none();
                   return make(*w.listen);
               });
        c.repr([](const relay::Wake& w) {
            return "LorawanWake(kind=" + quoted(wake_kind(w)) + ", dev_addr=" + some_or_none(w.dev_addr) + ")";
        });
    }};

Class<relay::RxrDownlink> rxr_class{
    "LorawanRxrDownlink", "A downlink for an end device, to send in its relay window.", [](auto& c) {
        c.no_borrow();
        c.prop("frame", "The frame to send.", [](const relay::RxrDownlink& d) { return bytes_of(d.frame()); });
        c.prop("start_us", "When to start sending it, in microseconds.",
               [](const relay::RxrDownlink& d) { return d.start_us; });
        c.prop("carrier", "Where it goes, and how fast.", [](const relay::RxrDownlink& d) { return make(d.carrier); });
        c.prop("link", "Its LoRa settings, sent with inverted IQ and a payload CRC.",
               [](const relay::RxrDownlink& d) { return make_lora_link(d.link); });
        c.prop("output_dbm", "The power to ask of the radio, conducted, in dBm.",
               [](const relay::RxrDownlink& d) { return d.output_dbm; });
        c.prop("airtime_us", "How long it holds the air, in microseconds.",
               [](const relay::RxrDownlink& d) { return d.airtime_us; });
        c.repr([](const relay::RxrDownlink& d) {
            return "LorawanRxrDownlink(start_us=" + std::to_string(d.start_us) +
                   ", frequency_hz=" + std::to_string(d.carrier.frequency_hz) + ")";
        });
    }};

// A heard frame's outcome, with the DevAddr the relay's device had after it.
struct RelayHeardValue {
    relay::RelayHeard heard;
    std::uint32_t dev_addr = 0;
};

std::string_view heard_kind(const RelayHeardValue& v) {
    switch (v.heard.outcome) {
        case relay::RelayHeard::Outcome::Device: return "device";
        case relay::RelayHeard::Outcome::Downlink: return "downlink";
        case relay::RelayHeard::Outcome::Undeliverable: return "undeliverable";
    }
    return "device";
}

Class<RelayHeardValue> relay_heard_class{
    "LorawanRelayHeard", "What a frame a relay's own device heard turned out to be.", [](auto& c) {
        c.no_borrow();
        c.prop("kind", "`device`, `downlink` or `undeliverable`.",
               [](const RelayHeardValue& v) { return heard_kind(v); });
        c.prop("reason", "Why a downlink could not be passed on, for `undeliverable`.",
               [](const RelayHeardValue& v) -> std::optional<std::string> {
                   if (!v.heard.undeliverable) return std::nullopt;
                   return v.heard.undeliverable->display();
               });
        c.prop("heard", "What the relay's own device made of the frame.",
               [](const RelayHeardValue& v) { return make_lorawan_heard(v.heard.heard, v.dev_addr); });
        c.prop("downlink", "The downlink to send the end device on, for `downlink`.",
               [](const RelayHeardValue& v) -> PyObject* {
                   if (!v.heard.downlink) return none();
                   return make(*v.heard.downlink);
               });
        c.repr([](const RelayHeardValue& v) { return "LorawanRelayHeard(kind=" + quoted(heard_kind(v)) + ")"; });
    }};

// ---- the device side of an exchange ---------------------------------------------------------------

Class<dev::WakeUp> wake_up_class{
    "LorawanWakeUp", "The frame that wakes a relay, and where it goes.", [](auto& c) {
        c.no_borrow();
        c.prop("frame", "The frame: five bytes ahead of a join request, fifteen ahead of an uplink.",
               [](const dev::WakeUp& w) { return bytes_of(w.frame()); });
        c.prop("start_us", "When to start sending it, in microseconds.",
               [](const dev::WakeUp& w) { return w.start_us; });
        c.prop("carrier", "Where it goes, and how fast.", [](const dev::WakeUp& w) { return make(w.carrier); });
        c.prop("link", "Its LoRa settings, with the preamble this frame needs, sent with inverted IQ.",
               [](const dev::WakeUp& w) { return make_lora_link(w.link); });
        c.prop("output_dbm", "The power to ask of the radio, conducted, in dBm.",
               [](const dev::WakeUp& w) { return w.output_dbm; });
        c.prop("airtime_us", "How long it holds the air, in microseconds.",
               [](const dev::WakeUp& w) { return w.airtime_us; });
        c.repr([](const dev::WakeUp& w) {
            return "LorawanWakeUp(start_us=" + std::to_string(w.start_us) +
                   ", frequency_hz=" + std::to_string(w.carrier.frequency_hz) +
                   ", data_rate=" + std::to_string(w.carrier.data_rate) + ")";
        });
    }};

Class<dev::AckWindow> ack_window_class{
    "LorawanAckWindow", "When and where a relay's acknowledgment would arrive.", [](auto& c) {
        c.no_borrow();
        c.prop("start_us", "When it starts, in microseconds.", [](const dev::AckWindow& a) { return a.start_us; });
        c.prop("carrier", "Where it arrives, and how fast.", [](const dev::AckWindow& a) { return make(a.carrier); });
        c.prop("link", "The LoRa settings to listen with.",
               [](const dev::AckWindow& a) { return make_lora_link(a.link); });
        c.prop("airtime_us", "How long it lasts, in microseconds.",
               [](const dev::AckWindow& a) { return a.airtime_us; });
        c.repr([](const dev::AckWindow& a) {
            return "LorawanAckWindow(start_us=" + std::to_string(a.start_us) +
                   ", frequency_hz=" + std::to_string(a.carrier.frequency_hz) + ")";
        });
    }};

Class<dev::RelayExchange> relay_exchange_class{
    "LorawanRelayExchange",
    "The wake-on-radio exchange an uplink under a relay goes out behind, TS011-1.0.1 section 5.", [](auto& c) {
        c.no_borrow();
        c.prop("wake_up", "The frame that wakes the relay.",
               [](const dev::RelayExchange& x) { return make(x.wake_up); });
        c.prop("ack",
               "Where the relay's acknowledgment would arrive, or `None` ahead of a join request, which no relay "
               "acknowledges.",
               [](const dev::RelayExchange& x) -> PyObject* {
                   if (!x.ack) return none();
                   return make(*x.ack);
               });
        c.prop("uplink_start_us",
               "When the uplink itself goes out, in microseconds, whether or not the acknowledgment arrives.",
               [](const dev::RelayExchange& x) { return x.uplink_start_us; });
        c.prop("rxr", "The relay window, timed from the end of the uplink like the other two.",
               [](const dev::RelayExchange& x) { return make_lorawan_window(x.rxr); });
        c.repr([](const dev::RelayExchange& x) {
            return "LorawanRelayExchange(uplink_start_us=" + std::to_string(x.uplink_start_us) +
                   ", rxr_delay_us=" + std::to_string(x.rxr.delay_us) + ")";
        });
    }};

Class<dev::RelayStatus> relay_status_class{
    "LorawanRelayStatus", "What a relay's acknowledgment said about itself, TS011-1.0.1 table 14.", [](auto& c) {
        c.no_borrow();
        c.prop("cad_periodicity", "How often it scans.", [](const dev::RelayStatus& s) {
            return cad_periodicity_out(static_cast<relay::CadPeriodicity>(s.cad_periodicity));
        });
        c.prop("xtal_accuracy", "How accurate its crystal is.", [](const dev::RelayStatus& s) {
            return xtal_out(static_cast<relay::XtalAccuracy>(s.xtal_accuracy & 3));
        });
        c.prop("cad_to_rx", "How long it takes to start receiving.",
               [](const dev::RelayStatus& s) { return receive_out(static_cast<relay::CadToRx>(s.cad_to_rx & 3)); });
        c.prop("relay_data_rate", "The data rate it forwards at, which bounds what the device may send.",
               [](const dev::RelayStatus& s) { return s.relay_data_rate; });
        c.prop("forward",
               "Whether it will forward: `available`, `retry_in_30_minutes`, `retry_in_60_minutes` or `disabled`.",
               [](const dev::RelayStatus& s) { return forward_out(static_cast<relay::ForwardState>(s.forward & 3)); });
        c.repr([](const dev::RelayStatus& s) {
            return "LorawanRelayStatus(cad_periodicity=" +
                   quoted(cad_periodicity_out(static_cast<relay::CadPeriodicity>(s.cad_periodicity))) +
                   ", relay_data_rate=" + std::to_string(s.relay_data_rate) +
                   ", forward=" + quoted(forward_out(static_cast<relay::ForwardState>(s.forward & 3))) + ")";
        });
    }};

struct WorNextValue {
    std::optional<dev::RelayExchange> wake_up;
};

Class<WorNextValue> wor_next_class{
    "LorawanWorNext", "What an end device does once its wake-on-radio frame went unanswered.", [](auto& c) {
        c.no_borrow();
        c.prop("uplink", "`True` to send the uplink at the time the exchange named anyway.",
               [](const WorNextValue& v) { return !v.wake_up.has_value(); });
        c.prop("wake_up", "The next exchange, when the relay is woken again first, and `None` otherwise.",
               [](const WorNextValue& v) -> PyObject* {
                   if (!v.wake_up) return none();
                   return make(*v.wake_up);
               });
        c.repr([](const WorNextValue& v) {
            return std::string("LorawanWorNext(uplink=") + (v.wake_up ? "False" : "True") + ")";
        });
    }};

// ---- LorawanRelay ------------------------------------------------------------------------------------

dev::Window window_arg(std::string_view text) {
    if (text == "rx1") return dev::Window::First;
    if (text == "rx2") return dev::Window::Second;
    if (text == "rxr") return dev::Window::Relay;
    raise_trovik(std::string(text) + " is not a receive window; expected rx1, rx2 or rxr");
}

PyObject* made(std::expected<dev::EndDevice, dev::DeviceError> device, relay::XtalAccuracy xtal,
               relay::CadToRx cad_to_rx) {
    return make(Relay(device_checked(std::move(device)), xtal, cad_to_rx));
}

PyObject* transmitted(std::expected<dev::Transmission, dev::DeviceError> t) {
    return make_lorawan_transmission(device_checked(std::move(t)));
}

Class<Relay> relay_class{
    "LorawanRelay",
    "A LoRaWAN relay: an end device that also listens for the devices around it.\n\n"
    "One turn runs like this: `next_scan` says when and on which wake-on-radio channel to detect channel "
    "activity. A wake-on-radio frame heard there goes to `heard_wor`, which may answer it with an acknowledgment "
    "and say where to listen for the uplink it announced. That uplink goes to `heard_uplink`, which holds it, and "
    "`forward` sends it fifty milliseconds later in one of the relay's own uplinks, on port 226. A port-226 "
    "downlink the relay's own device hears afterwards with `heard_in` is the network's answer for the end device, "
    "to send in that device's relay window.\n\n"
    "A call that cannot be done raises `LorawanRelayError`, or `LorawanDeviceError` when it is the relay's own "
    "device that refused.",
    [](auto& c) {
        c.def_static(
            "over_the_air", "Makes a relay whose own device joins over the air.",
            {"plan", "credentials", "settings", arg("xtal_accuracy").def("ppm40"), arg("cad_to_rx").def("symbols8")},
            [](In<ChannelPlanValue> plan, In<lorawan::Device> credentials, DeviceSettingsArg settings,
               std::string_view xtal_accuracy, std::string_view cad_to_rx) {
                const auto xtal = xtal_in(xtal_accuracy);
                const auto receive = receive_in(cad_to_rx);
                const lora::ChannelPlan& p = lorawan_published_plan(*plan);
                return made(dev::EndDevice::make(p, *credentials, *settings.settings), xtal, receive);
            });
        c.def_static(
            "personalized",
            "Makes a relay whose own device is activated by personalization.\n\n"
            "`xtal_accuracy` and `cad_to_rx` describe the relay's own hardware, the accuracy of its crystal "
            "and how long it listens after detecting a preamble, and travel in every acknowledgment it "
            "sends.",
            {"plan", "session", "settings", arg("xtal_accuracy").def("ppm40"), arg("cad_to_rx").def("symbols8")},
            [](In<ChannelPlanValue> plan, In<lorawan::Session> session, DeviceSettingsArg settings,
               std::string_view xtal_accuracy, std::string_view cad_to_rx) {
                const auto xtal = xtal_in(xtal_accuracy);
                const auto receive = receive_in(cad_to_rx);
                const lora::ChannelPlan& p = lorawan_published_plan(*plan);
                return made(dev::EndDevice::personalized(p, *session, *settings.settings), xtal, receive);
            });
        c.def("start",
              "Starts scanning, or changes what a running relay scans from its next scan on.\n\n"
              "`default_channel_index` names one of the region's relay channels; `second_channel` is a further "
              "channel, scanned half a period after each scan of the first.",
              {arg("cad_periodicity").def("ms1000"), arg("default_channel_index").def(0), arg("second_channel").none()},
              [](Relay& r, std::string_view cad_periodicity, std::uint8_t default_channel_index,
                 std::optional<In<LoraRelayChannelValue>> second_channel) {
                  const auto periodicity = periodicity_in(cad_periodicity);
                  const auto& channels = r.device.plan->relay_channels;
                  if (default_channel_index >= channels.size())
                      raise_trovik("the region does not define that wake-on-radio channel");
                  relay::RelayConfig config{std::nullopt, channels[default_channel_index], periodicity};
                  if (second_channel) config.second_channel = (*second_channel)->value;
                  if (const auto started = r.start(config); !started) raise_relay_error(started.error());
              });
        c.def("stop", "Stops scanning. A forwarded uplink already waiting still goes out.", [](Relay& r) { r.stop(); });
        c.def("trust",
              "Trusts an end device, as an `UpdateUplinkListReq` with the same fields does.\n\n"
              "`root_wor_s_key` is the device's RootWorSKey, `next_wfcnt` the lowest wake-on-radio frame counter "
              "still accepted from it, `reload_rate` the uplinks it may have forwarded per hour (63 for no limit) "
              "and `bucket_size` the code of TS011-1.0.1 table 55.",
              {"index", "dev_addr", "root_wor_s_key", arg("next_wfcnt").def(0), arg("reload_rate").def(63),
               arg("bucket_size").def(0)},
              [](Relay& r, std::uint8_t index, std::uint32_t dev_addr, ByteView root_wor_s_key,
                 std::uint32_t next_wfcnt, std::uint8_t reload_rate, std::uint8_t bucket_size) {
                  if (root_wor_s_key.size() != 16) raise_trovik("a root relay session key is sixteen bytes");
                  lorawan::Key key;
                  std::copy(root_wor_s_key.begin(), root_wor_s_key.end(), key.begin());
                  if (!r.trust(index, dev_addr, key, next_wfcnt, reload_rate, bucket_size))
                      raise_trovik("a relay trusts sixteen devices, at indexes 0 to 15");
              });
        c.def("next_scan", "Says when and where to scan next, or `None` while the relay is stopped.", {"now_us"},
              [](Relay& r, std::uint64_t now_us) -> PyObject* {
                  const auto scan = r.next_scan(now_us);
                  if (!scan) return none();
                  return make(*scan);
              });
        c.def("heard_wor", "Reads a wake-on-radio frame a scan heard, `ended_us` being when the frame ended.",
              {"scan", "frame", "rssi_dbm", "snr_db", "ended_us"},
              [](Relay& r, In<relay::Scan> scan, ByteView frame, std::int16_t rssi_dbm, std::int8_t snr_db,
                 std::uint64_t ended_us) {
                  return make(checked(r.heard_wor(*scan, frame, rssi_dbm, snr_db, ended_us)));
              });
        c.def("heard_uplink",
              "Reads the uplink a wake-on-radio frame announced, and holds it to forward.\n\n"
              "Returns when it is due to go out, fifty milliseconds after `ended_us`.",
              {"frame", "rssi_dbm", "snr_db", "ended_us"},
              [](Relay& r, ByteView frame, std::int16_t rssi_dbm, std::int8_t snr_db, std::uint64_t ended_us) {
                  return checked(r.heard_uplink(frame, rssi_dbm, snr_db, ended_us));
              });
        c.def("uplink_missed", "Clears the uplink a wake-on-radio frame announced, once listening heard nothing.",
              [](Relay& r) { r.uplink_missed(); });
        c.def("forward", "Sends the uplink the relay is holding, in one of its own on port 226.", {"now_us"},
              [](Relay& r, std::uint64_t now_us) { return make_lorawan_transmission(checked(r.forward(now_us))); });
        c.def("heard_in",
              "Reads a frame the relay's own device heard, acting on the relay commands in it.\n\n"
              "`window` is `rx1`, `rx2` or `rxr`. A port-226 downlink is the network's answer for the end device "
              "whose uplink the relay forwarded last.",
              {"window", "frame", "snr_db"}, [](Relay& r, std::string_view window, ByteView frame, std::int8_t snr_db) {
                  const dev::Window w = window_arg(window);
                  relay::RelayHeard heard = checked(r.heard_in(w, frame, snr_db));
                  return make(RelayHeardValue{std::move(heard), session_addr(r.device)});
              });
        c.def("nothing_heard", "Says what comes next once the relay's own windows closed with nothing in them.",
              {"now_us"},
              [](Relay& r, std::uint64_t now_us) { return make_lorawan_next(checked(r.nothing_heard(now_us))); });
        c.def("join", "Makes the relay's own join request.", {"dev_nonce", "now_us"},
              [](Relay& r, std::uint16_t dev_nonce, std::uint64_t now_us) {
                  return transmitted(r.device.join(dev_nonce, now_us));
              });
        c.def("send", "Sends one of the relay's own uplinks, which also carries what it owes its network.",
              {"port", "payload", "now_us", arg("confirmed").def(false)},
              [](Relay& r, std::uint8_t port, ByteView payload, std::uint64_t now_us, bool confirmed) {
                  return transmitted(r.device.send(port, payload, confirmed, now_us));
              });
        c.def("send_empty", "Sends an uplink with no payload, carrying whatever the relay owes its network.",
              {"now_us"}, [](Relay& r, std::uint64_t now_us) { return transmitted(r.device.send_empty(now_us)); });
        c.prop("running", "Whether the relay is scanning.", [](const Relay& r) { return r.state.config.has_value(); });
        c.prop("forward_due", "When the forwarded uplink waiting to go out is due, or `None` with nothing waiting.",
               [](const Relay& r) -> std::optional<std::uint64_t> {
                   if (!r.held) return std::nullopt;
                   return r.held->due_us;
               });
        c.prop("dev_addr", "The address the relay's own device is on the network by, or `None` before joining.",
               [](const Relay& r) -> std::optional<std::uint32_t> {
                   if (!r.device.session) return std::nullopt;
                   return r.device.session->dev_addr;
               });
        c.prop("joined", "Whether the relay's own device is on a network.",
               [](const Relay& r) { return r.device.session.has_value(); });
        c.prop("data_rate", "The data rate the relay forwards at, which its acknowledgments report.",
               [](const Relay& r) { return r.device.data_rate; });
        c.repr([](const Relay& r) {
            if (!r.device.session) return std::string("LorawanRelay(not joined)");
            return "LorawanRelay(dev_addr=" + addr_text(r.device.session->dev_addr) + ")";
        });
    }};

}  // namespace
}  // namespace trovik::py

// ---- shared with the end device ----------------------------------------------------------------------

namespace trovik::py {

PyObject* make_lorawan_relay_exchange(lorawan::device::RelayExchange exchange) { return make(std::move(exchange)); }

PyObject* make_lorawan_relay_status(const lorawan::device::RelayStatus& status) { return make(status); }

PyObject* make_lorawan_wor_next(std::optional<lorawan::device::RelayExchange> next) {
    return make(WorNextValue{std::move(next)});
}

}  // namespace trovik::py
