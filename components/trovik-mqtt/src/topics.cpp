#include "trovik/mqtt/topics.hpp"

#include <string>

namespace trovik::mqtt {

using core::Error;

Result<void> check_topic(std::string_view topic) {
    if (topic.find_first_of("+#") != std::string_view::npos) {
        return std::unexpected(Error::transport_fault("the topic " + std::string(topic) +
                                                      " holds a wildcard, which only a subscription may use"));
    }
    return check_length(topic);
}

Result<void> check_filter(std::string_view filter) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = filter.find('/', start);
        const bool last = end == std::string_view::npos;
        const std::string_view level = filter.substr(start, last ? std::string_view::npos : end - start);
        const bool bad_hash = level.find('#') != std::string_view::npos && !(level == "#" && last);
        const bool bad_plus = level.find('+') != std::string_view::npos && level != "+";
        if (bad_hash || bad_plus) {
            return std::unexpected(Error::transport_fault(
                "the filter " + std::string(filter) +
                " places a wildcard where MQTT does not allow one: # only alone in the last level, + only as a "
                "whole level"));
        }
        if (last) break;
        start = end + 1;
    }
    return check_length(filter);
}

Result<void> check_length(std::string_view text) {
    if (text.empty()) return std::unexpected(Error::transport_fault("an MQTT topic has at least one character"));
    if (text.find('\0') != std::string_view::npos)
        return std::unexpected(Error::transport_fault("an MQTT topic cannot hold a null character"));
    if (text.size() >= 65'536) return std::unexpected(Error::transport_fault("an MQTT topic is at most 65,535 bytes"));
    return {};
}

}  // namespace trovik::mqtt
