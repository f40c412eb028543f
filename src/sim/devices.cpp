// The simulated devices. Each object's state sits behind its own
// asynchronous lock: calls on one object run one at a time in the order they
// were made, and the work under the lock never waits, so a call either takes
// effect whole or (cancelled while it waited its turn) not at all.
#include <cstdint>
#include <optional>
#include <vector>

#include "binding/binding.hpp"
#include "runtime/serialized.hpp"
#include "trovik/kit/pose.hpp"
#include "trovik/sim/actuator.hpp"
#include "trovik/sim/robot.hpp"
#include "trovik/sim/sensor.hpp"

namespace trovik::py {

const BindingSource this_source{"sim"};

namespace {

PyObject* float_result(float value) { return to_py(value); }

struct Sensor {
    Serialized<sim::SimulatedSensor> state;
};

Class<Sensor> sensor_class{
    "SimulatedSensor", "A sensor that invents plausible readings.", [](auto& c) {
        c.init({"baseline", kw_only, arg("drift_per_read").none(), arg("noise").none(), arg("seed").none()},
               "The first reading is centred on `baseline`, and each reading moves the\n"
               "next by `drift_per_read`. Noise is drawn within +-`noise` from a generator\n"
               "seeded with `seed` (0 to 4294967295), so sensors made alike read alike.",
               [](float baseline, std::optional<float> drift_per_read, std::optional<float> noise,
                  std::optional<std::uint32_t> seed) {
                   return Sensor{Serialized<sim::SimulatedSensor>(
                       std::in_place, baseline, drift_per_read.value_or(0.0f), noise.value_or(0.0f), seed)};
               });
        c.no_borrow();  // the state sits behind its own asynchronous lock
        c.def("read", "Reads the next value.", [](const Sensor& self) {
            using Held = Serialized<sim::SimulatedSensor>::Held;
            return self.state.call_now_or_wait(
                [](sim::SimulatedSensor& sensor) { return std::optional(sensor.read()); },
                [](Held& held) -> asio::awaitable<float> { co_return held->read(); }, float_result);
        });
    }};

struct ReplaySensor {
    Serialized<sim::Replay> state;
};

Class<ReplaySensor> replay_class{
    "Replay", "A sensor that reads back a recorded series.", [](auto& c) {
        c.init({"readings", kw_only, arg("repeating").def(false)},
               "`readings` is copied; with `repeating` the series starts over once it has\n"
               "run out.",
               [](std::vector<float> readings, bool repeating) {
                   return ReplaySensor{Serialized<sim::Replay>(std::in_place, std::move(readings), repeating)};
               });
        c.no_borrow();  // the state sits behind its own asynchronous lock
        c.def("read",
              "Reads the next recorded value. Once a series that does not repeat has run\n"
              "out, every read raises TrovikError.",
              [](const ReplaySensor& self) {
                  using Held = Serialized<sim::Replay>::Held;
                  return self.state.call_now_or_wait(
                      [](sim::Replay& replay) { return std::optional(value_or_fail(replay.read())); },
                      [](Held& held) -> asio::awaitable<float> { co_return value_or_fail(held->read()); },
                      float_result);
              });
    }};

struct Actuator {
    Serialized<sim::RecordingActuator<float>> state;
};

Class<Actuator> actuator_class{
    "RecordingActuatorHandle", "An actuator that records every command instead of acting on one.", [](auto& c) {
        c.init({}, [] { return Actuator{Serialized<sim::RecordingActuator<float>>(std::in_place)}; });
        c.no_borrow();  // the state sits behind its own asynchronous lock
        c.def("apply", "Records a command.", {"command"}, [](const Actuator& self, float command) {
            using Held = Serialized<sim::RecordingActuator<float>>::Held;
            return self.state.call_now_or_wait(
                [command](sim::RecordingActuator<float>& actuator) {
                    actuator.apply(command);
                    return true;
                },
                [command](Held& held) -> asio::awaitable<void> {
                    held->apply(command);
                    co_return;
                },
                none);
        });
        c.def("commands", "Returns a list of every command so far, oldest first.", [](const Actuator& self) {
            using Held = Serialized<sim::RecordingActuator<float>>::Held;
            return self.state.call_now_or_wait(
                [](sim::RecordingActuator<float>& actuator) { return std::optional(actuator.commands()); },
                [](Held& held) -> asio::awaitable<std::vector<float>> { co_return held->commands(); },
                [](std::vector<float>& commands) { return to_py(std::move(commands)); });
        });
    }};

struct Robot {
    Serialized<sim::SimRobot> state;
};

Class<Robot> robot_class{
    "SimulatedRobot", "A robot that moves only in arithmetic.", [](auto& c) {
        c.init({"dt", kw_only, arg("x").def(0.0), arg("y").def(0.0), arg("theta").def(0.0)},
               "Every command moves the robot for `dt` seconds (its magnitude), starting\n"
               "from (`x`, `y`) facing `theta` radians.",
               [](float dt, float x, float y, float theta) {
                   return Robot{Serialized<sim::SimRobot>(std::in_place, dt, kit::Pose{x, y, theta})};
               });
        c.no_borrow();  // the state sits behind its own asynchronous lock
        c.def("apply",
              "Drives forward at `vx` while turning at `omega` for one time step. The\n"
              "robot does not move sideways: `vy` has no effect.",
              {kw_only, arg("vx").def(0.0), arg("vy").def(0.0), arg("omega").def(0.0)},
              [](const Robot& self, float vx, float vy, float omega) {
                  using Held = Serialized<sim::SimRobot>::Held;
                  return self.state.call_now_or_wait(
                      [=](sim::SimRobot& robot) {
                          robot.apply(vx, vy, omega);
                          return true;
                      },
                      [=](Held& held) -> asio::awaitable<void> {
                          held->apply(vx, vy, omega);
                          co_return;
                      },
                      none);
              });
        c.def("pose", "Returns the current pose estimate.", [](const Robot& self) {
            using Held = Serialized<sim::SimRobot>::Held;
            return self.state.call_now_or_wait([](sim::SimRobot& robot) { return std::optional(robot.pose()); },
                                               [](Held& held) -> asio::awaitable<kit::Pose> { co_return held->pose(); },
                                               [](kit::Pose& pose) { return make(pose); });
        });
    }};

}  // namespace

}  // namespace trovik::py
