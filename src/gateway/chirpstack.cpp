// ChirpStack uplink events as Python objects, and the topic they come on.
#include <string>
#include <string_view>

#include "binding/binding.hpp"
#include "trovik/core/number_text.hpp"
#include "trovik/core/text.hpp"
#include "trovik/gateway/chirpstack.hpp"

namespace trovik::py {

const BindingSource this_source{"gateway_chirpstack"};

namespace {

using gateway::chirpstack::Reception;
using gateway::chirpstack::UplinkEvent;

Class<Reception> reception_class{
    "ChirpstackReception", "One gateway that heard an uplink.", [](auto& c) {
        c.no_borrow();  // a plain value that never changes
        c.prop("gateway", "The gateway's EUI, as lowercase hex.",
               [](const Reception& r) { return r.gateway.to_hex(); });
        c.prop("rssi_dbm", "The received signal strength, in dBm.", [](const Reception& r) { return r.rssi_dbm; });
        c.prop("snr_db", "The signal-to-noise ratio, in dB.",
               [](const Reception& r) { return static_cast<double>(r.snr_db); });
        c.repr([](const Reception& r) {
            std::string out = "ChirpstackReception(gateway=\"" + r.gateway.to_hex() + "\", rssi_dbm=";
            out += std::to_string(r.rssi_dbm);
            out += ", snr_db=";
            core::number_text::append_float(out, static_cast<double>(r.snr_db), core::number_text::display_layout);
            out += ')';
            return out;
        });
    }};

Class<UplinkEvent> event_class{
    "ChirpstackUplinkEvent", "An uplink as ChirpStack reports it.", [](auto& c) {
        c.no_borrow();  // a plain value that never changes
        c.def_static("from_json",
                     "Reads an uplink event from the JSON ChirpStack published.\n\n"
                     "Fields protobuf's JSON mapping leaves out when they hold their default read as that\n"
                     "default: a frame counter of zero, ADR off, unconfirmed. Raises `TrovikError` for text\n"
                     "that is not a JSON object, an event with no device EUI, or a field that does not read as\n"
                     "what it should.",
                     {"text"}, [](std::string_view text) { return make(unwrap(UplinkEvent::from_json(text))); });
        c.prop("deduplication_id",
               "The identifier ChirpStack gave the uplink once it deduplicated the gateways' copies.",
               [](const UplinkEvent& e) { return std::string_view(e.deduplication_id); });
        c.prop("time", "When the uplink was received, as ChirpStack wrote it, or `None`.",
               [](const UplinkEvent& e) { return e.time; });
        c.prop("application_id", "The application the device belongs to.",
               [](const UplinkEvent& e) { return std::string_view(e.application_id); });
        c.prop("device_name", "The name the device was given in ChirpStack.",
               [](const UplinkEvent& e) { return std::string_view(e.device_name); });
        c.prop("dev_eui", "The device EUI, as lowercase hex.", [](const UplinkEvent& e) { return e.dev_eui.to_hex(); });
        c.prop("dev_addr", "The device's address, or `None` when the event names none.",
               [](const UplinkEvent& e) { return e.dev_addr; });
        c.prop("adr", "Whether the device had adaptive data rate on.", [](const UplinkEvent& e) { return e.adr; });
        c.prop("data_rate", "The data rate, as the region numbers them.",
               [](const UplinkEvent& e) { return e.data_rate; });
        c.prop("fcnt", "The uplink frame counter.", [](const UplinkEvent& e) { return e.fcnt; });
        c.prop("fport", "The application port, or `None` for a frame that carried none.",
               [](const UplinkEvent& e) { return e.fport; });
        c.prop("confirmed", "Whether the uplink was confirmed.", [](const UplinkEvent& e) { return e.confirmed; });
        c.prop("data", "The application payload, decoded from base64.",
               [](const UplinkEvent& e) { return ByteView(e.data); });
        c.prop("frequency_hz", "The carrier it was heard on, in hertz, or `None`.",
               [](const UplinkEvent& e) { return e.frequency_hz; });
        c.prop("receptions", "Every gateway that heard it.", [](const UplinkEvent& e) -> PyObject* {
            Ref list(check(PyList_New(static_cast<Py_ssize_t>(e.receptions.size()))));
            for (std::size_t i = 0; i < e.receptions.size(); ++i)
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), make(e.receptions[i]));
            return list.release();
        });
        c.def("best_reception",
              "The gateway that heard it with the highest signal-to-noise ratio, or `None` when none\ndid.",
              [](const UplinkEvent& e) -> PyObject* {
                  const Reception* best = e.best_reception();
                  return best ? make(*best) : none();
              });
        c.repr([](const UplinkEvent& e) {
            std::string out = "ChirpstackUplinkEvent(dev_eui=\"" + e.dev_eui.to_hex() + "\", fcnt=";
            out += std::to_string(e.fcnt);
            out += ", fport=";
            out += e.fport ? "Some(" + std::to_string(*e.fport) + ")" : std::string("None");
            out += ')';
            return out;
        });
    }};

const Function topic_fn{
    "chirpstack_uplink_topic",
    "Builds the MQTT topic an application's uplink events are published on, with a wildcard in\n"
    "place of the device: `application/<id>/device/+/event/up`.",
    {"application_id"},
    [](std::string_view application_id) { return gateway::chirpstack::uplink_topic(application_id); }};

}  // namespace

}  // namespace trovik::py
