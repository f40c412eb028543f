#pragma once
// The exchange that tells a station which websocket to open: the request a
// station sends its discovery endpoint, and the endpoint's answer.
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "trovik/gateway/protocol_error.hpp"
#include "trovik/gateway/station_id.hpp"

namespace trovik::gateway::station {

struct Discovery {
    Identifier router = 0;  // the station asking

    // {"router":"<ID6>"}
    std::string to_json() const;
    // A text that is not JSON fails with the JSON reader's description
    // alone; any other fault is "router is not an identifier".
    static std::expected<Discovery, udp::ProtocolError> from_json(std::string_view text);
};

// Accepting: router, muxs and uri; refusing: router and error. Any mix is
// allowed and written as held.
struct Router {
    std::optional<Identifier> router;  // the station, as the server read it
    std::optional<Identifier> muxs;    // the server endpoint carrying the session
    std::optional<std::string> uri;    // the websocket to open
    std::optional<std::string> error;  // why the station was refused

    std::string to_json() const;
    // Only a text that is not JSON fails; an unreadable or ill-typed part
    // reads as absent.
    static std::expected<Router, udp::ProtocolError> from_json(std::string_view text);
};

}  // namespace trovik::gateway::station
