// Filters, detectors and controllers a device loop feeds one reading at a
// time. Every update is a handful of 32-bit operations in the order written,
// on fields held inside the Python object. Bad parameters are normalised
// when the object is made and non-finite readings are absorbed by each
// update, so nothing here raises beyond argument conversion (and the
// debounce count's range).
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "binding/binding.hpp"

namespace trovik::py {

const BindingSource this_source{"kit"};

namespace {

constexpr float infinity = std::numeric_limits<float>::infinity();

// A size that may not be negative: NaN gives 0, a negative value its
// magnitude, an infinity stays (as a positive one).
float magnitude(float x) { return std::isnan(x) ? 0.0f : std::fabs(x); }

// Below `lo` gives `lo`, else above `hi` gives `hi`; NaN passes through.
float clamp(float x, float lo, float hi) {
    if (x < lo) return lo;
    if (x > hi) return hi;
    return x;
}

struct Smoother {
    bool has_value = false;
    float value = 0;
    float weight;

    explicit Smoother(float w) : weight(std::isnan(w) ? 1.0f : clamp(w, 0.0f, 1.0f)) {}

    float update(float sample) {
        if (!std::isfinite(sample)) return has_value ? value : sample;
        value = has_value ? sample * weight + (1.0f - weight) * value : sample;
        has_value = true;
        return value;
    }
};

Class<Smoother> smoother_class{
    "Smoother", "Smooths a noisy reading by weighting each new sample against the running value.", [](auto& c) {
        c.init({"weight"}, [](float weight) { return Smoother(weight); });
        c.def("update",
              "Blends a sample into the running value and returns it.\n\n"
              "The first sample becomes the value. A sample that is NaN or infinite is\n"
              "ignored: the value comes back unchanged (or the sample itself, before\n"
              "there is a value).",
              {"sample"}, [](Smoother& s, float sample) { return s.update(sample); });
        c.def("reset", "Forgets the running value; the weight stays.", [](Smoother& s) {
            s.has_value = false;
            s.value = 0;
        });
        c.prop("value", "The running value, or `None` before the first sample.",
               [](const Smoother& s) { return s.has_value ? std::optional<float>(s.value) : std::nullopt; });
    }};

struct Kalman {
    float estimate;
    float covariance = 1.0f;
    float process_noise;
    float measurement_noise;
    bool has_reading = false;

    // A noise that is not a finite size means nothing usable: it counts as 0.
    static float noise(float x) { return std::isfinite(x) ? std::fabs(x) : 0.0f; }

    Kalman(float process, float measurement, float initial)
        : estimate(initial), process_noise(noise(process)), measurement_noise(noise(measurement)) {}

    float update(float reading) {
        if (!std::isfinite(reading)) return estimate;
        if (!has_reading) {
            // The first reading is better than any guess made before it.
            estimate = reading;
            has_reading = true;
            return estimate;
        }
        float p = covariance + process_noise;
        float k = measurement_noise == 0.0f ? 1.0f : p / (measurement_noise + p);
        estimate = (reading - estimate) * k + estimate;
        covariance = p * (1.0f - k);
        return estimate;
    }
};

Class<Kalman> kalman_class{"Kalman",
                           "Estimates a true value from noisy readings, trusting the model and the sensor\n"
                           "in proportion to how noisy each is.",
                           [](auto& c) {
                               c.init({"process_noise", "measurement_noise", "initial"},
                                      "`process_noise` is how far the true value may wander between readings,\n"
                                      "`measurement_noise` how far a reading strays from it (variances; a\n"
                                      "negative one counts as its magnitude, a NaN or infinite one as 0).\n"
                                      "`initial` is the estimate until the first reading, which replaces it.",
                                      [](float process_noise, float measurement_noise, float initial) {
                                          return Kalman(process_noise, measurement_noise, initial);
                                      });
                               c.def("update",
                                     "Folds a reading into the estimate and returns the new estimate.\n\n"
                                     "A reading that is NaN or infinite is ignored.",
                                     {"reading"}, [](Kalman& k, float reading) { return k.update(reading); });
                               c.prop("estimate", "The current estimate.", [](const Kalman& k) { return k.estimate; });
                           }};

struct Complementary {
    float estimate;
    float alpha;

