#pragma once
// The keys of one end device's relayed wake-on-radio frames, derived from
// its network session key (TS011-1.0.1 sections 4.4 and 4.5).
#include <array>
#include <cstdint>

namespace trovik::lorawan {

using Key = std::array<std::uint8_t, 16>;

// RootWorSKey.
Key root_wor_s_key(const Key& nwk_skey);

struct WorKeys {
    Key integrity{};   // WorSIntKey
    Key encryption{};  // WorSEncKey

    static WorKeys derive(const Key& root_wor_s_key, std::uint32_t dev_addr);
    friend bool operator==(const WorKeys&, const WorKeys&) = default;
};

}  // namespace trovik::lorawan
