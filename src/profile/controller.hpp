#pragma once
// The Python controller's value, shared by the source that defines the class
// and the profile that builds one.
#include <memory>

#include "binding/guarded.hpp"
#include "trovik/profile/control.hpp"

namespace trovik::py {

// A controller judges readings one at a time from any thread: its state sits
// behind a mutex of its own, and a fault that escapes an evaluation leaves it
// refusing with `RuntimeError`.
struct ControllerValue {
    std::unique_ptr<Guarded<profile::control::Controller, raise_runtime_error>> cell;

    explicit ControllerValue(profile::control::Controller controller)
        : cell(std::make_unique<Guarded<profile::control::Controller, raise_runtime_error>>(
              "this controller is poisoned", std::move(controller))) {}
};

}  // namespace trovik::py
