#include "trovik/profile/presentation.hpp"

#include <cmath>
#include <set>

#include "trovik/core/number_text.hpp"
#include "trovik/core/text.hpp"
#include "trovik/profile/document.hpp"

namespace trovik::profile::presentation {
namespace {

using document::RecordShape;

constexpr std::string_view presentation_keys[] = {"elements", "theme", "messages"};
constexpr bool presentation_required[] = {false, false, false};
constexpr std::string_view element_keys[] = {"key",  "unit",  "label", "labels", "viz",  "band",
                                             "stat", "scope", "span",  "value",  "state"};
constexpr bool element_required[] = {true, true, true, false, true, false, false, false, false, false, false};
constexpr std::string_view theme_keys[] = {"accent", "ok", "warn", "alarm", "track"};
constexpr bool theme_required[] = {false, false, false, false, false};

constexpr RecordShape presentation_shape{"Presentation", presentation_keys, presentation_required};
constexpr RecordShape element_shape{"ElementSpec", element_keys, element_required};
constexpr RecordShape theme_shape{"Theme", theme_keys, theme_required};

bool is_blank(std::string_view s) { return core::text::trim_white_space(s).empty(); }
bool has_prefix(std::string_view code, std::string_view prefix) { return code.size() >= 6 && code.starts_with(prefix); }

std::string unknown_variant(std::string_view name, std::span<const std::string_view> names) {
    std::string out = "unknown variant `";
    out += name;
    return out + "`, expected " + document::expected_names(names);
}

constexpr std::string_view scope_names[] = {"always", "links"};

// A map of texts; a tag given twice keeps its last text.
bool read_texts(document::Reader& in, Texts& out) {
    std::vector<std::string> keys;
    return in.map(keys, [&](std::size_t i) { return in.string(out[keys[i]]); });
}

// An enum in its external form: a bare name, or an object whose only key is
// the name. `variant(name)` reads what follows the name (nothing for a bare
// name: then `bare` is true).
template <class F>
bool read_enum(document::Reader& in, std::string_view what, F&& variant) {
    const auto c = in.peek();
    if (c == '"') {
        std::string name;
        return in.string(name) && variant(name, true);
    }
    if (c == '{') {
        std::vector<std::string> keys;
        bool once = false;
        return in.map(keys, [&](std::size_t i) {
            // The one key of the object names the variant; a second is no
            // value of this enum.
            if (once) return in.refuse_here("expected value");
            once = true;
            return variant(keys[i], false);
        });
    }
    return in.wrong_type("enum " + std::string(what));
}

// The value under a unit variant's name in the object form.
bool read_unit(document::Reader& in) {
    if (in.peek() != 'n') return in.wrong_type("unit");
    return in.skip();
}

bool read_viz(document::Reader& in, Viz& out) {
    return read_enum(in, "Viz", [&](const std::string& name, bool bare) {
        const auto viz = viz_named(name);
        if (!viz) return in.refuse_here(unknown_variant(name, viz_names));
        out = *viz;
        return bare || read_unit(in);
    });
}

bool read_scope(document::Reader& in, Scope& out) {
    return read_enum(in, "Scope", [&](const std::string& name, bool bare) {
        if (name == "always") {
            out = Always{};
            return bare || read_unit(in);
        }
        if (name == "links") {
            if (bare) return in.refuse_here("invalid type: unit variant, expected newtype variant");
            Links links;
            if (!in.array([&](std::size_t) { return in.string(links.kinds.emplace_back()); })) return false;
            out = std::move(links);
            return true;
        }
        return in.refuse_here(unknown_variant(name, scope_names));
    });
}

bool read_band(document::Reader& in, std::optional<std::pair<float, float>>& out) {
    if (in.peek() == 'n') return in.skip() && (out.reset(), true);
    std::size_t count = 0;
    std::pair<float, float> band{};
    const bool read = in.array([&](std::size_t i) {
        count = i + 1;
        if (i == 0) return in.f32(band.first);
        if (i == 1) return in.f32(band.second);
        return in.refuse_here("trailing characters");
    });
    if (!read) return false;
    if (count < 2) return in.refuse_here("invalid length " + std::to_string(count) + ", expected an array of length 2");
    out = band;
    return true;
}

bool read_localized(document::Reader& in, LocalizedText& out) {
    const auto c = in.peek();
    if (c == '"') {
        std::string text;
        if (!in.string(text)) return false;
        out.text = std::move(text);
        return true;
    }
    constexpr std::string_view untagged = "data did not match any variant of untagged enum LocalizedText";
    if (c != '{') return in.skip() && in.refuse_here(std::string(untagged));
    Texts texts;
    bool all_strings = true;
    std::vector<std::string> keys;
    const bool read = in.map(keys, [&](std::size_t i) {
        if (in.peek() == '"') return in.string(texts[keys[i]]);
        all_strings = false;
        return in.skip();
    });
    if (!read) return false;
    if (!all_strings) return in.refuse_here(std::string(untagged));
    out.text = std::move(texts);
    return true;
}

bool read_element(document::Reader& in, ElementSpec& out) {
    return in.record(element_shape, [&](std::size_t field) {
        switch (field) {
            case 0: return in.string(out.key);
            case 1: return in.string(out.unit);
            case 2: return in.string(out.label);
            case 3:
                if (in.peek() == 'n') return in.skip() && (out.labels.reset(), true);
                return read_texts(in, out.labels.emplace());
            case 4: return read_viz(in, out.viz);
            case 5: return read_band(in, out.band);
            case 6: return in.boolean(out.stat);
            case 7: return read_scope(in, out.scope);
            case 8: return in.boolean(out.span);
            case 9: return in.optional_f32(out.value);
            default: return in.optional_string(out.state);
        }
    });
}

bool read_theme(document::Reader& in, Theme& out) {
    return in.record(theme_shape, [&](std::size_t field) {
        switch (field) {
            case 0: return in.optional_string(out.accent);
            case 1: return in.optional_string(out.ok);
            case 2: return in.optional_string(out.warn);
            case 3: return in.optional_string(out.alarm);
            default: return in.optional_string(out.track);
        }
    });
}

void write_texts(document::Writer& out, const Texts& texts) {
    out.begin_object();
    for (const auto& [tag, text] : texts) {
        out.key(tag);
        out.string(text);
    }
    out.end_object();
}

void write_element(document::Writer& out, const ElementSpec& e) {
    out.begin_object();
    out.key("key");
    out.string(e.key);
    out.key("unit");
    out.string(e.unit);
    out.key("label");
    out.string(e.label);
    if (e.labels) {
        out.key("labels");
        write_texts(out, *e.labels);
    }
    out.key("viz");
    out.string(name_of(e.viz));
    if (e.band) {
        out.key("band");
        out.begin_array();
        out.number(e.band->first);
        out.number(e.band->second);
        out.end_array();
    }
    out.key("stat");
    out.boolean(e.stat);
    out.key("scope");
    if (const auto* links = std::get_if<Links>(&e.scope)) {
        out.begin_object();
        out.key("links");
        out.begin_array();
        for (const auto& kind : links->kinds)
            out.string(kind);
        out.end_array();
        out.end_object();
    } else {
        out.string("always");
    }
    out.key("span");
    out.boolean(e.span);
    if (e.value) {
        out.key("value");
        out.number(*e.value);
    }
    if (e.state) {
        out.key("state");
        out.string(*e.state);
    }
    out.end_object();
}

std::expected<void, std::string> check_presentation(const Presentation& p) {
    std::set<std::string_view> keys;
    for (const ElementSpec& e : p.elements) {
        const std::string k = "`" + e.key + "`";
        if (is_blank(e.key)) return std::unexpected("an element needs a key");
        if (is_blank(e.unit)) return std::unexpected("the element " + k + " has no unit");
        if (is_blank(e.label)) return std::unexpected("the element " + k + " has no label");
        if (!keys.insert(e.key).second) return std::unexpected("the element " + k + " is declared twice");
        if (e.band) {
            const auto [low, high] = *e.band;
            if (!std::isfinite(low) || !std::isfinite(high) || !(low < high))
                return std::unexpected("the element " + k + " has a band of " + core::number_text::display(low) +
                                       " to " + core::number_text::display(high) + "; the low end comes first");
        }
        if (e.value) {
            if (!std::isfinite(*e.value))
                return std::unexpected("the element " + k + " has a starting value that is not a finite number");
            if (e.state)
                return std::unexpected("the element " + k +
                                       " starts with both a value and a state; a reading is one or the other");
        } else if (e.state && !has_prefix(*e.state, "state.")) {
            return std::unexpected("the element " + k + " starts in `" + *e.state + "`, which is not a `state.` code");
        }
    }
    for (const auto& [code, text] : p.messages) {
        const std::string c = "`" + code + "`";
        if (!has_prefix(code, "state.") && !has_prefix(code, "event."))
            return std::unexpected("the message " + c + " is neither a `state.` nor an `event.` code");
        if (const auto* texts = std::get_if<Texts>(&text.text)) {
            if (!texts->contains("en"))
                return std::unexpected("the message " + c +
                                       " gives no `en` text, which every other locale falls back to");
        } else if (is_blank(std::get<std::string>(text.text))) {
            return std::unexpected("the message " + c + " is empty");
        }
    }
    if (p.theme) {
        const std::pair<std::string_view, const std::optional<std::string>*> tokens[] = {{"accent", &p.theme->accent},
                                                                                         {"ok", &p.theme->ok},
                                                                                         {"warn", &p.theme->warn},
                                                                                         {"alarm", &p.theme->alarm},
                                                                                         {"track", &p.theme->track}};
        for (const auto& [name, token] : tokens)
            if (*token && is_blank(**token))
                return std::unexpected("the theme's `" + std::string(name) + "` color is empty");
    }
    return {};
}

}  // namespace

std::optional<Viz> viz_named(std::string_view name) {
    for (std::size_t i = 0; i < viz_names.size(); ++i)
        if (viz_names[i] == name) return static_cast<Viz>(i);
    return std::nullopt;
}

LocalizedText LocalizedText::per_locale(std::vector<std::pair<std::string, std::string>> pairs) {
    Texts texts;
    for (auto& [tag, text] : pairs)
        texts[std::move(tag)] = std::move(text);
    return {std::move(texts)};
}

ElementSpec ElementSpec::make(std::string key, std::string unit, std::string label, Viz viz) {
    ElementSpec e;
    e.key = std::move(key);
    e.unit = std::move(unit);
    e.label = std::move(label);
    e.viz = viz;
    return e;
}

ElementSpec ElementSpec::with_locale_label(std::string tag, std::string text) && {
    if (!labels) labels.emplace();
    (*labels)[std::move(tag)] = std::move(text);
    return std::move(*this);
}

ElementSpec ElementSpec::with_state(std::string code) && {
    state = std::move(code);
    return std::move(*this);
}

Presentation Presentation::with_element(ElementSpec element) && {
    elements.push_back(std::move(element));
    return std::move(*this);
}

Presentation Presentation::with_theme(Theme t) && {
    theme = std::move(t);
    return std::move(*this);
}

Presentation Presentation::with_message(std::string code, LocalizedText text) && {
    messages.insert_or_assign(std::move(code), std::move(text));
    return std::move(*this);
}

std::expected<void, core::Error> Presentation::check() const {
    if (auto checked = check_presentation(*this); !checked)
        return std::unexpected(core::Error::codec(std::move(checked.error())));
    return {};
}

bool Presentation::read(document::Reader& in, Presentation& out) {
    return in.record(presentation_shape, [&](std::size_t field) {
        switch (field) {
            case 0: return in.array([&](std::size_t) { return read_element(in, out.elements.emplace_back()); });
            case 1:
                if (in.peek() == 'n') return in.skip() && (out.theme.reset(), true);
                return read_theme(in, out.theme.emplace());
            default: {
                std::vector<std::string> codes;
                return in.map(codes, [&](std::size_t i) {
                    LocalizedText text;
                    if (!read_localized(in, text)) return false;
                    out.messages.insert_or_assign(codes[i], std::move(text));
                    return true;
                });
            }
        }
    });
}

void Presentation::write(document::Writer& out) const {
    out.begin_object();
    out.key("elements");
    out.begin_array();
    for (const ElementSpec& e : elements)
        write_element(out, e);
    out.end_array();
    if (theme) {
        out.key("theme");
        out.begin_object();
        const std::pair<std::string_view, const std::optional<std::string>*> tokens[] = {{"accent", &theme->accent},
                                                                                         {"ok", &theme->ok},
                                                                                         {"warn", &theme->warn},
                                                                                         {"alarm", &theme->alarm},
                                                                                         {"track", &theme->track}};
        for (const auto& [name, token] : tokens)
            if (*token) {
                out.key(name);
                out.string(**token);
            }
        out.end_object();
    }
    if (!messages.empty()) {
        out.key("messages");
        out.begin_object();
        for (const auto& [code, text] : messages) {
            out.key(code);
            if (const auto* plain = std::get_if<std::string>(&text.text))
                out.string(*plain);
            else
                write_texts(out, std::get<Texts>(text.text));
        }
        out.end_object();
    }
    out.end_object();
}

}  // namespace trovik::profile::presentation
