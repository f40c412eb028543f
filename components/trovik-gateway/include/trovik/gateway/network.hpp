#pragma once
// The network server of one site: what a LoRaWAN network server does with
// the packets one gateway forwards. It admits the joins of registered
// devices (LoRaWAN 1.0.3 and 1.0.4, over the air), keeps one session per
// device, decodes and counts data uplinks, handles the relays of TS011-1.0.1
// and builds the downlinks that answer in the first receive window.
//
// No I/O and no clock: the caller hands over each packet a gateway heard and
// sends the packets returned. Every time is the concentrator's own
// microsecond counter, as the gateway reports it.
#include <cstdint>
#include <cstring>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "trovik/gateway/payload.hpp"
#include "trovik/lora/channel_plan.hpp"
#include "trovik/lora/link.hpp"
#include "trovik/lorawan/error.hpp"
#include "trovik/lorawan/header.hpp"
#include "trovik/lorawan/join.hpp"
#include "trovik/lorawan/mac_command.hpp"
#include "trovik/lorawan/relay/codes.hpp"
#include "trovik/lorawan/session.hpp"

namespace trovik::gateway::network {

using lorawan::Eui;  // most significant byte first, as an EUI is written
using lorawan::Key;

// The link-layer revision a device follows.
enum class Version : std::uint8_t { V1_0_3, V1_0_4 };

using lorawan::kMaxFcntGap;

// A device allowed to join.
struct Registration {
    Version version = Version::V1_0_4;
    Eui dev_eui{};
    Eui app_eui{};  // kept, never compared
    Key app_key{};
};

struct NetworkError;

// A joined device.
struct Admitted {
    std::optional<std::uint32_t> last_fcnt;  // the full counter of the last data frame accepted
    std::optional<std::uint32_t> relay;      // the relay it was last heard through
    Eui dev_eui{};
    std::uint32_t dev_addr = 0;
    lorawan::Session session;
    std::uint32_t fcnt_down = 0;  // carried by the next downlink
    Version version = Version::V1_0_4;

    // The full 32-bit counter of an uplink carrying the 16-bit `fcnt`, or why
    // it cannot be one: seen already, past the last roll-over the counter
    // has room for, or (1.0.3) too far ahead.
    std::expected<std::uint32_t, NetworkError> uplink_counter(std::uint16_t fcnt) const;
};

// A device a relay heard and could not verify (TS011-1.0.1 section 10.7).
struct Notice {
    std::uint32_t relay = 0;
    std::uint32_t dev_addr = 0;
    std::int16_t rssi_dbm = 0;
    std::int8_t snr_db = 0;
};

// Where and when a downlink answers an uplink, in the concentrator's terms.
struct Slot {
    std::uint32_t timestamp_us = 0;
    std::uint32_t frequency_hz = 0;
    lora::LinkSettings link = lora::LinkSettings(7, 125000);
};

// What a relay added to an uplink it forwarded (TS011-1.0.1 section 9.1).
struct Relayed {
    std::uint32_t relay = 0;
    std::uint32_t frequency_hz = 0;
    std::int16_t rssi_dbm = 0;
    std::int8_t snr_db = 0;
    std::uint8_t data_rate = 0;
    lorawan::relay::WorChannel wor_channel = lorawan::relay::WorChannel::Default;
};

struct Joined {
    udp::Txpk accept;
    Eui dev_eui{};
    std::uint32_t dev_addr = 0;
};

struct Data {
    std::vector<std::uint8_t> payload;  // decrypted; empty without a port
    std::optional<Relayed> relayed;
    Slot slot;
    std::uint32_t dev_addr = 0;
    std::uint32_t fcnt = 0;  // widened to its full width
    std::optional<std::uint8_t> fport;
    bool confirmed = false;
};

// A data frame claiming an address no joined device has.
struct Foreign {
    std::uint32_t dev_addr = 0;
};

using Event = std::variant<Joined, Data, Foreign>;

// A join request whose DevNonce the device used before: any earlier one for
// a 1.0.3 device, one not above the last for a 1.0.4 device.
struct NonceReplay {
    Eui dev_eui{};
    std::uint16_t dev_nonce = 0;
    std::optional<std::uint16_t> last;  // 1.0.4: the largest accepted so far
};

// Why the network refused a packet or a request.
struct NetworkError {
    enum class Kind : std::uint8_t {
        RelayRefused,
        NotLora,
        Refused,
        NoKey,
        AlreadySeen,
        TooFarAhead,
        CounterRunOut,
        NoDataRate,
        NoFirstWindow,
        NoSession,
    };
    Kind kind = Kind::NoKey;
    lorawan::LorawanError frame{lorawan::LorawanError::Kind::Malformed};  // RelayRefused, Refused
    std::optional<NonceReplay> replay;  // Refused for a reused DevNonce, in place of `frame`
    std::uint32_t dev_addr = 0;
    std::uint32_t last = 0;  // AlreadySeen, TooFarAhead
    std::uint32_t fcnt = 0;  // TooFarAhead

