#pragma once
// The frame every sensor driver class runs in. The Python object owns one
// driver core behind a mutex of its own; each bus-touching method releases
// the interpreter lock first and only then takes that mutex, so a thread
// waiting for a busy driver, or for the bus under it, never holds the
// interpreter lock. Lock order: driver, then bus (each transaction takes the
// bus lock by itself). A fault unwinding through a call leaves the mutex
// unlocked, and the next call goes on with the core as the fault left it.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/binding.hpp"
#include "binding/blocking.hpp"
#include "trovik/hal/bus.hpp"
#include "trovik/sensors/error.hpp"

namespace trovik::py::sensors_frame {

// Every driver failure reaches Python as `TrovikError` carrying its text
// alone: the bus's words, the sensor error's, or the timeout's.
[[noreturn]] inline void raise_driver_error(const sensors::DriverError& error) { raise_trovik(error.message()); }
[[noreturn]] inline void raise_sensor_error(sensors::SensorError error) { raise_trovik(sensors::message(error)); }

// "{name} must be exactly {length} bytes", before anything is decoded.
[[noreturn]] inline void raise_length_error(std::string_view name, std::size_t length) {
    raise_value_error(std::string(name) + " must be exactly " + std::to_string(length) + " bytes");
}

// `data` as a frame of exactly `N` bytes, or the length error naming it.
template <std::size_t N>
std::span<const std::uint8_t, N> exactly(std::span<const std::uint8_t> data, std::string_view name) {
    if (data.size() != N) raise_length_error(name, N);
    return data.first<N>();
}

// A codec's value, or its `SensorError` raised as `TrovikError`.
template <class T>
T unwrap_sensor(std::expected<T, sensors::SensorError> result) {
    if (!result) raise_sensor_error(result.error());
    return *result;
}

inline std::vector<std::uint8_t> to_vector(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

template <class Core>
class Driver {
public:
    explicit Driver(Core core) : cell_(std::make_unique<Cell>(std::move(core))) {}

    // Runs `step` on the core with the interpreter lock released and the
    // driver's mutex held, and hands back its value; its `DriverError`
    // raises `TrovikError`. `step` must not touch a Python object.
    template <class Step>
    auto drive(Step step) const {
        using Result = std::invoke_result_t<Step&, Core&>;
        Result result = without_gil([&]() -> Result {
            std::lock_guard lock(cell_->mutex);
            return step(cell_->core);
        });
        if (!result) raise_driver_error(result.error());
        if constexpr (!std::is_void_v<typename Result::value_type>) return std::move(*result);
    }

    // Reads stored state with the interpreter lock held: a running step never
    // needs that lock, so waiting here for it to finish cannot deadlock.
    template <class Read>
    auto read(Read read) const {
        std::lock_guard lock(cell_->mutex);
        return read(std::as_const(cell_->core));
    }

private:
    struct Cell {
        explicit Cell(Core core) : core(std::move(core)) {}
        std::mutex mutex;
        Core core;
    };
    std::unique_ptr<Cell> cell_;
};

}  // namespace trovik::py::sensors_frame
