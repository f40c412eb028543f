// The silence a radio owes under a duty-cycle limit.
#include <cstdint>
#include <optional>

#include "binding/binding.hpp"
#include "lora/region.hpp"
#include "trovik/radios/duty.hpp"

namespace trovik::py {

const BindingSource this_source{"radios"};

namespace {

using radios::duty::DutyCycle;

Class<DutyCycle> radio_duty_cycle_class{
    "RadioDutyCycle", "The silence a radio owes after its transmissions under a duty-cycle limit.", [](auto& c) {
        c.init({"permille"}, [](std::uint32_t permille) { return DutyCycle(permille); });
        c.prop("permille", "The limit the guard enforces, in parts per thousand.",
               [](const DutyCycle& d) { return d.permille(); });
        c.prop("earliest_us",
               "The earliest time the next transmission may start, in microseconds on the caller's clock, or "
               "`None` when the limit forbids transmitting.",
               [](const DutyCycle& d) { return d.earliest_us(); });
        c.def("wait_us",
              "How long the radio must still stay silent, in microseconds, or `None` when the limit forbids "
              "transmitting.",
              {"now_us"}, [](const DutyCycle& d, std::uint64_t now_us) { return d.wait_us(now_us); });
        c.def("ready", "Whether a transmission may start at a time in microseconds on the caller's clock.", {"now_us"},
              [](const DutyCycle& d, std::uint64_t now_us) { return d.ready(now_us); });
        c.def("transmitted", "Records a transmission and the silence it owes, returning its airtime in microseconds.",
              {"started_us", "link", "payload_len"},
              [](DutyCycle& d, std::uint64_t started_us, In<LoraLinkValue> link, std::size_t payload_len) {
                  return d.transmitted(started_us, link->settings, payload_len);
              });
    }};

}  // namespace

}  // namespace trovik::py
