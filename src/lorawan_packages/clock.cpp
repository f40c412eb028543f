// The clock synchronization package running on a device.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "binding/binding.hpp"
#include "trovik/lorawan_packages/clock.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan_packages"};

namespace {

using lorawan::packages::clock::ClockHeard;
using lorawan::packages::clock::ClockSync;

template <class T>
std::string debug_option(const std::optional<T>& value) {
    return value ? "Some(" + std::to_string(*value) + ")" : "None";
}

Class<ClockHeard> heard_class{
    "LorawanClockHeard", "What a device made of a downlink on the clock port.", [](auto& c) {
        c.no_borrow();  // a plain value
        c.prop("correction", "The seconds to add to the device's clock, where an answer carried one.",
               [](const ClockHeard& h) { return h.correction; });
        c.prop("more_correction", "Whether the correction was the largest the field carries, so another follows.",
               [](const ClockHeard& h) { return h.more_correction; });
        c.prop("resync", "How many requests a resynchronization command asked for.",
               [](const ClockHeard& h) { return h.resync; });
        c.prop("answer_due", "Whether the device now owes an answer.",
               [](const ClockHeard& h) { return h.answer_due; });
        c.repr([](const ClockHeard& h) {
            return "LorawanClockHeard(correction=" + debug_option(h.correction) +
                   ", more_correction=" + (h.more_correction ? "True" : "False") +
                   ", resync=" + debug_option(h.resync) + ", answer_due=" + (h.answer_due ? "True" : "False") + ")";
        });
    }};

PyObject* written(const std::array<std::uint8_t, 8>& out, std::size_t n) {
    return to_py(std::span<const std::uint8_t>(out.data(), n));
}

Class<ClockSync> sync_class{
    "LorawanClockSync", "The clock synchronization package running on a device, TS003-2.0.0.", [](auto& c) {
        c.init({arg("self_managed").def(false)},
               "`self_managed` is for a device that keeps its own request period: it\n"
               "answers periodicity requests as not supported.",
               [](bool self_managed) { return ClockSync(self_managed); });
        c.def("request", "Builds the request that asks a server for a correction, section 3.2.",
              {"device_time", arg("ans_required").def(false)},
              [](ClockSync& self, std::uint32_t device_time, bool ans_required) {
                  std::array<std::uint8_t, 8> out{};
                  return written(out, unwrap(self.app_time_req(device_time, ans_required, out)));
              });
        c.def("heard", "Reads a downlink on the clock port and acts on it.", {"payload"},
              [](ClockSync& self, ByteView payload) { return make(unwrap(self.heard(payload))); });
        c.def("answer", "Writes the answer the device owes, or an empty value when it owes none.", {"device_time"},
              [](ClockSync& self, std::uint32_t device_time) {
                  std::array<std::uint8_t, 8> out{};
                  return written(out, unwrap(self.answer(device_time, out)));
              });
        c.prop("token", "The token the next request will carry.", [](const ClockSync& s) { return s.token(); });
        c.prop("period_s", "The seconds between requests, as the server last set them.",
               [](const ClockSync& s) { return s.period_s(); });
        c.prop("answer_due", "Whether the device owes its server an answer.",
               [](const ClockSync& s) { return s.answer_due(); });
    }};

}  // namespace
}  // namespace trovik::py
