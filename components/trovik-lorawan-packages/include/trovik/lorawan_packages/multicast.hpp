#pragma once
// The remote multicast setup package (port 200): its commands, and the key
// chain that hands a device a group's keys.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "trovik/lorawan_packages/command.hpp"

namespace trovik::lorawan::packages::multicast {

enum class McKind : std::uint8_t {
    PackageVersionReq,
    PackageVersionAns,
    GroupStatusReq,
    GroupStatusAns,
    GroupStatusItem,  // a group record after a status answer: no identifier
    GroupSetupReq,
    GroupSetupAns,
    GroupDeleteReq,
    GroupDeleteAns,
    ClassCSessionReq,
    ClassCSessionAns,
    ClassBSessionReq,
    ClassBSessionAns,
};

// One command: the kind says which of the fields it carries; the others
// stay at their defaults.
struct McCommand {
    McKind kind = McKind::PackageVersionReq;
    std::uint8_t package = 0;
    std::uint8_t version = 0;
    std::uint8_t group_mask = 0;
    std::uint8_t nb_total_groups = 0;
    std::uint8_t mc_group_id = 0;
    std::uint32_t mc_addr = 0;
    std::array<std::uint8_t, 16> mc_key_encrypted{};
    std::uint32_t min_mc_fcnt = 0;
    std::uint32_t max_mc_fcnt = 0;
    bool id_error = false;
    bool no_session = false;
    std::uint32_t session_time = 0;
    std::uint8_t time_out = 0;
    std::uint8_t periodicity = 0;
    std::uint32_t dl_frequency_hz = 0;
    std::uint8_t data_rate = 0;
    bool dr_error = false;
    bool freq_error = false;
    bool start_missed = false;
    std::optional<std::uint32_t> time_to_start{};

    static ParseResult<McCommand> parse(Direction direction, std::span<const std::uint8_t> payload);
    // The five-byte group record, which has no identifier of its own.
    static ParseResult<McCommand> parse_status_item(std::span<const std::uint8_t> payload);
    // Refuses what `parse` would refuse: a session answer with no error and
    // no start time.
    EncodeResult encode(std::span<std::uint8_t> out) const;
};

using Key = std::array<std::uint8_t, 16>;
using KeyView = std::span<const std::uint8_t, 16>;

// The device's multicast root key, from its GenAppKey (LoRaWAN 1.0.x) or its
// AppKey (1.1).
Key mc_root_key_for(KeyView key, bool lorawan11);
Key mc_ke_key(KeyView mc_root_key);
// Unwraps a setup command's group key, and the server's inverse.
Key mc_key(KeyView mc_ke_key, KeyView wrapped);
Key wrap_mc_key(KeyView mc_ke_key, KeyView mc_key);
Key mc_app_s_key(KeyView mc_key, std::uint32_t mc_addr);
Key mc_nwk_s_key(KeyView mc_key, std::uint32_t mc_addr);

}  // namespace trovik::lorawan::packages::multicast
