#pragma once
// The firmware management package (port 203): its commands, and the device
// side that keeps the programmed reboot and answers for the image it holds.
#include <cstdint>
#include <optional>
#include <span>

#include "trovik/lorawan_packages/command.hpp"

namespace trovik::lorawan::packages::firmware {

enum class FirmwareKind : std::uint8_t {
    PackageVersionReq,
    PackageVersionAns,
    DevVersionReq,
    DevVersionAns,
    RebootTimeReq,
    RebootTimeAns,
    RebootCountdownReq,
    RebootCountdownAns,
    UpgradeImageReq,
    UpgradeImageAns,
    DeleteImageReq,
    DeleteImageAns,
};

enum class ImageStatus : std::uint8_t { None = 0, Corrupt = 1, WrongHardware = 2, Valid = 3 };

struct FirmwareCommand {
    FirmwareKind kind = FirmwareKind::PackageVersionReq;
    std::uint8_t package = 0;
    std::uint8_t version = 0;
    std::uint32_t firmware = 0;
    std::uint32_t hardware = 0;
    std::uint32_t reboot = 0;  // a moment, or a countdown of which 24 bits travel
    std::uint8_t image_status = 0;
    std::optional<std::uint32_t> next_version{};
    std::uint32_t delete_version = 0;
    bool no_valid_image = false;
    bool invalid_version = false;

    static ParseResult<FirmwareCommand> parse(Direction direction, std::span<const std::uint8_t> payload);
    // Refuses a valid-image answer without the version, which `parse` would
    // refuse as too short.
    EncodeResult encode(std::span<std::uint8_t> out) const;
};

class FirmwareManager {
public:
    FirmwareManager(std::uint32_t firmware, std::uint32_t hardware) noexcept
        : firmware_(firmware), hardware_(hardware) {}

    // Reads a downlink and writes the answers it calls for; `now_s` is what
    // the device believes the time is, none when it does not know. The whole
    // downlink, and the room its answers need, is checked before any of it
    // is acted on.
    EncodeResult heard_at(std::span<const std::uint8_t> payload, std::optional<std::uint32_t> now_s,
                          std::span<std::uint8_t> out);

    void set_image(ImageStatus status, std::uint32_t version) noexcept;
    void rebooted() noexcept { reboot_ = Reboot::None; }

    bool reboot_now() const noexcept { return reboot_ == Reboot::Now; }
    std::optional<std::uint32_t> reboot_at_s() const noexcept;
    std::optional<std::uint32_t> reboot_in_s() const noexcept;
    ImageStatus image_status() const noexcept { return image_; }
    std::optional<std::uint32_t> next_version() const noexcept;

private:
    enum class Reboot : std::uint8_t { None, At, Countdown, Now };
    Reboot reboot_ = Reboot::None;
    std::uint32_t reboot_value_ = 0;
    ImageStatus image_ = ImageStatus::None;
    std::uint32_t image_version_ = 0;
    std::uint32_t firmware_;
    std::uint32_t hardware_;
};

}  // namespace trovik::lorawan::packages::firmware
