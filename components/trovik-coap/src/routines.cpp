#include "trovik/coap/client.hpp"

#include <asio/error.hpp>

#include "trovik/core/text.hpp"

namespace trovik::coap {
namespace {

struct CodeName {
    std::uint8_t code;
    const char* name;
};

// The client and server error names of the RFC 7252 response-code registry.
constexpr CodeName error_names[] = {
    {make_code(4, 0), "Bad Request"},
    {make_code(4, 1), "Unauthorized"},
    {make_code(4, 2), "Bad Option"},
    {make_code(4, 3), "Forbidden"},
    {make_code(4, 4), "Not Found"},
    {make_code(4, 5), "Method Not Allowed"},
    {make_code(4, 6), "Not Acceptable"},
    {make_code(4, 12), "Precondition Failed"},
    {make_code(4, 13), "Request Entity Too Large"},
    {make_code(4, 15), "Unsupported Content-Format"},
    {make_code(5, 0), "Internal Server Error"},
    {make_code(5, 1), "Not Implemented"},
    {make_code(5, 2), "Bad Gateway"},
    {make_code(5, 3), "Service Unavailable"},
    {make_code(5, 4), "Gateway Timeout"},
    {make_code(5, 5), "Proxying Not Supported"},
};

// Appends `bytes` as text, each maximal ill-formed subsequence replaced by one U+FFFD.
void append_utf8_lossy(std::string& out, std::span<const std::uint8_t> bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::uint8_t b = bytes[i];
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        std::size_t need;
        std::uint8_t lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF)
            need = 1;
        else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        std::size_t taken = 0;
        while (taken < need && j < bytes.size()) {
            std::uint8_t c = bytes[j];
            bool ok = taken == 0 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
            if (!ok) break;
            ++j;
            ++taken;
        }
        if (taken == need)
            out.append(reinterpret_cast<const char*>(bytes.data() + i), j - i);
        else
            out += "\xEF\xBF\xBD";
        i = j;
    }
}

}  // namespace

bool refused(const std::error_code& ec) noexcept {
    return ec == asio::error::connection_refused || ec == asio::error::connection_reset;
}

void add_path(Packet& request, std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string_view::npos) slash = path.size();
        std::string_view segment = path.substr(start, slash - start);
        if (!segment.empty())
            request.add_option(option::uri_path,
                               {reinterpret_cast<const std::uint8_t*>(segment.data()), segment.size()});
        start = slash + 1;
    }
}

std::string path_from_packet(const Packet& packet) {
    std::string out;
    bool first = true;
    for (const auto& o : packet.options) {
        if (o.number != option::uri_path) continue;
        if (!first) out.push_back('/');
        append_utf8_lossy(out, o.value);
        first = false;
    }
    return out;
}

bool is_success(std::uint8_t code) noexcept { return code_class(code) == 2; }

std::optional<core::Error> answered(std::uint8_t code, std::span<const std::uint8_t> payload) {
    unsigned cls = code_class(code);
    if (cls != 4 && cls != 5) return std::nullopt;
    unsigned detail = code_detail(code);
    std::string text = "the server answered ";
    text += static_cast<char>('0' + cls);
    text += '.';
    text += static_cast<char>('0' + detail / 10);
    text += static_cast<char>('0' + detail % 10);
    for (const auto& entry : error_names) {
        if (entry.code == code) {
            text += ' ';
            text += entry.name;
        }
    }
    std::string_view body(reinterpret_cast<const char*>(payload.data()), payload.size());
    if (!body.empty() && core::text::is_valid_utf8(body)) {
        text += ": ";
        text += body;
    }
    return core::Error::transport_fault(std::move(text));
}

bool is_fresh(std::uint32_t v1, std::optional<std::chrono::steady_clock::time_point> t1, std::uint32_t v2,
              std::chrono::steady_clock::time_point t2) noexcept {
    constexpr std::uint32_t half = 1u << 23;
    if (!t1) return true;
    if (v1 < v2 && v2 - v1 < half) return true;
    if (v1 > v2 && v1 - v2 > half) return true;
    return t2 > *t1 + std::chrono::seconds(128);
}

}  // namespace trovik::coap