    float update(float rate, float absolute, float dt) {
        if (std::isfinite(rate) && std::isfinite(absolute) && std::isfinite(dt))
            estimate = absolute * (1.0f - alpha) + (rate * dt + estimate) * alpha;
        return estimate;
    }
};

Class<Complementary> complementary_class{
    "Complementary",
    "Fuses a drifting rate (such as a gyroscope's) with a noisy absolute reading\n"
    "(such as an accelerometer's tilt) into one steady estimate.",
    [](auto& c) {
        c.init({"alpha", "initial"},
               "`alpha` is the share given to the integrated rate, from 0 to 1 (clamped\n"
               "into that range; NaN counts as 0); the absolute reading gets the rest.",
               [](float alpha, float initial) {
                   return Complementary{initial, std::isnan(alpha) ? 0.0f : clamp(alpha, 0.0f, 1.0f)};
               });
        c.def("update",
              "Advances the estimate by `rate` over `dt` and pulls it toward `absolute`;\n"
              "returns the new estimate.\n\n"
              "When any argument is NaN or infinite the estimate stays as it was.",
              {"rate", "absolute", "dt"},
              [](Complementary& f, float rate, float absolute, float dt) { return f.update(rate, absolute, dt); });
        c.prop("estimate", "The current estimate.", [](const Complementary& f) { return f.estimate; });
    }};

struct Debounce {
    std::uint16_t run = 0;
    std::uint16_t samples;
    bool state;
    bool candidate;

    bool update(bool raw) {
        if (raw == state) {
            run = 0;
            candidate = raw;
            return state;
        }
        if (raw == candidate) {
            if (run < std::numeric_limits<std::uint16_t>::max()) ++run;
        } else {
            candidate = raw;
            run = 1;
        }
        if (run >= samples) {
            state = raw;
            candidate = raw;
            run = 0;
        }
        return state;
    }
};

Class<Debounce> debounce_class{
    "Debounce", "Stops a flickering input from acting until it has settled.", [](auto& c) {
        c.init({"samples", "initial"}, [](std::int64_t samples, bool initial) {
            if (samples < 0 || samples > std::numeric_limits<std::uint16_t>::max())
                raise_value_error("samples must be a whole number from 0 to 65535, not " + std::to_string(samples));
            return Debounce{0, static_cast<std::uint16_t>(samples), initial, initial};
        });
        c.def("update", "Feeds one raw reading and returns the settled state.", {"raw"},
              [](Debounce& d, bool raw) { return d.update(raw); });
        c.prop("state", "The settled state.", [](const Debounce& d) { return d.state; });
    }};

struct Ramp {
    float value;
    float max_step;

    float update(float target) {
        if (!std::isfinite(target)) return value;
        float d = target - value;
        if (d > max_step)
            value += max_step;
        else if (d < -max_step)
            value -= max_step;
        else
            value = target;
        return value;
    }
};

Class<Ramp> ramp_class{
    "Ramp", "Limits how fast a value may change, so a load is never slammed.", [](auto& c) {
        c.init({"start", "max_step"}, [](float start, float max_step) { return Ramp{start, magnitude(max_step)}; });
        c.def("update",
              "Moves toward `target` by at most the step and returns the new value.\n\n"
              "A target that is NaN or infinite leaves the value where it is.",
              {"target"}, [](Ramp& r, float target) { return r.update(target); });
        c.def("set",
              "Jumps to a value without rate limiting; a value that is NaN or infinite\n"
              "is ignored.",
              {"value"}, [](Ramp& r, float value) {
                  if (std::isfinite(value)) r.value = value;
              });
        c.prop("value", "The current value.", [](const Ramp& r) { return r.value; });
    }};

struct Surge {
    bool has_last = false;
    float last = 0;
    float limit;
    bool rising;

    std::optional<float> update(float value) {
        if (!std::isfinite(value)) return std::nullopt;
        if (!has_last) {
            has_last = true;
            last = value;
            return std::nullopt;
        }
        float step = rising ? value - last : last - value;
        last = value;
        if (step > limit) return step;
        return std::nullopt;
    }
};

Class<Surge> surge_class{"Surge", "Notices a step change between successive readings, such as a burst pipe.",
                         [](auto& c) {
                             c.def_static("rising",
                                          "Watches for a jump upward of more than `limit` between two readings\n"
                                          "(a negative limit counts as its magnitude, NaN as 0).",
                                          {"limit"}, [](float limit) {
                                              return make(Surge{false, 0, magnitude(limit), true});
                                          });
                             c.def_static("falling",
                                          "Watches for a drop of more than `limit` between two readings (a\n"
                                          "negative limit counts as its magnitude, NaN as 0).",
                                          {"limit"}, [](float limit) {
                                              return make(Surge{false, 0, magnitude(limit), false});
                                          });
                             c.def("update",
                                   "Feeds a reading; returns the size of the step when it exceeds the limit\n"
                                   "in the watched direction, else `None`.\n\n"
                                   "A reading that is NaN or infinite is ignored.",
                                   {"value"}, [](Surge& s, float value) { return s.update(value); });
                         }};

struct Depletion {
    bool has_last = false;
    float last = 0;
    float threshold;

