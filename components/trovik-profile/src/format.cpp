#include "trovik/profile/format.hpp"

#include <algorithm>
#include <vector>

#include "trovik/core/number_text.hpp"
#include "trovik/core/text.hpp"

namespace trovik::profile::format {
namespace {

// The characters of a text; a byte that is not part of valid UTF-8 counts as
// one character of its own, so every text has a length.
std::vector<std::int32_t> characters(std::string_view s) {
    std::vector<std::int32_t> out;
    out.reserve(s.size());
    std::size_t pos = 0;
    while (pos < s.size()) {
        const std::size_t start = pos;
        const std::int32_t cp = core::text::decode_utf8(s, pos);
        if (cp < 0) {
            out.push_back(-1 - static_cast<std::int32_t>(static_cast<unsigned char>(s[start])));
            pos = start + 1;
        } else {
            out.push_back(cp);
        }
    }
    return out;
}

std::size_t distance_of(const std::vector<std::int32_t>& a, const std::vector<std::int32_t>& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::size_t above_left = row[0];
        row[0] = i + 1;
        for (std::size_t j = 0; j < b.size(); ++j) {
            const std::size_t above = row[j + 1];
            row[j + 1] = std::min({above + 1, row[j] + 1, above_left + (a[i] == b[j] ? 0 : 1)});
            above_left = above;
        }
    }
    return row[b.size()];
}

// An unsigned 32-bit decimal: an optional "+", then digits only.
std::optional<std::uint32_t> format_number_of(std::string_view s) {
    const auto value = core::number_text::parse_unsigned(s, 10, 0xFFFFFFFFu);
    if (!value) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

}  // namespace

std::expected<void, std::string> check_schema(std::optional<std::string_view> value, std::string_view kind,
                                              std::string_view example) {
    if (!value) return {};
    const std::string_view whole = *value;
    const auto slash = whole.rfind('/');
    const std::string_view segment = slash == std::string_view::npos ? whole : whole.substr(slash + 1);

    constexpr std::string_view suffix = ".json";
    std::optional<std::uint32_t> number;
    if (segment.size() > kind.size() && segment.starts_with(kind) && segment[kind.size()] == '-') {
        const std::string_view rest = segment.substr(kind.size() + 1);
        if (rest.size() > suffix.size() && rest.ends_with(suffix))
            number = format_number_of(rest.substr(0, rest.size() - suffix.size()));
    }
    if (!number)
        return std::unexpected("`$schema` is `" + std::string(whole) + "`, which is not a trovik " + std::string(kind) +
                               " schema such as `" + std::string(example) + "`");
    if (*number != format_number)
        return std::unexpected("this file is written in " + std::string(kind) + " format " + std::to_string(*number) +
                               ", and this build of trovik reads format " + std::to_string(format_number));
    return {};
}

std::size_t distance(std::string_view a, std::string_view b) { return distance_of(characters(a), characters(b)); }

std::optional<std::string_view> nearest(std::string_view name, std::span<const std::string_view> candidates) {
    const auto chars = characters(name);
    const std::size_t threshold = std::clamp<std::size_t>(chars.size() / 2, 1, 2);
    std::optional<std::string_view> best;
    std::size_t best_distance = 0;
    for (const std::string_view candidate : candidates) {
        const std::size_t d = distance_of(chars, characters(candidate));
        if (d > threshold) continue;
        if (!best || d < best_distance) {
            best = candidate;
            best_distance = d;
        }
    }
    return best;
}

std::string explain(std::string_view message) {
    std::string_view prefix;
    for (const std::string_view p : {std::string_view("unknown field `"), std::string_view("unknown variant `")})
        if (message.starts_with(p)) {
            prefix = p;
            break;
        }
    if (prefix.empty()) return std::string(message);

    const std::string_view after = message.substr(prefix.size());
    const auto close = after.find('`');
    if (close == std::string_view::npos) return std::string(message);
    const std::string_view name = after.substr(0, close);

    // The names the reader listed in backticks: every other run of the rest, cut at its backticks.
    std::vector<std::string_view> candidates;
    std::string_view rest = after.substr(close + 1);
    bool inside = false;
    for (;;) {
        const auto tick = rest.find('`');
        const std::string_view run = rest.substr(0, tick);
        if (inside) candidates.push_back(run);
        if (tick == std::string_view::npos) break;
        rest.remove_prefix(tick + 1);
        inside = !inside;
    }

    const auto suggestion = nearest(name, candidates);
    if (!suggestion) return std::string(message);
    const auto at = message.rfind(" at line ");
    const std::string_view position = at == std::string_view::npos ? std::string_view() : message.substr(at);
    std::string out(prefix);
    out += name;
    out += "`, did you mean `";
    out += *suggestion;
    out += "`?";
    out += position;
    return out;
}

}  // namespace trovik::profile::format
