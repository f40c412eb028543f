// One GPIO line on a Linux board. Its calls are short kernel requests on a
// line file, so they run under the line's own mutex with the interpreter
// lock held.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "binding/binding.hpp"
#include "hal/pin_text.hpp"
#include "trovik/hal/gpio_line.hpp"
#include "trovik/hal/pins.hpp"

namespace trovik::py {

const BindingSource this_source{"gpio"};

namespace {

namespace pins = hal::pins;
using hal::gpio_line::Line;

struct GpioLine {
    std::string chip;
    std::uint32_t offset;
    struct Slot {
        std::mutex mutex;
        std::optional<Line> line;  // empty once closed
    };
    std::unique_ptr<Slot> slot;

    [[noreturn]] void raise_closed() const {
        raise_trovik(chip + " line " + std::to_string(offset) + ": the line is closed");
    }
};

using pin_text::level_of;

GpioLine opened(std::string_view chip, std::uint32_t offset, hal::gpio_cdev::Direction direction, bool high) {
    auto line = Line::open(chip, offset, direction, high);
    if (!line) raise_trovik(line.error().message());
    auto slot = std::make_unique<GpioLine::Slot>();
    slot->line.emplace(std::move(*line));
    return GpioLine{std::string(chip), offset, std::move(slot)};
}

Class<GpioLine> gpio_line_class{
    "GpioLine",
    "A GPIO line opened on a Linux board, through the kernel's GPIO character device.\n\n"
    "Levels cross as `\"Low\"` and `\"High\"`; the facade's `GpioLine` speaks the `Level` enum.",
    [](auto& c) {
        c.no_borrow();  // the line has a mutex of its own
        c.def_static("open_input",
                     "Opens a line as an input.\n\nRaises `TrovikError` when the platform is not Linux, or the chip "
                     "or the line cannot\nbe opened.",
                     {"chip", "line"}, [](std::string_view chip, std::uint32_t line) {
                         return make(opened(chip, line, hal::gpio_cdev::Direction::Input, false));
                     });
        c.def_static("open_output",
                     "Opens a line as an output, driving `initial` from the moment it is taken.\n\nRaises "
                     "`TrovikError` when the platform is not Linux, or the chip or the line cannot\nbe opened, and "
                     "`ValueError` for a level other than `\"Low\"` or `\"High\"`.",
                     {"chip", "line", "initial"},
                     [](std::string_view chip, std::uint32_t line, std::string_view initial) {
                         const bool high = level_of(initial) == pins::Level::High;
                         return make(opened(chip, line, hal::gpio_cdev::Direction::Output, high));
                     });
        c.def("drive",
              "Drives the line to `\"Low\"` or `\"High\"`. Raises `TrovikError` when the kernel refuses\nthe write, "
              "which an input line does, or the line is closed.",
              {"level"}, [](const GpioLine& self, std::string_view level) {
                  const bool high = level_of(level) == pins::Level::High;
                  std::lock_guard lock(self.slot->mutex);
                  if (!self.slot->line) self.raise_closed();
                  if (auto done = self.slot->line->drive(high); !done) raise_trovik(done.error());
              });
        c.def("read",
              "Reads the level on the line now, as `\"Low\"` or `\"High\"`. Raises `TrovikError` when\nthe kernel "
              "refuses the read, or the line is closed.",
              [](const GpioLine& self) {
                  std::lock_guard lock(self.slot->mutex);
                  if (!self.slot->line) self.raise_closed();
                  auto level = self.slot->line->read();
                  if (!level) raise_trovik(level.error());
                  return std::string(pins::name(pins::level_from_bool(*level)));
              });
        c.def("close", "Hands the line back to the kernel. Calls after this raise `TrovikError`.",
              [](const GpioLine& self) {
                  std::lock_guard lock(self.slot->mutex);
                  self.slot->line.reset();
              });
        c.prop("chip", "The GPIO chip's device file.", [](const GpioLine& self) { return self.chip; });
        c.prop("offset", "The line's number on its chip.", [](const GpioLine& self) { return self.offset; });
    }};

}  // namespace
}  // namespace trovik::py