    std::optional<std::uint32_t> update(float level) {
        if (!std::isfinite(level)) return std::nullopt;
        float previous = last;
        bool had_last = has_last;
        has_last = true;
        last = level;
        if (std::isnan(threshold)) return std::nullopt;
        if (level <= threshold) return 0u;
        if (!had_last || !(previous - level > 0.0f)) return std::nullopt;
        float readings = std::ceil((level - threshold) / (previous - level));
        if (readings >= 4294967296.0f) return std::numeric_limits<std::uint32_t>::max();
        return static_cast<std::uint32_t>(readings);
    }
};

Class<Depletion> depletion_class{
    "Depletion", "Warns before a falling level runs out, by projecting its rate of fall.", [](auto& c) {
        c.init({"threshold"}, [](float threshold) { return Depletion{false, 0, threshold}; });
        c.def("update",
              "Feeds a level; returns how many more readings, at the latest rate of\n"
              "fall, until the threshold is reached (0 once at or below it), or `None`\n"
              "while the level is not falling.\n\n"
              "The rate of fall is only the drop between the last two readings. A level\n"
              "that is NaN or infinite is ignored.",
              {"level"}, [](Depletion& d, float level) { return d.update(level); });
    }};

struct Thermostat {
    float setpoint;
    float hysteresis;
    bool cooling;
    bool is_on = false;

    bool update(float reading) {
        if (!std::isfinite(reading)) return is_on;
        float low = setpoint - hysteresis;
        float high = setpoint + hysteresis;
        // The on test comes first, so with no hysteresis the setpoint itself
        // switches the load on.
        if (cooling) {
            if (reading >= high)
                is_on = true;
            else if (reading <= low)
                is_on = false;
        } else {
            if (reading <= low)
                is_on = true;
            else if (reading >= high)
                is_on = false;
        }
        return is_on;
    }
};

Class<Thermostat> thermostat_class{
    "Thermostat", "Switches a load on and off around a setpoint, with hysteresis to stop chatter.", [](auto& c) {
        c.def_static("heating",
                     "Switches a heater on at `setpoint - hysteresis` and off at\n"
                     "`setpoint + hysteresis` (a negative hysteresis counts as its magnitude).",
                     {"setpoint", "hysteresis"}, [](float setpoint, float hysteresis) {
                         return make(Thermostat{setpoint, magnitude(hysteresis), false});
                     });
        c.def_static("cooling",
                     "Switches a cooler on at `setpoint + hysteresis` and off at\n"
                     "`setpoint - hysteresis` (a negative hysteresis counts as its magnitude).",
                     {"setpoint", "hysteresis"}, [](float setpoint, float hysteresis) {
                         return make(Thermostat{setpoint, magnitude(hysteresis), true});
                     });
        c.def("update",
              "Feeds a reading and returns whether the load is on.\n\n"
              "A reading that is NaN or infinite changes nothing.",
              {"reading"}, [](Thermostat& t, float reading) { return t.update(reading); });
        c.prop("is_on", "Whether the load is switched on.", [](const Thermostat& t) { return t.is_on; });
    }};

struct Trigger {
    float threshold;
    float hysteresis;
    bool watches_above;
    bool is_set = false;

    const char* update(float reading) {
        if (!std::isfinite(reading)) return nullptr;
        if (!is_set) {
            if (watches_above ? reading > threshold : reading < threshold) {
                is_set = true;
                return "set";
            }
        } else if (watches_above ? reading < threshold - hysteresis : reading > threshold + hysteresis) {
            is_set = false;
            return "cleared";
        }
        return nullptr;
    }
};

Class<Trigger> trigger_class{
    "Trigger",
    "Fires once when a reading crosses a line, and not again until it has come\n"
    "back past the release band.\n\n"
    "`update` answers \"set\" when the line is crossed, \"cleared\" when the reading\n"
    "has come back past the band, and `None` otherwise.",
    [](auto& c) {
        c.def_static("above",
                     "Sets when a reading rises above `threshold` and clears when it falls\n"
                     "below `threshold - hysteresis`.",
                     {"threshold", "hysteresis"}, [](float threshold, float hysteresis) {
                         return make(Trigger{threshold, magnitude(hysteresis), true});
                     });
        c.def_static("below",
                     "Sets when a reading falls below `threshold` and clears when it rises\n"
                     "above `threshold + hysteresis`.",
                     {"threshold", "hysteresis"}, [](float threshold, float hysteresis) {
                         return make(Trigger{threshold, magnitude(hysteresis), false});
                     });
        c.def("update",
              "Feeds a reading; returns \"set\", \"cleared\" or `None`.\n\n"
              "Both tests are strict, so a reading exactly on a line does nothing; a\n"
              "reading that is NaN or infinite does nothing either.",
              {"reading"}, [](Trigger& t, float reading) -> PyObject* {
                  const char* event = t.update(reading);
                  return event ? to_py(event) : none();
              });
        c.prop("threshold", "The line a reading crosses to set the trigger.",
               [](const Trigger& t) { return t.threshold; });
        c.prop("hysteresis", "How far back past the line a reading must come to clear the trigger.",
               [](const Trigger& t) { return t.hysteresis; });
        c.prop("watches_above", "Whether the trigger sets on readings above the line (else below it).",
               [](const Trigger& t) { return t.watches_above; });
        c.prop("is_set", "Whether the trigger has fired and not yet cleared.",
               [](const Trigger& t) { return t.is_set; });
    }};

struct Pid {
    bool has_last_error = false;
    float last_error = 0;
    float kp;
    float ki;
    float kd;
    float integral = 0;
    float last_output = 0;
    float min;
    float max;

