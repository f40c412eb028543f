#include "trovik/gateway/chirpstack.hpp"

#include <bit>
#include <limits>

#include "trovik/core/number_text.hpp"
#include "trovik/gateway/base64.hpp"
#include "trovik/gateway/json.hpp"

namespace trovik::gateway::chirpstack {
namespace {

using json::Object;
using json::Value;

std::unexpected<EventError> invalid(std::string_view path) {
    return std::unexpected(EventError{EventError::Kind::Invalid, std::string(path)});
}

// An integer as written (no fraction, no exponent) within 0..max; nothing
// for a missing key or null. Protobuf's mapping writes these as plain
// integers, so 5.0 is not one.
template <class Uint>
std::expected<std::optional<Uint>, EventError> whole(const Object& object, std::string_view key,
                                                     std::string_view path) {
    const Value* value = json::find(object, key);
    if (!value || std::holds_alternative<std::nullptr_t>(value->data)) return std::optional<Uint>{};
    if (const auto* n = std::get_if<std::uint64_t>(&value->data); n && *n <= std::numeric_limits<Uint>::max())
        return std::optional<Uint>{static_cast<Uint>(*n)};
    return invalid(path);
}

std::optional<std::string> text_field(const Object& object, std::string_view key) {
    const std::string* text = json::string_at(object, key);
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

std::expected<Reception, EventError> reception_of(const Value& element) {
    const auto* o = std::get_if<Object>(&element.data);
    if (!o) return invalid("rxInfo");
    Reception reception;
    const std::string* gateway = json::string_at(*o, "gatewayId");
    const auto eui = gateway ? Eui::from_hex(*gateway) : std::nullopt;
    if (!eui) return invalid("rxInfo.gatewayId");
    reception.gateway = *eui;
    if (const Value* rssi = json::find(*o, "rssi"); rssi && !std::holds_alternative<std::nullptr_t>(rssi->data)) {
        constexpr auto low = std::numeric_limits<std::int32_t>::min();
        constexpr auto high = std::numeric_limits<std::int32_t>::max();
        if (const auto* u = std::get_if<std::uint64_t>(&rssi->data); u && *u <= std::uint64_t{high})
            reception.rssi_dbm = static_cast<std::int32_t>(*u);
        else if (const auto* i = std::get_if<std::int64_t>(&rssi->data); i && *i >= low && *i <= high)
            reception.rssi_dbm = static_cast<std::int32_t>(*i);
        else
            return invalid("rxInfo.rssi");
    }
    // Narrowed to single precision as the event's protobuf field is; a double
    // beyond the float range becomes an infinity, which is defined.
    reception.snr_db = static_cast<float>(json::number_at(*o, "snr").value_or(0.0));
    return reception;
}

}  // namespace

std::string EventError::message() const {
    switch (kind) {
        case Kind::NotAnObject: return "the event is not a JSON object: " + detail;
        case Kind::Missing: return "the event has no " + detail;
        case Kind::Invalid: return "the event's " + detail + " is not valid";
    }
    return detail;
}

std::expected<UplinkEvent, EventError> UplinkEvent::from_json(std::string_view text) {
    const auto value = codec::json::parse(text);
    if (!value) return std::unexpected(EventError{EventError::Kind::NotAnObject, value.error().message});
    const auto* top = std::get_if<Object>(&value->data);
    if (!top) return std::unexpected(EventError{EventError::Kind::NotAnObject, "the top level is not an object"});

    UplinkEvent event;
    const Value* device_value = json::find(*top, "deviceInfo");
    if (!device_value) return std::unexpected(EventError{EventError::Kind::Missing, "deviceInfo.devEui"});
    const auto* device = std::get_if<Object>(&device_value->data);
    if (!device) return invalid("deviceInfo");
    const std::string* dev_eui = json::string_at(*device, "devEui");
    if (!dev_eui) return std::unexpected(EventError{EventError::Kind::Missing, "deviceInfo.devEui"});
    const auto eui = Eui::from_hex(*dev_eui);
    if (!eui) return invalid("deviceInfo.devEui");
    event.dev_eui = *eui;

    if (const std::string* dev_addr = json::string_at(*top, "devAddr")) {
        const auto addr = core::number_text::parse_unsigned(*dev_addr, 16, 0xFFFFFFFF);
        if (!addr) return invalid("devAddr");
        event.dev_addr = static_cast<std::uint32_t>(*addr);
    }
    if (const std::string* data = json::string_at(*top, "data")) {
        auto bytes = base64::decode(*data);
        if (!bytes) return invalid("data");
        event.data = std::move(*bytes);
    }
    if (const json::Array* rx_info = json::array_at(*top, "rxInfo")) {
        event.receptions.reserve(rx_info->size());
        for (const Value& element : *rx_info) {
            auto reception = reception_of(element);
            if (!reception) return std::unexpected(reception.error());
            event.receptions.push_back(*reception);
        }
    }
    if (const Object* tx_info = json::object_at(*top, "txInfo")) {
        const auto frequency = whole<std::uint32_t>(*tx_info, "frequency", "txInfo.frequency");
        if (!frequency) return std::unexpected(frequency.error());
        event.frequency_hz = *frequency;
    }
    event.deduplication_id = text_field(*top, "deduplicationId").value_or("");
    event.time = text_field(*top, "time");
    event.application_id = text_field(*device, "applicationId").value_or("");
    event.device_name = text_field(*device, "deviceName").value_or("");
    event.adr = json::bool_at(*top, "adr") == true;
    const auto dr = whole<std::uint8_t>(*top, "dr", "dr");
    if (!dr) return std::unexpected(dr.error());
    event.data_rate = dr->value_or(0);
    const auto fcnt = whole<std::uint32_t>(*top, "fCnt", "fCnt");
    if (!fcnt) return std::unexpected(fcnt.error());
    event.fcnt = fcnt->value_or(0);
    const auto fport = whole<std::uint8_t>(*top, "fPort", "fPort");
    if (!fport) return std::unexpected(fport.error());
    event.fport = *fport;
    event.confirmed = json::bool_at(*top, "confirmed") == true;
    return event;
}

const Reception* UplinkEvent::best_reception() const noexcept {
    // The IEEE total order as an integer order: flip the magnitude bits of
    // negative values, so -0.0 sorts just below +0.0.
    const auto key = [](float f) {
        const auto bits = std::bit_cast<std::int32_t>(f);
        return bits ^ static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 31) >> 1);
    };
    const Reception* best = nullptr;
    for (const Reception& r : receptions)
        if (!best || key(r.snr_db) >= key(best->snr_db)) best = &r;
    return best;
}

std::string uplink_topic(std::string_view application_id) {
    std::string topic = "application/";
    topic += application_id;
    topic += "/device/+/event/up";
    return topic;
}

}  // namespace trovik::gateway::chirpstack