    static NetworkError of(Kind kind) {
        NetworkError e;
        e.kind = kind;
        return e;
    }
    static NetworkError refused(lorawan::LorawanError frame) {
        NetworkError e = of(Kind::Refused);
        e.frame = frame;
        return e;
    }
    static NetworkError relay_refused(lorawan::LorawanError frame) {
        NetworkError e = of(Kind::RelayRefused);
        e.frame = frame;
        return e;
    }
    static NetworkError for_address(Kind kind, std::uint32_t dev_addr) {
        NetworkError e = of(kind);
        e.dev_addr = dev_addr;
        return e;
    }

    std::string message() const;
};

// RX1 of every uplink on a fixed set of downlink channels: first_hz +
// (uplink channel mod count) x step_hz.
struct Downstream {
    std::uint32_t first_hz = 0;
    std::uint32_t step_hz = 0;
    std::uint16_t count = 1;
};

// How a network is set up; the defaults are those of a network given only
// its plan and NetID.
struct Settings {
    std::uint32_t net_id = 0;
    std::optional<Downstream> downstream{};      // none: RX1 follows the plan
    std::uint32_t receive_delay_us = 1'000'000;  // from an uplink to RX1
    std::uint32_t join_delay_us = 5'000'000;     // from a join request to its accept
    std::uint8_t rx1_data_rate_offset = 0;       // used and granted
    std::uint32_t first_dev_addr = 1;
};

// Settings a network cannot run with.
struct SettingsError {
    enum class Kind : std::uint8_t { DownstreamCount, Rx1Offset };
    Kind kind;
    std::uint8_t offset = 0;  // Rx1Offset: the one asked for
    std::uint8_t max = 0;     // Rx1Offset: the plan's largest

    std::string message() const;
};

// The packet a gateway is asked to send for every downlink of the network:
// at the slot's time, frequency and settings, inverted polarity, 14 dBm, RF
// chain 0, with a CRC.
udp::Txpk downlink_record(const Slot& slot, std::vector<std::uint8_t> frame);

class Network {
public:
    // Keeps what it needs of the plan; the plan itself is not referred to
    // afterward.
    static std::expected<Network, SettingsError> make(const lora::ChannelPlan& plan, const Settings& settings);

    // Registrations are only ever appended; a later one for the same DevEUI
    // is tried after the earlier ones.
    void register_device(const Registration& registration);

    // What a heard packet (the whole PHYPayload) turned out to be.
    std::expected<Event, NetworkError> uplink(const udp::Rxpk& heard);

    // An encrypted application downlink to a device, for the slot of its
    // uplink; wrapped for its relay when it was last heard through one.
    std::expected<udp::Txpk, NetworkError> answer(std::uint32_t dev_addr, const Slot& slot, std::uint8_t fport,
                                                  std::span<const std::uint8_t> payload);
    // A downlink of MAC commands: in FOpts up to 15 bytes, else on port 0.
    std::expected<udp::Txpk, NetworkError> command(std::uint32_t dev_addr, const Slot& slot,
                                                   std::span<const lorawan::MacCommand> commands);
    // The UpdateUplinkListReq that makes a relay trust the device at `dev_addr`.
    std::expected<lorawan::MacCommand, NetworkError> trust_command(std::uint32_t dev_addr, std::uint8_t index,
                                                                   std::uint8_t reload_rate,
                                                                   std::uint8_t bucket_size) const;

