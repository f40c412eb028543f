#pragma once
// The JSON messages a Basics Station and its network server exchange over
// their websocket, in both directions, so one codec serves a program acting
// as either side.
//
// The writer never fails. The reader is lenient about numbers (a missing or
// ill-typed number reads as its default, an out-of-range one keeps its low
// bits) and strict about what a frame cannot do without: the envelope,
// identifiers and hexadecimal byte fields.
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "trovik/codec/json.hpp"
#include "trovik/gateway/station_fields.hpp"
#include "trovik/gateway/station_id.hpp"

namespace trovik::gateway::station {

using Bytes = std::vector<std::uint8_t>;

// How a station heard an uplink: the upinfo object.
struct Levels {
    std::int64_t rctx = 0;   // the radio context an answer goes back out on
    std::int64_t xtime = 0;  // station clock, microseconds
    std::optional<std::int64_t> gpstime;
    double rssi = 0.0;  // dBm
    double snr = 0.0;   // dB

    codec::json::Value to_value() const;
    // Takes the value found under "upinfo", or nothing; anything but an
    // object reads as the defaults.
    static Levels from_value(const codec::json::Value* value);
};

// One frame of a dnsched schedule.
struct Broadcast {
    std::optional<std::int64_t> gpstime;
    std::optional<std::int64_t> rctx;
    Bytes pdu;
    std::uint32_t frequency_hz = 0;
    std::uint8_t data_rate = 0;
    std::uint8_t priority = 0;

    codec::json::Value to_value() const;
};

// A receive window, or the ping slot of a class B downlink.
struct Window {
    std::uint8_t data_rate = 0;
    std::uint32_t frequency_hz = 0;

    friend bool operator==(const Window&, const Window&) = default;
};

// One defined entry of a configuration's data-rate table.
struct DataRate {
    std::uint8_t spreading_factor = 0;  // 0 for FSK
    std::uint32_t bandwidth_hz = 0;
    bool downlink_only = false;

    friend bool operator==(const DataRate&, const DataRate&) = default;
};

// JoinEUIs as big-endian numbers, both ends included.
struct JoinRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;

    friend bool operator==(const JoinRange&, const JoinRange&) = default;
};

// The station describes itself.
struct Version {
    std::string station;
    std::string firmware;
    std::string package;
    std::string model;
    std::uint32_t protocol = 0;
    std::string features;
};

// The server configures the station.
struct RouterConfig {
    // Absent forwards every network's data frames; an empty list none.
    std::optional<std::vector<std::uint32_t>> net_id;
    std::vector<JoinRange> join_eui_ranges;
    std::string region;
    double max_eirp = 0.0;  // dBm
    std::string hwspec;
    std::uint32_t freq_min = 0;
    std::uint32_t freq_max = 0;
    // Indexed by data-rate number; an undefined number is nothing.
    std::vector<std::optional<DataRate>> data_rates;
};

struct JoinRequest {
    std::uint8_t mhdr = 0;
    Identifier join_eui = 0;
    Identifier dev_eui = 0;
    std::uint16_t dev_nonce = 0;
    std::int32_t mic = 0;
    std::uint8_t data_rate = 0;
    std::uint32_t frequency_hz = 0;
    Levels levels;
};

struct DataUplink {
    std::uint8_t mhdr = 0;
    std::int32_t dev_addr = 0;
    std::uint8_t fctrl = 0;
    std::uint16_t fcnt = 0;  // the sixteen bits on the air
    Bytes fopts;
    std::optional<std::uint8_t> fport;
    Bytes payload;  // still encrypted
    std::int32_t mic = 0;
    std::uint8_t data_rate = 0;
    std::uint32_t frequency_hz = 0;
    Levels levels;
};

struct ProprietaryUplink {
    Bytes payload;  // the whole frame
    std::uint8_t data_rate = 0;
    std::uint32_t frequency_hz = 0;
    Levels levels;
};

struct Downlink {
    Identifier dev_eui = 0;
    std::uint8_t class_ = 0;  // 0 for A, 1 for B, 2 for C
    std::int64_t diid = 0;
    Bytes payload;  // the frame to transmit, "pdu" on the wire
    std::optional<std::uint8_t> rx_delay;
    std::optional<Window> rx1;
    std::optional<Window> rx2;
    std::optional<Window> ping_slot;
    std::uint8_t priority = 0;
    std::optional<std::int64_t> xtime;
    std::optional<std::int64_t> rctx;
    std::optional<std::int64_t> gpstime;
};

struct Schedule {
    std::vector<Broadcast> schedule;
};

// The station reports a transmission.
struct Transmitted {
    std::int64_t diid = 0;
    Identifier dev_eui = 0;
    std::int64_t rctx = 0;
    std::int64_t xtime = 0;
    double txtime = 0.0;  // seconds
    std::optional<std::int64_t> gpstime;
};

struct TimeSync {
    std::optional<std::int64_t> txtime;  // microseconds of station time
    std::optional<std::int64_t> xtime;
    std::optional<std::int64_t> gpstime;  // microseconds since the GPS epoch
};

// Any kind not listed above, kept by its name and nothing else.
struct OtherKind {
    std::string msgtype;
};

struct Message {
    std::variant<Version, RouterConfig, JoinRequest, DataUplink, ProprietaryUplink, Downlink, Schedule, Transmitted,
                 TimeSync, OtherKind>
        kind;

    // The "msgtype" this message travels under.
    std::string_view msgtype() const;

    // Compact, keys in ascending byte order at every level.
    std::string to_json() const;
    static std::expected<Message, udp::ProtocolError> from_json(std::string_view text);

    // The uplink message reporting a LoRaWAN frame the radio heard: a jreq,
    // updf or propdf. Nothing is verified or decrypted; only the frame's kind
    // and length can make it unreportable.
    static std::expected<Message, udp::ProtocolError> heard(std::span<const std::uint8_t> frame, std::uint8_t data_rate,
                                                            std::uint32_t frequency_hz, const Levels& levels);
};

}  // namespace trovik::gateway::station
