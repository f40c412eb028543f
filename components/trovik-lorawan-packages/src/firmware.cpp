#include "trovik/lorawan_packages/firmware.hpp"

#include "trovik/core/little_endian.hpp"
#include "wire.hpp"

namespace trovik::lorawan::packages::firmware {

using core::read_le;
using core::write_le;

namespace {

constexpr std::uint8_t kPackageId = 4;
constexpr std::uint8_t kPackageVersion = 1;
constexpr std::uint32_t kCancelTime = 0xFFFFFFFF;
constexpr std::uint32_t kCancelCountdown = 0xFFFFFF;
constexpr std::uint8_t kValid = static_cast<std::uint8_t>(ImageStatus::Valid);

}  // namespace

ParseResult<FirmwareCommand> FirmwareCommand::parse(Direction direction, std::span<const std::uint8_t> p) {
    if (p.empty()) return wire::malformed();
    const std::uint8_t id = p[0];
    const bool up = direction == Direction::Uplink;
    FirmwareCommand c;
    std::size_t length = 0;
    using K = FirmwareKind;
    switch (id) {
        case 0x00: c.kind = up ? K::PackageVersionAns : K::PackageVersionReq, length = up ? 3 : 1; break;
        case 0x01: c.kind = up ? K::DevVersionAns : K::DevVersionReq, length = up ? 9 : 1; break;
        case 0x02: c.kind = up ? K::RebootTimeAns : K::RebootTimeReq, length = 5; break;
        case 0x03: c.kind = up ? K::RebootCountdownAns : K::RebootCountdownReq, length = 4; break;
        case 0x04: c.kind = up ? K::UpgradeImageAns : K::UpgradeImageReq, length = up ? 2 : 1; break;
        case 0x05: c.kind = up ? K::DeleteImageAns : K::DeleteImageReq, length = up ? 2 : 5; break;
        default: return wire::unknown(id);
    }
    if (p.size() < length) return wire::malformed();
    switch (c.kind) {
        case K::PackageVersionReq:
        case K::DevVersionReq:
        case K::UpgradeImageReq: break;
        case K::PackageVersionAns: c.package = p[1], c.version = p[2]; break;
        case K::DevVersionAns:
            c.firmware = read_le(&p[1], 4);
            c.hardware = read_le(&p[5], 4);
            break;
        case K::RebootTimeReq:
        case K::RebootTimeAns: c.reboot = read_le(&p[1], 4); break;
        case K::RebootCountdownReq:
        case K::RebootCountdownAns: c.reboot = read_le(&p[1], 3); break;
        case K::UpgradeImageAns:
            c.image_status = p[1] & 0x03;
            if (c.image_status == kValid) {
                length = 6;
                if (p.size() < length) return wire::malformed();
                c.next_version = read_le(&p[2], 4);
            }
            break;
        case K::DeleteImageReq: c.delete_version = read_le(&p[1], 4); break;
        case K::DeleteImageAns:
            c.no_valid_image = wire::has(p[1], 0);
            c.invalid_version = wire::has(p[1], 1);
            break;
    }
    return Parsed<FirmwareCommand>{c, length};
}

EncodeResult FirmwareCommand::encode(std::span<std::uint8_t> out) const {
    using K = FirmwareKind;
    const bool valid_image = (image_status & 0x03) == kValid;
    // A valid image is reported with the version it holds, or the answer is
    // one the parser takes as cut short.
    if (kind == K::UpgradeImageAns && valid_image && !next_version) return wire::malformed();
    std::size_t length = 1;
    std::uint8_t id = 0;
    switch (kind) {
        case K::PackageVersionReq: break;
        case K::PackageVersionAns: length = 3; break;
        case K::DevVersionReq: id = 0x01; break;
        case K::DevVersionAns: length = 9, id = 0x01; break;
        case K::RebootTimeReq:
        case K::RebootTimeAns: length = 5, id = 0x02; break;
        case K::RebootCountdownReq:
        case K::RebootCountdownAns: length = 4, id = 0x03; break;
        case K::UpgradeImageReq: id = 0x04; break;
        case K::UpgradeImageAns: length = valid_image ? 6 : 2, id = 0x04; break;
        case K::DeleteImageReq: length = 5, id = 0x05; break;
        case K::DeleteImageAns: length = 2, id = 0x05; break;
    }
    if (out.size() < length) return wire::too_large();
    std::uint8_t* o = out.data();
    o[0] = id;
    switch (kind) {
        case K::PackageVersionReq:
        case K::DevVersionReq:
        case K::UpgradeImageReq: break;
        case K::PackageVersionAns: o[1] = package, o[2] = version; break;
        case K::DevVersionAns:
            write_le(&o[1], firmware, 4);
            write_le(&o[5], hardware, 4);
            break;
        case K::RebootTimeReq:
        case K::RebootTimeAns: write_le(&o[1], reboot, 4); break;
        case K::RebootCountdownReq:
        case K::RebootCountdownAns: write_le(&o[1], reboot, 3); break;
        case K::UpgradeImageAns:
            o[1] = image_status & 0x03;
            if (length == 6) write_le(&o[2], *next_version, 4);
            break;
        case K::DeleteImageReq: write_le(&o[1], delete_version, 4); break;
        case K::DeleteImageAns: o[1] = wire::bit(no_valid_image, 0) | wire::bit(invalid_version, 1); break;
    }
    return length;
}

EncodeResult FirmwareManager::heard_at(std::span<const std::uint8_t> payload, std::optional<std::uint32_t> now_s,
                                       std::span<std::uint8_t> out) {
    // Acted on in a copy, kept only when every command read and every answer
    // fitted: a failed call must not leave a reboot programmed whose answer
    // the server never gets.
    FirmwareManager next = *this;
    std::size_t at = 0;
    std::size_t written = 0;
    using K = FirmwareKind;
    while (at < payload.size()) {
        auto parsed = FirmwareCommand::parse(Direction::Downlink, payload.subspan(at));
        if (!parsed) {
            if (parsed.error().kind == LorawanError::Kind::UnknownMacCommand) break;
            return std::unexpected(parsed.error());
        }
        at += parsed->used;
        const FirmwareCommand& c = parsed->command;
        std::optional<FirmwareCommand> answer;
        switch (c.kind) {
            case K::PackageVersionReq:
                answer =
                    FirmwareCommand{.kind = K::PackageVersionAns, .package = kPackageId, .version = kPackageVersion};
                break;
            case K::DevVersionReq:
                answer = FirmwareCommand{.kind = K::DevVersionAns, .firmware = firmware_, .hardware = hardware_};
                break;
            case K::RebootTimeReq: {
                std::uint32_t left = 0;
                if (c.reboot == 0) {
                    next.reboot_ = Reboot::Now;
                    break;
                }
                if (c.reboot == kCancelTime) {
                    next.reboot_ = Reboot::None;
                    left = kCancelTime;
                } else if (now_s && c.reboot > *now_s) {
                    next.reboot_ = Reboot::At;
                    next.reboot_value_ = c.reboot;
                    left = c.reboot - *now_s;
                }
                answer = FirmwareCommand{.kind = K::RebootTimeAns, .reboot = left};
                break;
            }
            case K::RebootCountdownReq:
                if (c.reboot == 0) {
                    next.reboot_ = Reboot::Now;
                    break;
                }
                if (c.reboot == kCancelCountdown) {
                    next.reboot_ = Reboot::None;
                } else {
                    next.reboot_ = Reboot::Countdown;
                    next.reboot_value_ = c.reboot;
                }
                answer = FirmwareCommand{.kind = K::RebootCountdownAns, .reboot = c.reboot};
                break;
            case K::UpgradeImageReq:
                answer = FirmwareCommand{.kind = K::UpgradeImageAns,
                                         .image_status = static_cast<std::uint8_t>(next.image_),
                                         .next_version = next.next_version()};
                break;
            case K::DeleteImageReq:
                answer = FirmwareCommand{.kind = K::DeleteImageAns};
                if (next.image_ != ImageStatus::Valid) {
                    answer->no_valid_image = true;
                } else if (c.delete_version != next.image_version_) {
                    answer->invalid_version = true;
                } else {
                    next.image_ = ImageStatus::None;
                    next.image_version_ = 0;
                }
                break;
            default: break;  // uplink kinds never come out of a downlink parse
        }
        if (answer) {
            auto length = answer->encode(out.subspan(written));
            if (!length) return std::unexpected(length.error());
            written += *length;
        }
    }
    *this = next;
    return written;
}

void FirmwareManager::set_image(ImageStatus status, std::uint32_t version) noexcept {
    image_ = status;
    image_version_ = status == ImageStatus::Valid ? version : 0;
}

std::optional<std::uint32_t> FirmwareManager::reboot_at_s() const noexcept {
    if (reboot_ != Reboot::At) return std::nullopt;
    return reboot_value_;
}

std::optional<std::uint32_t> FirmwareManager::reboot_in_s() const noexcept {
    if (reboot_ != Reboot::Countdown) return std::nullopt;
    return reboot_value_;
}

std::optional<std::uint32_t> FirmwareManager::next_version() const noexcept {
    if (image_ != ImageStatus::Valid) return std::nullopt;
    return image_version_;
}

}  // namespace trovik::lorawan::packages::firmware
