#pragma once
// The one failure type every messaging link reports.
#include <string>
#include <string_view>
#include <variant>

namespace trovik::core {

class Error {
public:
    enum class Kind { TransportFault, Io, Codec, Closed, Auth, Unsupported };

    static Error transport_fault(std::string text) { return {Kind::TransportFault, std::move(text)}; }
    static Error io(std::string text) { return {Kind::Io, std::move(text)}; }
    static Error codec(std::string text) { return {Kind::Codec, std::move(text)}; }
    static Error closed() { return {Kind::Closed, {}}; }
    static Error auth(std::string text) { return {Kind::Auth, std::move(text)}; }
    // The text of an unsupported capability is always a literal chosen where it is raised.
    static Error unsupported(const char* text) { return {Kind::Unsupported, text}; }

    Kind kind() const noexcept { return kind_; }
    const std::string& detail() const noexcept { return detail_; }

    // The whole message as users see it, e.g. "io error: disk full".
    std::string display() const;

    friend bool operator==(const Error&, const Error&) = default;

private:
    Error(Kind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}
    Kind kind_;
    std::string detail_;
};

}  // namespace trovik::core