    // The relay reports collected since the last call, oldest first.
    std::vector<Notice> take_notices();

    // The pieces `uplink` is made of, open for the owner's own paths. A
    // device not yet joined listens at RX1 offset 0, so the slot of a direct
    // join accept (`before_join`) takes that offset rather than the
    // network's.
    std::expected<Slot, NetworkError> slot(const udp::Rxpk& heard, const lora::LinkSettings& link,
                                           std::uint32_t delay_us, bool before_join = false) const;
    std::expected<Event, NetworkError> admit_frame(std::span<const std::uint8_t> frame, const Slot& slot,
                                                   std::optional<std::uint32_t> relay);
    std::expected<std::vector<std::uint8_t>, NetworkError> wrap_for_relay(std::uint32_t relay,
                                                                          std::span<const std::uint8_t> frame);

    // The first joined device with this address, or the one with this DevEUI.
    const Admitted* admitted(std::uint32_t dev_addr) const;
    const Admitted* admitted(const Eui& dev_eui) const;
    std::size_t admitted_count() const noexcept { return admitted_.size(); }
    std::uint32_t next_dev_addr() const noexcept { return next_dev_addr_; }
    std::uint32_t next_join_nonce() const noexcept { return next_join_nonce_; }
    const Settings& settings() const noexcept { return settings_; }

    // The uplink data rate of heard settings, by spreading factor and bandwidth.
    std::optional<std::uint8_t> data_rate_of(const lora::LinkSettings& link) const noexcept;
    // The uplink channel of a frequency among the plan's default channels.
    std::optional<std::uint16_t> channel_of(std::uint32_t frequency_hz) const noexcept;

private:
    struct EuiHash {
        std::size_t operator()(const Eui& eui) const noexcept {
            std::uint64_t v;
            std::memcpy(&v, eui.data(), sizeof v);
            return std::hash<std::uint64_t>{}(v);
        }
    };
    struct UplinkRate {
        std::uint8_t spreading_factor;
        std::uint32_t bandwidth_hz;
        std::uint8_t data_rate;
    };
    // The DevNonces a device joined with.
    struct Nonces {
        std::vector<std::uint16_t> seen;  // sorted
        std::optional<std::uint16_t> largest;
    };

    Network() = default;
    std::expected<Event, NetworkError> data(const udp::Rxpk& heard, const lora::LinkSettings& link,
                                            std::span<const std::uint8_t> frame, const lorawan::FrameHeader& header);
    std::expected<Event, NetworkError> forwarded(std::uint32_t relay, std::span<const std::uint8_t> payload,
                                                 const Slot& slot);
    void collect_notices(std::uint32_t dev_addr, const lorawan::RxData& rx);
    Admitted* find(std::uint32_t dev_addr);
    void remove(const Eui& dev_eui);

    Settings settings_;
    std::uint32_t next_dev_addr_ = 1;
    std::uint32_t next_join_nonce_ = 1;

    // What the plan answers, worked out once.
    std::vector<UplinkRate> uplink_rates_;
    std::vector<std::optional<lora::LinkSettings>> rx1_;          // per uplink data rate, at the network's offset
    std::vector<std::optional<lora::LinkSettings>> rx1_at_zero_;  // the same at offset 0, for direct joins
    std::uint8_t rx2_data_rate_ = 0;
    std::vector<lora::ChannelBlock> default_channels_;
    std::vector<lora::ChannelBlock> downlink_channels_;

    std::vector<Registration> registrations_;
    std::unordered_map<Eui, std::vector<std::size_t>, EuiHash> registered_;  // registration indexes, in order
    std::unordered_map<Eui, Nonces, EuiHash> nonces_;

    // Joined devices keyed by the order they joined in; a lookup by address
    // takes the earliest, as a walk of the list in join order would.
    std::uint64_t joins_ = 0;
    std::unordered_map<std::uint64_t, Admitted> admitted_;
    std::unordered_map<std::uint32_t, std::vector<std::uint64_t>> by_addr_;
    std::unordered_map<Eui, std::uint64_t, EuiHash> by_eui_;

    std::vector<Notice> notices_;
};

}  // namespace trovik::gateway::network