    float update(float setpoint, float measurement, float dt) {
        if (!std::isfinite(setpoint) || !std::isfinite(measurement)) return last_output;
        float error = setpoint - measurement;
        bool dt_valid = std::isfinite(dt) && dt > 0.0f;
        float derivative = has_last_error && dt_valid ? (error - last_error) / dt : 0.0f;
        last_error = error;
        has_last_error = true;
        if (dt_valid && ki != 0.0f) {
            // Anti-windup: the integral term alone never leaves the output
            // limits, so it cannot build up while the output is saturated.
            float u = clamp((dt * error + integral) * ki, min, max);
            integral = u / ki;
        }
        float output = clamp((ki * integral + error * kp) + derivative * kd, min, max);
        last_output = output;
        return output;
    }
};

Class<Pid> pid_class{
    "Pid", "Holds a value at a setpoint by trading off present, past, and predicted error.", [](auto& c) {
        c.init({"kp", "ki", "kd", kw_only, arg("min").none(), arg("max").none()},
               [](float kp, float ki, float kd, std::optional<float> min, std::optional<float> max) {
                   auto gain = [](float k) { return std::isfinite(k) ? k : 0.0f; };
                   float lo = min && !std::isnan(*min) ? *min : -infinity;
                   float hi = max && !std::isnan(*max) ? *max : infinity;
                   if (lo > hi) std::swap(lo, hi);
                   return Pid{false, 0, gain(kp), gain(ki), gain(kd), 0, 0, lo, hi};
               });
        c.def("update",
              "Returns the output for a setpoint and a measurement, `dt` seconds after\n"
              "the previous update.\n\n"
              "The output stays within `min` and `max`, and so does the integral term.\n"
              "With a `dt` that is not a positive finite number the integral and the\n"
              "derivative are left out. When the setpoint or the measurement is NaN or\n"
              "infinite, the previous output comes back and nothing changes.",
              {"setpoint", "measurement", "dt"},
              [](Pid& p, float setpoint, float measurement, float dt) { return p.update(setpoint, measurement, dt); });
        c.def("reset", "Forgets the integral, the last error and the last output; gains and limits stay.", [](Pid& p) {
            p.has_last_error = false;
            p.last_error = 0;
            p.integral = 0;
            p.last_output = 0;
        });
    }};

struct Calibration {
    float scale;
    float offset;
};

Class<Calibration> calibration_class{
    "Calibration", "Turns a raw sensor count into the units the reading is actually in.", [](auto& c) {
        c.def_static("linear", "Applies `raw * scale + offset`.", {"scale", "offset"}, [](float scale, float offset) {
            return make(Calibration{scale, offset});
        });
        c.def_static("two_point",
                     "The line through two known points, (`raw_low`, `value_low`) and\n"
                     "(`raw_high`, `value_high`). Two points with the same raw count give the\n"
                     "constant `value_low`.",
                     {"raw_low", "value_low", "raw_high", "value_high"},
                     [](float raw_low, float value_low, float raw_high, float value_high) {
                         float span = raw_high - raw_low;
                         float scale = span == 0.0f ? 0.0f : (value_high - value_low) / span;
                         return make(Calibration{scale, value_low - raw_low * scale});
                     });
        c.def("apply", "Converts a raw count.", {"raw"},
              [](const Calibration& cal, float raw) { return raw * cal.scale + cal.offset; });
    }};

const Function deadband_fn{"deadband",
                           "Holds `value` at `center` while it stays within `width` either side, and\n"
                           "passes it through unchanged once it is further out.\n\n"
                           "The edge of the band is inside; a negative width counts as its magnitude.",
                           {"value", "center", "width"},
                           [](float value, float center, float width) {
                               return std::fabs(value - center) <= std::fabs(width) ? center : value;
                           }};

}  // namespace

}  // namespace trovik::py
