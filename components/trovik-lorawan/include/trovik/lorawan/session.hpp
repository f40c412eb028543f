#pragma once
// LoRaWAN 1.0.x data frames under an activated session: one network session
// key for integrity and port-0 payloads, one application session key, and
// the full 32-bit frame counter in every integrity and key-stream block
// although only its low 16 bits travel.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "trovik/lorawan/error.hpp"
#include "trovik/lorawan/frame.hpp"
#include "trovik/lorawan/wor_keys.hpp"

namespace trovik::lorawan {

inline constexpr std::size_t kMaxFOpts = 15;
// A 256-byte frame less MHDR, FHDR, port and MIC.
inline constexpr std::size_t kMaxPayload = kMaxFrameSize - 13;

enum class Direction : std::uint8_t { Uplink = 0, Downlink = 1 };

struct UplinkFrame {
    std::span<const std::uint8_t> payload{};
    std::span<const std::uint8_t> fopts{};
    std::uint32_t fcnt = 0;
    std::optional<std::uint8_t> fport{};
    bool confirmed = false;
    bool adr = false;
    bool adr_ack_req = false;
    bool ack = false;
};

struct DownlinkFrame {
    std::span<const std::uint8_t> payload{};
    std::span<const std::uint8_t> fopts{};
    std::uint32_t fcnt = 0;
    std::optional<std::uint8_t> fport{};
    bool confirmed = false;
    bool adr = false;
    bool ack = false;
    bool fpending = false;
};

// A decoded data frame; its options and payload live in fixed buffers.
struct RxData {
    std::uint32_t dev_addr = 0;
    std::uint16_t fcnt = 0;
    std::optional<std::uint8_t> fport{};
    Direction direction = Direction::Uplink;
    bool confirmed = false;
    bool adr = false;
    bool adr_ack_req = false;
    bool ack = false;
    bool fpending = false;
    bool class_b = false;

    std::span<const std::uint8_t> fopts() const { return {fopts_.data(), fopts_len_}; }
    std::span<const std::uint8_t> payload() const { return {payload_.data(), payload_len_}; }

private:
    friend class Session;
    std::array<std::uint8_t, kMaxFOpts> fopts_{};
    std::size_t fopts_len_ = 0;
    std::array<std::uint8_t, kMaxPayload> payload_{};
    std::size_t payload_len_ = 0;
};

class Session {
public:
    Key nwk_skey{};
    Key app_skey{};
    std::uint32_t dev_addr = 0;

    std::expected<PhyPayload, LorawanError> encode_uplink(const UplinkFrame& frame) const;
    std::expected<PhyPayload, LorawanError> encode_downlink(const DownlinkFrame& frame) const;
    // Both encoders end here: `flags` are the FCtrl bits above the options
    // length. Without a port the payload must be empty.
    std::expected<PhyPayload, LorawanError> encode(Direction direction, std::uint8_t mhdr, std::uint8_t flags,
                                                   std::uint32_t fcnt, std::optional<std::uint8_t> fport,
                                                   std::span<const std::uint8_t> fopts,
                                                   std::span<const std::uint8_t> payload) const;

    // Checks and opens a data frame; `fcnt` is the full counter the caller
    // expects for it, whose low 16 bits must be the ones carried.
    std::expected<RxData, LorawanError> decode(std::span<const std::uint8_t> frame, std::uint32_t fcnt) const;

    Key root_wor_s_key() const { return lorawan::root_wor_s_key(nwk_skey); }
    WorKeys wor_keys() const { return WorKeys::derive(root_wor_s_key(), dev_addr); }

    friend bool operator==(const Session&, const Session&) = default;
};

// The FRMPayload cipher: the same operation encrypts and decrypts. `out`
// holds at least as many bytes as `in`; they may be the same bytes.
void crypt_payload(const Key& key, std::uint32_t dev_addr, Direction direction, std::uint32_t fcnt,
                   std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

// The four-byte integrity code of a data frame's message (the frame without
// its MIC).
std::array<std::uint8_t, 4> data_mic(const Key& nwk_skey, std::uint32_t dev_addr, Direction direction,
                                     std::uint32_t fcnt, std::span<const std::uint8_t> message);

// LoRaWAN 1.0.3 refuses a frame whose counter runs this far ahead of the last.
inline constexpr std::uint32_t kMaxFcntGap = 16384;

enum class CounterRefusal : std::uint8_t {
    Seen,         // the low 16 bits are the last counter's own
    RunOut,       // the counter has no room left for another roll-over
    TooFarAhead,  // with `limit_gap`: kMaxFcntGap or more past the last
};

// The full 32-bit counter of a frame carrying the low 16 bits `fcnt`, after
// `last` was accepted: the nearest one above it (none accepted yet: `fcnt`
// itself).
std::expected<std::uint32_t, CounterRefusal> widen_counter(std::optional<std::uint32_t> last, std::uint16_t fcnt,
                                                           bool limit_gap) noexcept;

}  // namespace trovik::lorawan
