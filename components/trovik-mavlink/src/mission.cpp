#include "trovik/mavlink/mission.hpp"

#include <algorithm>
#include <array>

#include "wire.hpp"

namespace trovik::mavlink {
namespace {

constexpr std::uint8_t kSeedRequestList = 132;
constexpr std::uint8_t kSeedCount = 221;
constexpr std::uint8_t kSeedAck = 153;
constexpr std::uint8_t kSeedRequestInt = 196;

// A heard payload over zeros: a v2 sender cuts trailing zeros, an older one
// leaves out extensions, a newer one adds them.
template <std::size_t N>
std::array<std::uint8_t, N> read_payload(const Frame& frame) {
    std::array<std::uint8_t, N> b{};
    const auto p = frame.payload();
    std::copy_n(p.begin(), std::min(p.size(), N), b.begin());
    return b;
}

std::expected<Frame, MavlinkError> mission_ack(Header header, std::uint8_t system, std::uint8_t component,
                                               std::uint8_t type, std::uint8_t mission_type) {
    const std::array<std::uint8_t, 8> p{system, component, type, mission_type, 0, 0, 0, 0};
    return Frame::encode_v2(header, kMissionAck, p, kSeedAck);
}

}  // namespace

std::expected<Frame, MavlinkError> MissionReceiver::request_list_frame(Header header) const {
    const std::array<std::uint8_t, 3> p{target_system_, target_component_, mission_type_};
    return Frame::encode_v2(header, kMissionRequestList, p, kSeedRequestList);
}

std::expected<MissionReceiver::Step, MavlinkError> MissionReceiver::request(Header header) const {
    std::array<std::uint8_t, 5> p{0, 0, target_system_, target_component_, mission_type_};
    wire::put(std::span(p), 0, expected_);
    auto frame = Frame::encode_v2(header, kMissionRequestInt, p, kSeedRequestInt);
    if (!frame) return std::unexpected(frame.error());
    return Step{*frame, Reply::Request, std::nullopt};
}

std::expected<MissionReceiver::Step, MavlinkError> MissionReceiver::ack(Header header,
                                                                        std::optional<MissionItemInt> accepted) const {
    auto frame = mission_ack(header, target_system_, target_component_, kMissionAccepted, mission_type_);
    if (!frame) return std::unexpected(frame.error());
    return Step{*frame, Reply::Ack, accepted};
}

std::optional<std::expected<MissionReceiver::Step, MavlinkError>> MissionReceiver::on_frame(const Frame& frame,
                                                                                            Header header) {
    switch (frame.message_id()) {
        case kMissionCount: {
            const auto p = read_payload<9>(frame);
            count_ = wire::get<std::uint16_t>(p, 0);
            expected_ = 0;
            counted_ = true;
            complete_ = count_ == 0;
            return complete_ ? ack(header, std::nullopt) : request(header);
        }
        case MissionItemInt::kId: {
            if (!counted_) return std::nullopt;
            if (complete_) return ack(header, std::nullopt);
            const MissionItemInt item = MissionItemInt::decode(frame.payload());
            if (item.seq != expected_) return request(header);
            ++expected_;
            if (expected_ >= count_) {
                complete_ = true;
                return ack(header, item);
            }
            auto step = request(header);
            if (step) step->accepted = item;
            return step;
        }
        default: return std::nullopt;
    }
}

std::expected<Frame, MavlinkError> MissionSender::count_frame(Header header) const {
    if (items.size() > kMaxMissionItems) return std::unexpected(MavlinkError{MavlinkError::Kind::ValueOutOfRange});
    std::array<std::uint8_t, 9> p{0, 0, target_system, target_component, mission_type, 0, 0, 0, 0};
    wire::put(std::span(p), 0, static_cast<std::uint16_t>(items.size()));
    return Frame::encode_v2(header, kMissionCount, p, kSeedCount);
}

std::optional<std::expected<MissionSender::Step, MavlinkError>> MissionSender::on_frame(const Frame& frame,
                                                                                        Header header) const {
    auto as_step = [](std::expected<Frame, MavlinkError> f) -> std::expected<Step, MavlinkError> {
        if (!f) return std::unexpected(f.error());
        return Step{*f};
    };
    switch (frame.message_id()) {
        case kMissionRequest:
        case kMissionRequestInt: {
            const auto p = read_payload<5>(frame);
            const std::uint16_t seq = wire::get<std::uint16_t>(p, 0);
            if (seq >= items.size())
                return as_step(
                    mission_ack(header, target_system, target_component, kMissionInvalidSequence, mission_type));
            MissionItemInt item = items[seq];
            item.seq = seq;
            item.target_system = target_system;
            item.target_component = target_component;
            item.mission_type = mission_type;
            std::array<std::uint8_t, MissionItemInt::kWireLen> b{};
            const std::size_t n = item.encode(b);
            return as_step(
                Frame::encode_v2(header, MissionItemInt::kId, std::span(b).first(n), MissionItemInt::kCrcExtra));
        }
        case kMissionRequestList: return as_step(count_frame(header));
        case kMissionAck: return Step{read_payload<3>(frame)[2]};
        default: return std::nullopt;
    }
}

}  // namespace trovik::mavlink
