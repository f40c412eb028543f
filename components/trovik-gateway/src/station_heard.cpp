#include <string>

#include "trovik/gateway/station_message.hpp"

namespace trovik::gateway::station {
namespace {

std::uint64_t little_endian(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

std::unexpected<udp::ProtocolError> failure(std::string message) {
    return std::unexpected(udp::ProtocolError::invalid(std::move(message)));
}

constexpr std::size_t header_and_mic = 5;  // MHDR before, MIC after
constexpr std::size_t join_request_size = 23;
constexpr std::size_t data_header = 7;  // DevAddr, FCtrl, FCnt

}  // namespace

std::expected<Message, udp::ProtocolError> Message::heard(std::span<const std::uint8_t> frame, std::uint8_t data_rate,
                                                          std::uint32_t frequency_hz, const Levels& levels) {
    if (frame.size() < header_and_mic)
        return failure("a frame of " + std::to_string(frame.size()) +
                       " bytes is shorter than a header and an integrity code");
    const std::uint8_t mhdr = frame[0];
    const std::size_t inner = frame.size() - header_and_mic;
    // The integrity code is reported as sent: the server checks it, not the
    // station.
    const auto mic = static_cast<std::int32_t>(little_endian(frame.last(4)));
    switch (mhdr >> 5) {
        case 0: {
            if (frame.size() != join_request_size)
                return failure("a join request carries 18 bytes, not " + std::to_string(inner));
            // EUIs travel least significant byte first inside a frame.
            JoinRequest m{mhdr,
                          little_endian(frame.subspan(1, 8)),
                          little_endian(frame.subspan(9, 8)),
                          static_cast<std::uint16_t>(little_endian(frame.subspan(17, 2))),
                          mic,
                          data_rate,
                          frequency_hz,
                          levels};
            return Message{std::move(m)};
        }
        case 2:
        case 4: {
            if (inner < data_header)
                return failure("a data frame carries 7 bytes of header, not " + std::to_string(inner));
            const std::size_t options = frame[5] & 0x0f;
            if (inner < options + data_header)
                return failure("a frame naming " + std::to_string(options) + " bytes of options carries " +
                               std::to_string(inner) + " in all");
            DataUplink m;
            m.mhdr = mhdr;
            m.dev_addr = static_cast<std::int32_t>(little_endian(frame.subspan(1, 4)));
            m.fctrl = frame[5];
            m.fcnt = static_cast<std::uint16_t>(little_endian(frame.subspan(6, 2)));
            m.fopts.assign(frame.begin() + 8, frame.begin() + 8 + static_cast<std::ptrdiff_t>(options));
            const std::size_t port_at = 8 + options;
            if (port_at < frame.size() - 4) {
                m.fport = frame[port_at];
                m.payload.assign(frame.begin() + static_cast<std::ptrdiff_t>(port_at) + 1, frame.end() - 4);
            }
            m.mic = mic;
            m.data_rate = data_rate;
            m.frequency_hz = frequency_hz;
            m.levels = levels;
            return Message{std::move(m)};
        }
        case 7: return Message{ProprietaryUplink{Bytes(frame.begin(), frame.end()), data_rate, frequency_hz, levels}};
        default: return failure("a station does not send a frame of kind " + std::to_string(mhdr >> 5) + " up");
    }
}

}  // namespace trovik::gateway::station
