// The telemetry reporter: which events are worth a link's cost, and the
// counts of all of them.
#include <string_view>

#include "binding/binding.hpp"
#include "trovik/telemetry/reporter.hpp"

namespace trovik::py {

const BindingSource this_source{"telemetry"};

namespace {

using telemetry::Level;
using telemetry::Reporter;
using telemetry::Snapshot;

Level level_of(std::string_view name) { return unwrap(telemetry::parse_level(name)); }

Class<Reporter> reporter_class{
    "Reporter", "Records telemetry events, ships the ones worth their bytes, and counts them all.", [](auto& c) {
        c.init({"threshold"},
               "Ships events at `threshold` and above: \"Trace\", \"Debug\", \"Info\", \"Warn\" or \"Error\".",
               [](std::string_view threshold) { return Reporter(level_of(threshold)); });
        c.def("record",
              "Records an event at a level and reports whether it should be shipped.\n\n"
              "The event is counted either way, so the aggregate picture survives when\n"
              "the link is too costly to carry the detail.",
              {"level"}, [](Reporter& r, std::string_view level) { return r.record(level_of(level)); });
        c.def("count", "Returns how many events have been seen at a level, shipped or not.", {"level"},
              [](const Reporter& r, std::string_view level) { return r.count(level_of(level)); });
        c.def("adapt_to", "Moves the threshold to match what the link now costs.", {"cost"},
              [](Reporter& r, std::string_view cost) { r.adapt_to(unwrap(telemetry::parse_link_cost(cost))); });
        c.prop(
            "threshold", "The level this reporter is currently shipping from.",
            [](const Reporter& r) { return telemetry::name(r.threshold()); },
            [](Reporter& r, std::string_view level) { r.set_threshold(level_of(level)); });
        c.prop("total", "How many events have been seen across every level.",
               [](const Reporter& r) { return r.total(); });
        c.prop("emitted", "How many events passed the threshold and were shipped.",
               [](const Reporter& r) { return r.emitted(); });
        c.prop("dropped", "How many events the threshold dropped.", [](const Reporter& r) { return r.dropped(); });
        c.def("snapshot", "Takes a snapshot of the counters to ship in place of the event stream.",
              [](const Reporter& r) { return make(r.snapshot()); });
    }};

Class<Snapshot> snapshot_class{
    "Snapshot", "A count of everything a reporter has seen, cheap enough to ship anywhere.", [](auto& c) {
        c.no_borrow();  // a copy, never changed
        c.prop("trace", "How many events were seen at trace level.", [](const Snapshot& s) { return s.trace; });
        c.prop("debug", "How many events were seen at debug level.", [](const Snapshot& s) { return s.debug; });
        c.prop("info", "How many events were seen at info level.", [](const Snapshot& s) { return s.info; });
        c.prop("warn", "How many events were seen at warn level.", [](const Snapshot& s) { return s.warn; });
        c.prop("error", "How many events were seen at error level.", [](const Snapshot& s) { return s.error; });
        c.prop("emitted", "How many events passed the filter and were shipped.",
               [](const Snapshot& s) { return s.emitted; });
        c.prop("dropped", "How many events the filter dropped.", [](const Snapshot& s) { return s.dropped; });
    }};

const Function link_cost_threshold_fn{
    "link_cost_threshold", "Returns the level a named link cost calls for.", {"cost"}, [](std::string_view cost) {
        return telemetry::name(telemetry::threshold_for(unwrap(telemetry::parse_link_cost(cost))));
    }};

}  // namespace

}  // namespace trovik::py
