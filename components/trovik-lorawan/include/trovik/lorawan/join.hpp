#pragma once
// Over-the-air activation, LoRaWAN 1.0.x, on the device's side: the join
// request it broadcasts and the join accept it turns into a session.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/lorawan/cflist.hpp"
#include "trovik/lorawan/error.hpp"
#include "trovik/lorawan/frame.hpp"
#include "trovik/lorawan/session.hpp"

namespace trovik::lorawan {

// An EUI, most significant byte first; the wire carries it reversed.
using Eui = std::array<std::uint8_t, 8>;

inline constexpr std::size_t kJoinRequestSize = 23;
inline constexpr std::size_t kJoinAcceptSize = 17;
inline constexpr std::size_t kJoinAcceptWithListSize = 33;

struct JoinAccept {
    Session session;
    std::uint32_t net_id = 0;  // 24 bits
    std::uint32_t dev_addr = 0;
    std::uint8_t dl_settings = 0;
    std::uint8_t rx_delay = 0;
    std::optional<CfList> cflist{};
};

struct Device {
    Key app_key{};
    Eui dev_eui{};
    Eui app_eui{};

    PhyPayload join_request(std::uint16_t dev_nonce) const;
    // `dev_nonce` is the one the answered request carried. The accept's MIC
    // does not cover it: a wrong one gives wrong keys, not an error.
    std::expected<JoinAccept, LorawanError> accept_join(std::span<const std::uint8_t> frame,
                                                        std::uint16_t dev_nonce) const;
};

// The LoRaWAN 1.0 session keys both ends derive from the AppKey; only the
// low 24 bits of the nonce and NetID enter them.
Session derive_session(const Key& app_key, std::uint32_t app_nonce, std::uint32_t net_id, std::uint16_t dev_nonce,
                       std::uint32_t dev_addr);

}  // namespace trovik::lorawan
