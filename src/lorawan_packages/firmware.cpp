// The firmware management package running on a device.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "binding/binding.hpp"
#include "lorawan_packages/image_status.hpp"
#include "trovik/lorawan_packages/firmware.hpp"

namespace trovik::py {

const BindingSource this_source{"lorawan_packages"};

namespace {

using lorawan::packages::firmware::FirmwareManager;
using lorawan::packages::firmware::ImageStatus;

Class<FirmwareManager> firmware_class{
    "LorawanFirmware", "The firmware management package running on a device, TS006-1.0.0.", [](auto& c) {
        c.init({"firmware", "hardware"}, "`firmware` and `hardware` are the versions the device reports running on.",
               [](std::uint32_t firmware, std::uint32_t hardware) { return FirmwareManager(firmware, hardware); });
        c.def("heard",
              "Reads a downlink on the firmware port and writes the answers it calls for.\n\n"
              "`now_s` is what the device believes the time is, in seconds since the GPS\n"
              "epoch; a device that does not know refuses a reboot set for a moment in time.",
              {"payload", arg("now_s").none()},
              [](FirmwareManager& self, ByteView payload, std::optional<std::uint32_t> now_s) {
                  std::array<std::uint8_t, 64> out{};
                  const std::size_t n = unwrap(self.heard_at(payload, now_s, out));
                  return to_py(std::span<const std::uint8_t>(out.data(), n));
              });
        c.def("set_image", "Says what firmware upgrade image the device is holding.", {"status", arg("version").none()},
              [](FirmwareManager& self, std::string_view status, std::optional<std::uint32_t> version) {
                  const auto wire = image_status_from_name(status);
                  if (!wire) raise_trovik(std::string(status) + " is not an image status");
                  self.set_image(static_cast<ImageStatus>(*wire), version.value_or(0));
              });
        c.def("rebooted", "Forgets the programmed reboot, for a device that has carried it out.",
              [](FirmwareManager& self) { self.rebooted(); });
        c.prop("reboot_now", "Whether the device was told to reboot at once.",
               [](const FirmwareManager& m) { return m.reboot_now(); });
        c.prop("reboot_at_s", "The moment the device is to reboot, where one was set as a time.",
               [](const FirmwareManager& m) { return m.reboot_at_s(); });
        c.prop("reboot_in_s", "How long until it reboots, where one was set as a countdown.",
               [](const FirmwareManager& m) { return m.reboot_in_s(); });
        c.prop("image_status", "What the device makes of the image it holds.",
               [](const FirmwareManager& m) { return image_status_name(static_cast<std::uint8_t>(m.image_status())); });
        c.prop("next_version", "What the device would boot into, for an image it can install.",
               [](const FirmwareManager& m) { return m.next_version(); });
    }};

}  // namespace
}  // namespace trovik::py
