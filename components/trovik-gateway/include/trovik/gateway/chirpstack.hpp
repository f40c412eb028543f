#pragma once
// ChirpStack (v4) uplink events, the JSON a network server publishes on MQTT
// for every uplink it has deduplicated. Fields protobuf's JSON mapping
// leaves out when they hold their default read as that default.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trovik/gateway/eui.hpp"

namespace trovik::gateway::chirpstack {

// Why an event was refused.
struct EventError {
    enum class Kind : std::uint8_t { NotAnObject, Missing, Invalid };
    Kind kind;
    std::string detail;  // the reader's description, or the field's dotted path

    // "the event is not a JSON object: {}", "the event has no {}",
    // "the event's {} is not valid".
    std::string message() const;
};

// One gateway that heard the uplink.
struct Reception {
    Eui gateway;
    std::int32_t rssi_dbm = 0;
    float snr_db = 0.0f;
};

struct UplinkEvent {
    Eui dev_eui;
    std::optional<std::uint32_t> dev_addr;
    std::string deduplication_id;
    std::optional<std::string> time;  // as the event wrote it
    std::string application_id;
    std::string device_name;
    std::vector<std::uint8_t> data;
    std::vector<Reception> receptions;
    std::optional<std::uint32_t> frequency_hz;
    std::uint32_t fcnt = 0;
    std::optional<std::uint8_t> fport;
    bool adr = false;
    bool confirmed = false;
    std::uint8_t data_rate = 0;

    static std::expected<UplinkEvent, EventError> from_json(std::string_view text);

    // The reception with the greatest SNR in the total order of floats
    // (-0.0 below +0.0), the last of equals; nothing without receptions.
    const Reception* best_reception() const noexcept;
};

// "application/{id}/device/+/event/up", the identifier inserted unchanged.
std::string uplink_topic(std::string_view application_id);

}  // namespace trovik::gateway::chirpstack
