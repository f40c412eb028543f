#pragma once
// What the end device's binding source shares with the relay node's: the
// relay's own device takes the same settings, hands out the same results and
// raises the same error as a `LorawanEndDevice`, and the relay node's source
// holds the results of the device side of a relay exchange.
#include <optional>

#include "binding/class.hpp"
#include "binding/convert.hpp"
#include "lora/region.hpp"
#include "trovik/lorawan/device/end_device.hpp"

namespace trovik::py {

// Raises `LorawanDeviceError` with the error's kind, message and attributes.
[[noreturn]] void raise_lorawan_device_error(const lorawan::device::DeviceError& e);

// New `LorawanTransmission`, `LorawanHeard` and `LorawanNext` objects. A heard
// data frame reports `dev_addr`, the device's DevAddr after the call.
PyObject* make_lorawan_transmission(lorawan::device::Transmission t);
PyObject* make_lorawan_heard(lorawan::device::Heard heard, std::uint32_t dev_addr);
PyObject* make_lorawan_next(const lorawan::device::Next& next);
PyObject* make_lorawan_window(const lorawan::device::ReceiveWindow& window);

// New `LorawanRelayExchange`, `LorawanRelayStatus` and `LorawanWorNext`
// objects, the device side of a relay exchange; `next` is absent when the
// uplink goes without waking the relay again.
PyObject* make_lorawan_relay_exchange(lorawan::device::RelayExchange exchange);
PyObject* make_lorawan_relay_status(const lorawan::device::RelayStatus& status);
PyObject* make_lorawan_wor_next(std::optional<lorawan::device::RelayExchange> next);

// The published plan behind a `ChannelPlan`, refusing a built one with
// TrovikError.
const lora::ChannelPlan& lorawan_published_plan(const ChannelPlanValue& plan);

// The settings a `LorawanDeviceSettings` holds, refusing any other object
// with the binding's instance text.
const lorawan::device::DeviceSettings& lorawan_device_settings(PyObject* settings);

// An argument that must be a `LorawanDeviceSettings`.
struct DeviceSettingsArg {
    const lorawan::device::DeviceSettings* settings;
};
template <>
struct Caster<DeviceSettingsArg> {
    DeviceSettingsArg v;
    explicit Caster(PyObject* o) : v{&lorawan_device_settings(o)} {}
    DeviceSettingsArg get() const { return v; }
};

}  // namespace trovik::py
