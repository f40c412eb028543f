#pragma once
// Over-the-air activation, LoRaWAN 1.0.x, on the network's side: checking a
// join request and answering it with a join accept.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/lorawan/cflist.hpp"
#include "trovik/lorawan/join.hpp"

namespace trovik::lorawan {

// A join request whose integrity was checked. Whether its DevNonce was seen
// before is the caller's record to keep.
struct JoinRequest {
    Eui dev_eui{};
    Eui app_eui{};
    std::uint16_t dev_nonce = 0;

    static std::expected<JoinRequest, LorawanError> parse(std::span<const std::uint8_t> frame, const Key& app_key);
};

// What a network grants: AppNonce and NetID lose their top byte on the air
// and in the keys, while the grant keeps the numbers as given.
struct JoinGrant {
    std::uint32_t app_nonce = 0;
    std::uint32_t net_id = 0;
    std::uint32_t dev_addr = 0;
    std::optional<CfList> cflist{};
    std::uint8_t dl_settings = 0;
    std::uint8_t rx_delay = 0;

    PhyPayload accept(const Key& app_key) const;
    Session session(const Key& app_key, std::uint16_t dev_nonce) const;
};

}  // namespace trovik::lorawan
