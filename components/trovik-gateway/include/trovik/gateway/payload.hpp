#pragma once
// The JSON bodies of packet-forwarder datagrams: what a gateway heard and its
// status report (PUSH_DATA), what it is to transmit (PULL_RESP) and what
// became of a transmission (TX_ACK).
//
// Readers are lenient towards what they do not need (unknown keys ignored, an
// optional field of the wrong type counts as missing) and strict about what
// they do; every refusal is a `ProtocolError::Invalid` sentence. Writers lay
// the text out compactly with keys in byte order, frequencies divided (never
// multiplied) into megahertz.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "trovik/gateway/json.hpp"
#include "trovik/gateway/protocol_error.hpp"
#include "trovik/lora/link.hpp"
#include "trovik/lora/link_budget.hpp"

namespace trovik::gateway::udp {

struct Fsk {
    std::uint32_t bitrate_bps = 0;
    friend bool operator==(const Fsk&, const Fsk&) = default;
};
// LoRa settings (of which the wire carries the spreading factor, the
// bandwidth and the coding rate) or an FSK bitrate.
using Modulation = std::variant<lora::LinkSettings, Fsk>;

enum class CrcStatus : std::int8_t { Ok = 1, Failed = -1, Absent = 0 };

// One received packet, an entry of "rxpk".
struct Rxpk {
    std::uint32_t frequency_hz = 0;
    Modulation modulation = lora::LinkSettings(7, 125000);
    std::vector<std::uint8_t> payload;
    CrcStatus crc = CrcStatus::Absent;
    lora::Decibels rssi;                // hundredths of a dBm
    std::optional<lora::Decibels> snr;  // hundredths of a dB
    std::uint8_t channel = 0;
    std::uint8_t rf_chain = 0;
    std::optional<std::uint32_t> timestamp_us;  // the concentrator's counter
    std::optional<std::uint64_t> gps_millis;    // since 1980-01-06
    std::optional<std::string> time;            // as the gateway wrote it

    static std::expected<Rxpk, ProtocolError> from_value(const json::Value& value);
    json::Value to_value() const;
};

// The gateway's status report, the "stat" object.
struct Stat {
    std::optional<std::string> time;
    std::optional<double> latitude_deg;
    std::optional<double> longitude_deg;
    std::optional<std::int32_t> altitude_m;
    std::uint32_t received = 0;
    std::uint32_t received_ok = 0;
    std::uint32_t forwarded = 0;
    double acknowledged_percent = 0.0;
    std::uint32_t downlinks = 0;
    std::uint32_t transmitted = 0;

    // The two coordinates are written only as a pair.
    json::Value to_value() const;
};

// The PUSH_DATA body.
struct Uplink {
    std::vector<Rxpk> packets;
    std::optional<Stat> status;

    static std::expected<Uplink, ProtocolError> from_json(std::span<const std::uint8_t> body);
    // {} when there is neither a packet nor a report; the reader refuses that.
    std::string to_json() const;
};

// The PULL_RESP body: one packet to transmit.
struct Txpk {
    bool immediate = false;
    std::optional<std::uint32_t> timestamp_us;
    std::optional<std::uint64_t> gps_millis;
    std::uint32_t frequency_hz = 0;
    std::uint8_t rf_chain = 0;
    std::int8_t power_dbm = 14;
    Modulation modulation = lora::LinkSettings(7, 125000);
    std::optional<std::uint32_t> frequency_deviation_hz;  // written for FSK only
    bool invert_polarity = false;                         // written for LoRa only
    std::optional<std::uint16_t> preamble_symbols;
    bool without_crc = false;
    std::vector<std::uint8_t> payload;

    static std::expected<Txpk, ProtocolError> from_json(std::span<const std::uint8_t> body);
    // {"txpk":{...}}
    std::string to_json() const;
};

// What a TX_ACK reports.
enum class TxStatus : std::uint8_t {
    None = 0,
    TooLate = 1,
    TooEarly = 2,
    CollisionPacket = 3,
    CollisionBeacon = 4,
    TxFreq = 5,
    TxPower = 6,
    GpsUnlocked = 7,
};

// "NONE", "TOO_LATE", ...
std::string_view tx_status_name(TxStatus status) noexcept;
// The status of an exact, case-sensitive name.
std::optional<TxStatus> tx_status_named(std::string_view name) noexcept;
// An empty body, or one of white space only, is NONE.
std::expected<TxStatus, ProtocolError> tx_status_from_json(std::span<const std::uint8_t> body);
// {"txpk_ack":{"error":"NONE"}}: never empty.
std::string tx_status_to_json(TxStatus status);

}  // namespace trovik::gateway::udp
