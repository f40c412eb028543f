#include "trovik/profile/profile.hpp"

#include <cmath>
#include <vector>

#include "trovik/core/number_text.hpp"
#include "trovik/core/text.hpp"
#include "trovik/profile/document.hpp"
#include "trovik/profile/format.hpp"

namespace trovik::profile::profile {
namespace {

using document::RecordShape;
using params::Param;
using params::Params;

constexpr std::string_view file_keys[] = {"$schema", "name",    "description", "reads",
                                          "topic",   "control", "power",       "presentation"};
constexpr bool file_required[] = {false, true, false, false, true, true, true, false};
constexpr std::string_view reads_keys[] = {"quantity", "unit"};
constexpr bool reads_required[] = {true, true};
constexpr std::string_view power_keys[] = {"active_secs", "saver_secs",     "critical_secs",
                                           "saver_below", "critical_below", "hysteresis"};
constexpr bool power_required[] = {true, true, true, false, false, false};

constexpr RecordShape file_shape{"ProfileFile", file_keys, file_required};
constexpr RecordShape reads_shape{"Reads", reads_keys, reads_required};
constexpr RecordShape power_shape{"PowerSchedule", power_keys, power_required};

// The keys of each built-in control kind, "kind" first: the order its fields
// are read and written in.
constexpr std::string_view setpoint_keys[] = {"kind", "setpoint", "hysteresis", "cooling", "safe_band"};
constexpr std::string_view level_keys[] = {"kind", "empty", "warn_within"};
constexpr std::string_view surge_keys[] = {"kind", "rising", "limit"};
constexpr std::string_view monitor_keys[] = {"kind"};

bool is_built_in(std::string_view kind) {
    return kind == "setpoint" || kind == "level" || kind == "surge" || kind == "monitor";
}

// A name as messages quote it: `name`.
std::string ticked(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 2);
    out += '`';
    out += name;
    out += '`';
    return out;
}

bool is_blank(std::string_view s) { return core::text::trim_white_space(s).empty(); }

// A float in a message: shortest digits, no exponent, no ".0" (0.5, 3, inf, NaN).
std::string shown(float value) { return core::number_text::display(value); }

// Lowercase ASCII words joined by single underscores, the text starting with
// a letter: `relative_humidity`, and `pm2_5`, whose "5" counts as a word.
bool is_snake_case(std::string_view text) {
    if (text.empty() || text[0] < 'a' || text[0] > 'z') return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(text.find('_', start), text.size());
        const std::string_view word = text.substr(start, end - start);
        if (word.empty()) return false;
        for (const char c : word)
            if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
        if (end == text.size()) return true;
        start = end + 1;
    }
}

// A built-in kind from the parameters of its control object, "kind" taken
// out; the refusal of the first field that does not fit.
class KindFields {
public:
    explicit KindFields(const Params& p) : params_(p) {}

    std::expected<void, std::string> only(std::span<const std::string_view> keys) const {
        for (const auto& [key, value] : params_.entries) {
            bool known = false;
            for (const auto k : keys)
                known = known || k == key;
            if (!known) return std::unexpected(document::unknown_field(key, keys));
        }
        return {};
    }

    std::expected<const Param*, std::string> field(std::string_view name) const {
        const Param* p = params_.get(name);
        if (!p) return std::unexpected("missing field `" + std::string(name) + "`");
        return p;
    }

    std::expected<float, std::string> f32(std::string_view name) const {
        auto p = field(name);
        if (!p) return std::unexpected(std::move(p.error()));
        const auto* n = std::get_if<double>(*p);
        if (!n) return std::unexpected(ticked(name) + " must be a number");
        return static_cast<float>(*n);
    }

    std::expected<bool, std::string> flag(std::string_view name) const {
        auto p = field(name);
        if (!p) return std::unexpected(std::move(p.error()));
        const auto* b = std::get_if<bool>(*p);
        if (!b) return std::unexpected(ticked(name) + " must be true or false");
        return *b;
    }

    std::expected<std::uint32_t, std::string> samples(std::string_view name) const {
        auto p = field(name);
        if (!p) return std::unexpected(std::move(p.error()));
        const auto* n = std::get_if<double>(*p);
        // 6.0 is six samples; 6.5 and -1 are none.
        if (!n || !(*n >= 0 && *n <= 4294967295.0) || std::trunc(*n) != *n)
            return std::unexpected(ticked(name) + " must be a whole number of samples");
        return static_cast<std::uint32_t>(*n);
    }

private:
    const Params& params_;
};

