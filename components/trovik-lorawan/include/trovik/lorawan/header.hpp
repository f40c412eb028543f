#pragma once
// The header of a LoRaWAN frame, read without any key: enough to route it.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "trovik/lorawan/error.hpp"

namespace trovik::lorawan {

// Our numbering of the message types; the wire codes of UnconfirmedDown (011)
// and ConfirmedUp (100) are in the other order.
enum class MType : std::uint8_t {
    JoinRequest,
    JoinAccept,
    UnconfirmedUp,
    ConfirmedUp,
    UnconfirmedDown,
    ConfirmedDown,
};

// The type of an MHDR byte; none for the proprietary and reserved codes.
std::optional<MType> mtype_of(std::uint8_t mhdr) noexcept;
std::string_view name(MType type) noexcept;
constexpr bool is_data(MType t) noexcept { return t != MType::JoinRequest && t != MType::JoinAccept; }
constexpr bool is_downlink(MType t) noexcept { return t == MType::UnconfirmedDown || t == MType::ConfirmedDown; }
constexpr bool is_confirmed(MType t) noexcept { return t == MType::ConfirmedUp || t == MType::ConfirmedDown; }

// The least a data frame holds: MHDR, DevAddr, FCtrl, FCnt and the MIC.
inline constexpr std::size_t kMinDataFrame = 12;

struct FrameHeader {
    MType message_type = MType::JoinRequest;
    std::optional<std::uint32_t> dev_addr;
    std::uint8_t fopts_len = 0;
    std::size_t payload_len = 0;
    std::optional<std::uint16_t> fcnt;
    std::optional<std::uint8_t> fport;
    bool adr = false;
    bool adr_ack_req = false;
    bool ack = false;
    bool fpending = false;
    bool class_b = false;

    static std::expected<FrameHeader, LorawanError> parse(std::span<const std::uint8_t> frame);
};

}  // namespace trovik::lorawan
