#pragma once
// One message moved by any link: a topic and an uninterpreted payload.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace trovik::core {

using Bytes = std::vector<std::uint8_t>;

struct Message {
    std::string topic;
    Bytes payload;

    static Message make(std::string_view topic, std::span<const std::uint8_t> payload) {
        return Message{std::string(topic), Bytes(payload.begin(), payload.end())};
    }
    friend bool operator==(const Message&, const Message&) = default;
};

}  // namespace trovik::core