std::expected<ControlSpec, std::string> control_of(Params p) {
    const auto kind_entry = p.entries.find("kind");
    if (kind_entry == p.entries.end()) return std::unexpected("missing field `kind`");
    const auto* kind_text = std::get_if<std::string>(&kind_entry->second);
    if (!kind_text) return std::unexpected("`kind` must be a string");
    std::string kind = *kind_text;
    p.entries.erase(kind_entry);
    const KindFields fields(p);
    const auto fail = [](std::string message) -> std::expected<ControlSpec, std::string> {
        return std::unexpected(std::move(message));
    };
    if (kind == "setpoint") {
        if (auto known = fields.only(setpoint_keys); !known) return fail(std::move(known.error()));
        auto setpoint = fields.f32("setpoint");
        if (!setpoint) return fail(std::move(setpoint.error()));
        auto hysteresis = fields.f32("hysteresis");
        if (!hysteresis) return fail(std::move(hysteresis.error()));
        auto cooling = fields.flag("cooling");
        if (!cooling) return fail(std::move(cooling.error()));
        auto safe_band = fields.f32("safe_band");
        if (!safe_band) return fail(std::move(safe_band.error()));
        return ControlSpec{Setpoint{*setpoint, *hysteresis, *cooling, *safe_band}};
    }
    if (kind == "level") {
        if (auto known = fields.only(level_keys); !known) return fail(std::move(known.error()));
        auto empty = fields.f32("empty");
        if (!empty) return fail(std::move(empty.error()));
        auto warn_within = fields.samples("warn_within");
        if (!warn_within) return fail(std::move(warn_within.error()));
        return ControlSpec{Level{*empty, *warn_within}};
    }
    if (kind == "surge") {
        if (auto known = fields.only(surge_keys); !known) return fail(std::move(known.error()));
        auto rising = fields.flag("rising");
        if (!rising) return fail(std::move(rising.error()));
        auto limit = fields.f32("limit");
        if (!limit) return fail(std::move(limit.error()));
        return ControlSpec{Surge{*rising, *limit}};
    }
    if (kind == "monitor") {
        if (auto known = fields.only(monitor_keys); !known) return fail(std::move(known.error()));
        return ControlSpec{Monitor{}};
    }
    // Any other text, "Setpoint" and " level" included, is a kind of the
    // program's own; a blank one is left to the checks.
    return ControlSpec{Custom{std::move(kind), std::move(p)}};
}

class FileReader {
public:
    explicit FileReader(std::string_view text) : in_(text) {}

    bool file(Profile& out) {
        std::optional<std::string> schema;
        const bool read = in_.record(file_shape, [&](std::size_t field) {
            switch (field) {
                case 0: return in_.optional_string(schema);
                case 1: return in_.string(out.name);
                case 2: return in_.optional_string(out.description);
                case 3:
                    if (in_.peek() == 'n') return in_.skip() && (out.reads.reset(), true);
                    return reads(out.reads.emplace());
                case 4: return in_.string(out.topic);
                case 5: return control(out.control);
                case 6: return power(out.power);
                default:
                    if (in_.peek() == 'n') return in_.skip() && (out.presentation.reset(), true);
                    return presentation::Presentation::read(in_, out.presentation.emplace());
            }
        });
        if (!read) return false;
        if (auto checked = format::check_schema(schema, "profile", format::profile_schema); !checked)
            return in_.refuse(std::move(checked.error()));
        return in_.finish();
    }

    const std::string& error() const { return in_.error(); }

private:
    bool reads(Reads& out) {
        return in_.record(reads_shape,
                          [&](std::size_t field) { return in_.string(field == 0 ? out.quantity : out.unit); });
    }

    bool power(PowerSchedule& out) {
        return in_.record(power_shape, [&](std::size_t field) {
            switch (field) {
                case 0: return in_.u64(out.active_secs);
                case 1: return in_.u64(out.saver_secs);
                case 2: return in_.u64(out.critical_secs);
                case 3: return in_.f32(out.saver_below);
                case 4: return in_.f32(out.critical_below);
                default: return in_.f32(out.hysteresis);
            }
        });
    }

