// The windowed helpers: plain statistics, the median filter, the trend
// estimator and the anomaly test, each over its own rolling window.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "binding/binding.hpp"
#include "trovik/kit/median.hpp"
#include "trovik/kit/trend.hpp"
#include "trovik/kit/window.hpp"

namespace trovik::py {

const BindingSource this_source{"kit"};

namespace {

using kit::window_capacity;

// The capacity argument: None means the largest window; anything outside
// smallest..32 is refused with the range it had to lie in.
std::size_t capacity_of(std::optional<std::int64_t> capacity, std::size_t smallest) {
    if (!capacity) return window_capacity;
    if (*capacity < static_cast<std::int64_t>(smallest) || *capacity > static_cast<std::int64_t>(window_capacity))
        raise_value_error("capacity must be a whole number from " + std::to_string(smallest) + " to " +
                          std::to_string(window_capacity) + ", not " + std::to_string(*capacity));
    return static_cast<std::size_t>(*capacity);
}

Class<kit::Window> window_class{
    "Window", "A rolling window of the most recent readings, with the stats over them.", [](auto& c) {
        c.init({arg("capacity").none()},
               [](std::optional<std::int64_t> capacity) { return kit::Window(capacity_of(capacity, 1)); });
        c.def("push",
              "Adds a reading, dropping the oldest once the window is full.\n\n"
              "A reading that is NaN or infinite is ignored.",
              {"reading"}, [](kit::Window& w, float reading) { w.push(reading); });
        c.len([](const kit::Window& w) { return w.size(); });
        c.prop("is_full", "Whether the window holds as many readings as it can.",
               [](const kit::Window& w) { return w.full(); });
        c.prop("capacity", "How many readings the window holds before it starts dropping.",
               [](const kit::Window& w) { return w.capacity(); });
        c.def("latest", "Returns the newest reading, or `None` while the window is empty.",
              [](const kit::Window& w) { return w.latest(); });
        c.def("oldest", "Returns the oldest reading still held, or `None` while the window is empty.",
              [](const kit::Window& w) { return w.oldest(); });
        c.def("mean", "Returns the mean of the held readings, or `None` while the window is empty.",
              [](const kit::Window& w) { return w.mean(); });
        c.def("min", "Returns the smallest held reading, or `None` while the window is empty.",
              [](const kit::Window& w) { return w.min(); });
        c.def("max", "Returns the largest held reading, or `None` while the window is empty.",
              [](const kit::Window& w) { return w.max(); });
        c.def("range",
              "Returns the largest held reading minus the smallest, or `None` while the\n"
              "window is empty.",
              [](const kit::Window& w) { return w.range(); });
        c.def("variance",
              "Returns the population variance of the held readings, or `None` while the\n"
              "window is empty.\n\n"
              "The divisor is the number of readings, so a single reading gives 0.",
              [](const kit::Window& w) { return w.variance(); });
    }};

Class<kit::Median> median_class{
    "Median", "Rejects a single wild reading, where an average would let it pull the answer.", [](auto& c) {
        c.init({arg("capacity").none()},
               [](std::optional<std::int64_t> capacity) { return kit::Median(capacity_of(capacity, 1)); });
        c.def("update",
              "Adds a reading and returns the median of the readings held.\n\n"
              "A reading that is NaN or infinite is not kept; before anything is kept,\n"
              "the reading itself comes back.",
              {"reading"}, [](kit::Median& m, float reading) { return m.update(reading); });
        c.prop("value", "The current median, or `None` before the first reading is kept.",
               [](const kit::Median& m) { return m.value(); });
        c.prop("capacity", "How many readings the filter keeps.", [](const kit::Median& m) { return m.capacity(); });
    }};

struct Trend {
    kit::Window window;
};

Class<Trend> trend_class{
    "Trend", "Fits a line through recent readings, so a slow drift is visible before it matters.", [](auto& c) {
        c.init({arg("capacity").none()},
               [](std::optional<std::int64_t> capacity) { return Trend{kit::Window(capacity_of(capacity, 2))}; });
        c.def("push",
              "Adds a reading, dropping the oldest once full.\n\n"
              "A reading that is NaN or infinite is ignored.",
              {"reading"}, [](Trend& t, float reading) { t.window.push(reading); });
        c.prop("slope",
               "The fitted slope, in reading units per reading, or `None` with fewer\n"
               "than two readings held.\n\n"
               "A positive slope is a rising signal.",
               [](const Trend& t) { return kit::slope(t.window); });
        c.prop("capacity", "How many readings the estimator keeps.",
               [](const Trend& t) { return t.window.capacity(); });
    }};

struct Anomaly {
    kit::Window window;
    float sigmas;

    bool check(float reading) {
        if (!std::isfinite(reading)) return true;
        bool flagged = false;
        if (window.size() >= 2) {
            float m = *window.mean();
            float v = *window.variance();
            float d = reading - m;
            flagged = d * d > (sigmas * sigmas) * v;
        }
        // A flagged reading joins the baseline too: a lasting change of level
        // stops being news.
        window.push(reading);
        return flagged;
    }
};

Class<Anomaly> anomaly_class{
    "Anomaly", "Flags a reading that stands out from the ones before it.", [](auto& c) {
        c.init({"sigmas", arg("capacity").none()}, [](float sigmas, std::optional<std::int64_t> capacity) {
            std::size_t n = capacity_of(capacity, 2);
            return Anomaly{kit::Window(n), std::isnan(sigmas) ? 0.0f : std::fabs(sigmas)};
        });
        c.def("check",
              "Returns whether a reading stands out, then adds it to the baseline.\n\n"
              "A reading stands out when it lies more than `sigmas` standard deviations\n"
              "from the mean of the readings held (a negative `sigmas` counts as its\n"
              "magnitude, NaN as 0). Nothing is flagged before two readings are held.\n"
              "A reading that is NaN or infinite always stands out and is not kept.",
              {"reading"}, [](Anomaly& a, float reading) { return a.check(reading); });
        c.prop("capacity", "How many readings the baseline keeps.",
               [](const Anomaly& a) { return a.window.capacity(); });
    }};

const Function window_capacity_fn{
    "window_capacity", "The most readings a windowed helper keeps, and the number it keeps unless told fewer.", {}, [] {
        return window_capacity;
    }};

}  // namespace

}  // namespace trovik::py
