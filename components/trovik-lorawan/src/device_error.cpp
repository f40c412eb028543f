#include "trovik/lorawan/device/error.hpp"

#include <array>

namespace trovik::lorawan::device {

std::string_view StateError::name() const noexcept {
    static constexpr std::array<std::string_view, 4> kNames{"length", "corrupt", "format", "plan"};
    return kNames[static_cast<std::size_t>(kind)];
}

std::string StateError::display() const {
    switch (kind) {
        case Kind::Length: return "a saved state is 1678 bytes";
        case Kind::Corrupt: return "the saved state is corrupt";
        case Kind::Format: return "saved state format " + std::to_string(format) + " is not read here";
        case Kind::Plan: return "the state was saved on another channel plan";
    }
    return {};
}

std::string_view DeviceError::name() const noexcept {
    static constexpr std::array<std::string_view, 16> kNames{"too_many_channels",
                                                             "no_credentials",
                                                             "not_joined",
                                                             "busy",
                                                             "nothing_pending",
                                                             "wait",
                                                             "no_channel",
                                                             "data_rate",
                                                             "payload_too_long",
                                                             "counter_exhausted",
                                                             "frame",
                                                             "foreign",
                                                             "replayed",
                                                             "counter_gap",
                                                             "refused",
                                                             "state"};
    return kNames[static_cast<std::size_t>(kind)];
}

std::string DeviceError::display() const {
    const std::string n = std::to_string(value);
    switch (kind) {
        case Kind::TooManyChannels: return "the plan defines more than the " + n + " channels a device keeps";
        case Kind::NoCredentials: return "the device has no keys to join with";
        case Kind::NotJoined: return "the device has not joined a network";
        case Kind::Busy: return "a transmission is still waiting on its windows";
        case Kind::NothingPending: return "nothing is waiting on its windows";
        case Kind::Wait: return "the air is not free until " + n;
        case Kind::NoChannel: return "no enabled channel carries the data rate";
        case Kind::DataRate: return "DR" + n + " is not a LoRa data rate here";
        case Kind::PayloadTooLong: return "the payload does not fit; " + n + " bytes do";
        case Kind::CounterExhausted: return "the uplink frame counter is spent";
        case Kind::Frame: return "the frame did not decode: " + frame.display();
        case Kind::Foreign: return "the frame is for another device";
        case Kind::Replayed: return "the frame repeats an earlier downlink";
        case Kind::CounterGap: return "the frame counter jumped too far ahead";
        case Kind::Refused: return "the join accept carries settings not allowed";
        case Kind::State: return "the saved state was not resumed: " + state.display();
    }
    return {};
}

}  // namespace trovik::lorawan::device