    // Every value of the control object is a number, a flag or a text; which
    // keys its kind takes is decided once the whole object is read, so those
    // refusals point just past it.
    bool control(ControlSpec& out) {
        Params params;
        std::vector<std::string> keys;
        const bool read = in_.map(keys, [&](std::size_t i) {
            Param value;
            const auto c = in_.peek();
            if (c == '"') {
                if (!in_.string(value.emplace<std::string>())) return false;
            } else if (c == 't' || c == 'f') {
                if (!in_.boolean(value.emplace<bool>())) return false;
            } else if (document::starts_number(c)) {
                core::json::Number n;
                if (!in_.number(n)) return false;
                value = std::visit([](auto v) { return static_cast<double>(v); }, n);
            } else {
                return in_.skip() && in_.refuse_here("data did not match any variant of untagged enum Param");
            }
            params.entries.insert_or_assign(keys[i], std::move(value));
            return true;
        });
        if (!read) return false;
        auto converted = control_of(std::move(params));
        if (!converted) return in_.refuse_here(std::move(converted.error()));
        out = std::move(*converted);
        return true;
    }

    document::Reader in_;
};

std::expected<void, std::string> check_control(const ControlSpec& control) {
    const auto finite = [](std::string_view field, float value) -> std::expected<void, std::string> {
        if (std::isfinite(value)) return {};
        return std::unexpected(ticked(field) + " must be a finite number, not " + shown(value));
    };
    if (const auto* s = std::get_if<Setpoint>(&control.kind)) {
        for (const auto& [field, value] :
             {std::pair{"setpoint", s->setpoint}, {"hysteresis", s->hysteresis}, {"safe_band", s->safe_band}})
            if (auto ok = finite(field, value); !ok) return ok;
        if (s->hysteresis <= 0)
            return std::unexpected("`hysteresis` must be above zero, or the output chatters at the setpoint");
        if (s->hysteresis > s->safe_band)
            return std::unexpected("`safe_band` (" + shown(s->safe_band) + ") is narrower than `hysteresis` (" +
                                   shown(s->hysteresis) + "), so an alert would fire inside the deadband");
    } else if (const auto* l = std::get_if<Level>(&control.kind)) {
        if (auto ok = finite("empty", l->empty); !ok) return ok;
        if (l->warn_within == 0)
            return std::unexpected("`warn_within` must be at least one sample, or the warning never comes");
    } else if (const auto* g = std::get_if<Surge>(&control.kind)) {
        if (auto ok = finite("limit", g->limit); !ok) return ok;
        if (g->limit <= 0) return std::unexpected("`limit` must be above zero, or every sample is a surge");
    } else if (const auto* c = std::get_if<Custom>(&control.kind)) {
        if (is_blank(c->kind)) return std::unexpected("a custom control needs a kind to be named by");
        // The writer has no text for a number that is not finite and would
        // write null, which the reader refuses: such a profile could not
        // travel as a manifest.
        for (const auto& [name, value] : c->params.entries)
            if (const auto* n = std::get_if<double>(&value); n && !std::isfinite(*n))
                return std::unexpected("custom parameter `" + name + "` must be a finite number");
    }
    return {};
}

std::expected<void, std::string> check_power(const PowerSchedule& p) {
    if (p.active_secs == 0) return std::unexpected("`active_secs` must be at least one second");
    if (p.active_secs > p.saver_secs || p.saver_secs > p.critical_secs)
        return std::unexpected("the intervals must not shorten as the battery drains: active " +
                               std::to_string(p.active_secs) + " s, saver " + std::to_string(p.saver_secs) +
                               " s, critical " + std::to_string(p.critical_secs) + " s");
    if (!(p.saver_below > 0 && p.saver_below <= 1))
        return std::unexpected("`saver_below` must be a state of charge above 0 and at most 1, not " +
                               shown(p.saver_below));
    if (!(p.critical_below > 0) || !(p.saver_below > p.critical_below))
        return std::unexpected("`critical_below` must sit between 0 and `saver_below` (" + shown(p.saver_below) +
                               "), not " + shown(p.critical_below));
    const float top = p.saver_below + p.hysteresis;  // added in 32 bits, as the plan adds it
    if (!(p.hysteresis >= 0) || top > 1)
        return std::unexpected("the power `hysteresis` must be 0 or more and leave `saver_below` (" +
                               shown(p.saver_below) + ") plus it at most 1, not " + shown(p.hysteresis));
    return {};
}

