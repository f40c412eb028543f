#include "trovik/gateway/station_discovery.hpp"

#include "trovik/gateway/json.hpp"

namespace trovik::gateway::station {
namespace {

using json::Object;
using json::Value;

std::optional<Identifier> identifier_at(const Object& object, const char* key) {
    const std::string* text = json::string_at(object, key);
    return text ? eui_of(*text) : std::nullopt;
}

std::optional<std::string> text_at(const Object& object, const char* key) {
    const std::string* text = json::string_at(object, key);
    return text ? std::optional(*text) : std::nullopt;
}

}  // namespace

std::string Discovery::to_json() const { return json::write(Value{Object{{"router", Value{id6(router)}}}}); }

std::expected<Discovery, udp::ProtocolError> Discovery::from_json(std::string_view text) {
    auto parsed = codec::json::parse(text);
    if (!parsed) return std::unexpected(udp::ProtocolError::invalid(std::move(parsed.error().message)));
    const auto* object = std::get_if<Object>(&parsed->data);
    const auto router = object ? identifier_at(*object, "router") : std::nullopt;
    if (!router) return std::unexpected(udp::ProtocolError::invalid("router is not an identifier"));
    return Discovery{*router};
}

std::string Router::to_json() const {
    Object object;
    if (router) object["router"] = Value{id6(*router)};
    if (muxs) object["muxs"] = Value{id6(*muxs)};
    if (uri) object["uri"] = Value{*uri};
    if (error) object["error"] = Value{*error};
    return json::write(Value{std::move(object)});
}

std::expected<Router, udp::ProtocolError> Router::from_json(std::string_view text) {
    auto parsed = codec::json::parse(text);
    if (!parsed) return std::unexpected(udp::ProtocolError::invalid(std::move(parsed.error().message)));
    Router answer;
    const auto* object = std::get_if<Object>(&parsed->data);
    if (!object) return answer;
    answer.router = identifier_at(*object, "router");
    answer.muxs = identifier_at(*object, "muxs");
    answer.uri = text_at(*object, "uri");
    answer.error = text_at(*object, "error");
    return answer;
}

}  // namespace trovik::gateway::station
