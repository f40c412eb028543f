#include <algorithm>

#include "relay_blocks.hpp"
#include "trovik/lorawan/relay/forward.hpp"

namespace trovik::lorawan::relay {
namespace {

using Kind = LorawanError::Kind;

}  // namespace

std::expected<ForwardedUplink, LorawanError> ForwardedUplink::parse(std::span<const std::uint8_t> payload) {
    if (payload.size() < kForwardOverhead) return std::unexpected(LorawanError{Kind::TooShort});
    const std::uint8_t channel = payload[2] & 0x03;
    if (channel > 1) return std::unexpected(LorawanError{Kind::Malformed});
    const std::uint32_t m = le::read(payload.data(), 2);
    ForwardedUplink up;
    up.data_rate = static_cast<std::uint8_t>(m & 0x0F);
    up.snr_db = static_cast<std::int8_t>(static_cast<int>((m >> 4) & 0x1F) - 20);
    up.rssi_dbm = static_cast<std::int16_t>(-15 - static_cast<int>(m >> 9));
    up.wor_channel = static_cast<WorChannel>(channel);
    up.frequency_hz = frequency::read(&payload[3]);
    up.phy_payload = payload.subspan(kForwardOverhead);
    return up;
}

std::expected<std::size_t, LorawanError> ForwardedUplink::encode(std::span<std::uint8_t> out) const {
    const std::size_t size = kForwardOverhead + phy_payload.size();
    if (out.size() < size) return std::unexpected(LorawanError{Kind::PayloadTooLarge});
    // A channel code past "second" would make a payload no reader accepts.
    if (!Carrier{frequency_hz, data_rate}.valid() || static_cast<std::uint8_t>(wor_channel) > 1)
        return std::unexpected(LorawanError{Kind::Malformed});
    const int snr = std::clamp<int>(snr_db, -20, 11);
    const int rssi = std::clamp<int>(rssi_dbm, -142, -15);
    const std::uint32_t metadata = std::uint32_t{data_rate} | static_cast<std::uint32_t>(snr + 20) << 4 |
                                   static_cast<std::uint32_t>(-rssi - 15) << 9 |
                                   static_cast<std::uint32_t>(wor_channel) << 16;
    le::write(out.data(), metadata, 3);
    frequency::write(&out[3], frequency_hz);
    std::ranges::copy(phy_payload, out.begin() + kForwardOverhead);
    return size;
}

}  // namespace trovik::lorawan::relay