std::expected<void, std::string> check_profile(const Profile& p) {
    if (is_blank(p.name)) return std::unexpected("`name` must not be empty");
    if (p.topic.empty()) return std::unexpected("the topic is empty");
    if (p.topic.find_first_of("#+") != std::string::npos)
        return std::unexpected("the topic `" + p.topic + "` is a filter; a profile publishes to one topic");
    if (p.reads) {
        constexpr std::string_view example = ", such as `relative_humidity`";
        if (!is_snake_case(p.reads->quantity))
            return std::unexpected("the `reads` quantity `" + p.reads->quantity +
                                   "` must be lowercase words joined by underscores" + std::string(example));
        if (!is_snake_case(p.reads->unit))
            return std::unexpected("the `reads` unit `" + p.reads->unit +
                                   "` must be lowercase words joined by underscores" + std::string(example));
    }
    if (auto ok = check_control(p.control); !ok) return ok;
    return check_power(p.power);
}

void write_control(document::Writer& out, const ControlSpec& control) {
    out.begin_object();
    out.key("kind");
    if (const auto* s = std::get_if<Setpoint>(&control.kind)) {
        out.string("setpoint");
        out.key("setpoint");
        out.number(s->setpoint);
        out.key("hysteresis");
        out.number(s->hysteresis);
        out.key("cooling");
        out.boolean(s->cooling);
        out.key("safe_band");
        out.number(s->safe_band);
    } else if (const auto* l = std::get_if<Level>(&control.kind)) {
        out.string("level");
        out.key("empty");
        out.number(l->empty);
        out.key("warn_within");
        out.integer(l->warn_within);
    } else if (const auto* g = std::get_if<Surge>(&control.kind)) {
        out.string("surge");
        out.key("rising");
        out.boolean(g->rising);
        out.key("limit");
        out.number(g->limit);
    } else if (std::holds_alternative<Monitor>(control.kind)) {
        out.string("monitor");
    } else {
        const auto& c = std::get<Custom>(control.kind);
        out.string(c.kind);
        for (const auto& [name, value] : c.params.entries) {
            out.key(name);
            if (const auto* n = std::get_if<double>(&value))
                out.number(*n);
            else if (const auto* b = std::get_if<bool>(&value))
                out.boolean(*b);
            else
                out.string(std::get<std::string>(value));
        }
    }
    out.end_object();
}

}  // namespace

std::expected<ControlSpec, core::Error> ControlSpec::custom(std::string kind, params::Params params) {
    if (kind.empty()) return std::unexpected(core::Error::codec("a custom control needs a kind to be named by"));
    if (is_built_in(kind))
        return std::unexpected(core::Error::codec(
            kind + " is a built-in control kind, so it takes its own fields rather than parameters"));
    if (params.get("kind"))
        return std::unexpected(core::Error::codec(
            "a custom control cannot have a parameter named kind, which its manifest keeps for the kind itself"));
    return ControlSpec{Custom{std::move(kind), std::move(params)}};
}

std::expected<Profile, core::Error> Profile::from_json(std::string_view text) {
    Profile profile;
    FileReader reader(text);
    if (!reader.file(profile)) return std::unexpected(core::Error::codec(format::explain(reader.error())));
    if (auto checked = profile.check(); !checked) return std::unexpected(std::move(checked.error()));
    return profile;
}

std::expected<void, core::Error> Profile::check() const {
    if (auto checked = check_profile(*this); !checked)
        return std::unexpected(core::Error::codec(std::move(checked.error())));
    // The presentation is tried last: a profile-level fault is reported first.
    if (presentation) return presentation->check();
    return {};
}

std::expected<std::string, core::Error> Profile::to_json() const {
    document::Writer out;
    out.begin_object();
    out.key("$schema");
    out.string(format::profile_schema);
    out.key("name");
    out.string(name);
    if (description) {
        out.key("description");
        out.string(*description);
    }
    if (reads) {
        out.key("reads");
        out.begin_object();
        out.key("quantity");
        out.string(reads->quantity);
        out.key("unit");
        out.string(reads->unit);
        out.end_object();
    }
    out.key("topic");
    out.string(topic);
    out.key("control");
    write_control(out, control);
    out.key("power");
    out.begin_object();
    out.key("active_secs");
    out.integer(power.active_secs);
    out.key("saver_secs");
    out.integer(power.saver_secs);
    out.key("critical_secs");
    out.integer(power.critical_secs);
    out.key("saver_below");
    out.number(power.saver_below);
    out.key("critical_below");
    out.number(power.critical_below);
    out.key("hysteresis");
    out.number(power.hysteresis);
    out.end_object();
    if (presentation) {
        out.key("presentation");
        presentation->write(out);
    }
    out.end_object();
    return std::move(out).take();
}

}  // namespace trovik::profile::profile
