#include "trovik/lorawan/header.hpp"

#include "fctrl.hpp"
#include "le.hpp"
#include "trovik/lorawan/frame.hpp"

namespace trovik::lorawan {

std::optional<MType> mtype_of(std::uint8_t mhdr) noexcept {
    switch (mhdr >> 5) {
        case 0: return MType::JoinRequest;
        case 1: return MType::JoinAccept;
        case 2: return MType::UnconfirmedUp;
        case 3: return MType::UnconfirmedDown;
        case 4: return MType::ConfirmedUp;
        case 5: return MType::ConfirmedDown;
        default: return std::nullopt;
    }
}

std::string_view name(MType type) noexcept {
    switch (type) {
        case MType::JoinRequest: return "JoinRequest";
        case MType::JoinAccept: return "JoinAccept";
        case MType::UnconfirmedUp: return "UnconfirmedUp";
        case MType::ConfirmedUp: return "ConfirmedUp";
        case MType::UnconfirmedDown: return "UnconfirmedDown";
        case MType::ConfirmedDown: return "ConfirmedDown";
    }
    return "JoinRequest";
}

std::expected<FrameHeader, LorawanError> FrameHeader::parse(std::span<const std::uint8_t> frame) {
    using Kind = LorawanError::Kind;
    if (frame.empty()) return std::unexpected(LorawanError{Kind::TooShort});
    // Nothing longer fits a frame of ours; refusing it here keeps every
    // reader's fixed buffers safe.
    if (frame.size() > kMaxFrameSize) return std::unexpected(LorawanError{Kind::Malformed});
    const auto type = mtype_of(frame[0]);
    if (!type) return std::unexpected(LorawanError{Kind::MessageType, static_cast<std::uint8_t>(frame[0] & 0xE0)});
    FrameHeader header;
    header.message_type = *type;
    if (!is_data(*type)) return header;

    if (frame.size() < kMinDataFrame) return std::unexpected(LorawanError{Kind::TooShort});
    const std::uint8_t fctrl = frame[5];
    header.fopts_len = fctrl & 0x0F;
    if (frame.size() < header.fopts_len + kMinDataFrame) return std::unexpected(LorawanError{Kind::Malformed});
    if (frame.size() > header.fopts_len + kMinDataFrame) {
        header.fport = frame[8 + header.fopts_len];
        header.payload_len = frame.size() - header.fopts_len - 13;
    }
    header.dev_addr = le::read(&frame[1], 4);
    header.fcnt = static_cast<std::uint16_t>(le::read(&frame[6], 2));
    read_fctrl_flags(header, fctrl, is_downlink(*type));
    return header;
}

}  // namespace trovik::lorawan
