#pragma once
// The Python faces of the packet-forwarder records that other binding
// sources share (the one-site network takes received packets and returns
// packets to transmit): the values the Python objects hold and the
// converters between them and the core records.
//
// The objects keep their fields exactly as the caller gave them; names and
// identifiers are checked only when a record is converted, with `ValueError`.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "binding/convert.hpp"
#include "trovik/gateway/payload.hpp"
#include "trovik/lora/link.hpp"

namespace trovik::py {

// What a Python `GatewayRxpk` holds.
struct GatewayRxpkValue {
    std::uint32_t frequency_hz;
    std::vector<std::uint8_t> payload;
    std::optional<lora::LinkSettings> link;
    std::optional<std::uint32_t> bitrate_bps;
    std::string crc;
    double rssi_dbm;
    std::optional<double> snr_db;
    std::uint8_t channel;
    std::uint8_t rf_chain;
    std::optional<std::uint32_t> timestamp_us;
    std::optional<std::uint64_t> received_at_us;
    std::optional<std::uint64_t> gps_millis;
};

// What a Python `GatewayTxpk` holds; `immediate` is already decided.
struct GatewayTxpkValue {
    std::uint32_t frequency_hz;
    std::vector<std::uint8_t> payload;
    std::optional<lora::LinkSettings> link;
    std::optional<std::uint32_t> bitrate_bps;
    bool immediate;
    std::optional<std::uint32_t> timestamp_us;
    std::optional<std::uint64_t> gps_millis;
    std::uint8_t rf_chain;
    std::int8_t power_dbm;
    std::optional<std::uint32_t> frequency_deviation_hz;
    bool invert_polarity;
    std::optional<std::uint16_t> preamble_symbols;
    bool without_crc;
};

// FSK when a bitrate is given, else the link's settings, else SF7 at 125 kHz.
gateway::udp::Modulation modulation_of(const std::optional<lora::LinkSettings>& link,
                                       std::optional<std::uint32_t> bitrate_bps);

// The core record of a `GatewayRxpk`; `ValueError` for an unknown CRC name.
gateway::udp::Rxpk rxpk_of(const GatewayRxpkValue& rxpk);
// The core record of a `GatewayTxpk`; cannot fail.
gateway::udp::Txpk txpk_of(const GatewayTxpkValue& txpk);

// New Python objects for core records.
PyObject* rxpk_to_py(const gateway::udp::Rxpk& rxpk);
PyObject* txpk_to_py(const gateway::udp::Txpk& txpk);

}  // namespace trovik::py
