// Dashboard presentations as Python builds them: elements, a theme and the
// words for new codes. Plain value holders; what the dashboard could not draw
// is refused only once a presentation is attached to a profile.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "binding/binding.hpp"
#include "binding/containers.hpp"
#include "binding/forms.hpp"
#include "trovik/profile/presentation.hpp"

namespace trovik::py {

const BindingSource this_source{"profile"};

namespace {

using profile::presentation::Always;
using profile::presentation::ElementSpec;
using profile::presentation::Links;
using profile::presentation::LocalizedText;
using profile::presentation::Presentation;
using profile::presentation::Texts;
using profile::presentation::Theme;
using profile::presentation::Viz;

// A band: a tuple, not a list, since a band is one value rather than a
// collection.
struct Band {
    std::pair<float, float> ends;
};

using Messages = std::map<std::string, LocalizedText, std::less<>>;

}  // namespace

// A `dict` whose keys and values are all `str`.
template <>
struct Caster<Texts> {
    Texts v;
    explicit Caster(PyObject* o) {
        if (!PyDict_Check(o)) raise_not_instance(o, "dict");
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(o, &pos, &key, &value))
            v.insert_or_assign(std::string(to_text(key)), to_text(value));
    }
    Texts get() && { return std::move(v); }
};

template <>
struct Caster<Band> {
    Band v;
    explicit Caster(PyObject* o) {
        if (!PyTuple_Check(o)) raise_not_instance(o, "tuple");
        const Py_ssize_t n = PyTuple_Size(o);
        if (n < 0) throw PendingError{};
        if (n != 2) raise_value_error("expected tuple of length 2, but got tuple of length " + std::to_string(n));
        const double low = to_double(PyTuple_GetItem(o, 0));
        const double high = to_double(PyTuple_GetItem(o, 1));
        v.ends = {static_cast<float>(low), static_cast<float>(high)};
    }
    Band get() const { return v; }
};

// One text for every locale (a `str`, tried first) or a `dict` from locale tag
// to text.
template <>
struct Caster<LocalizedText> {
    LocalizedText v;
    explicit Caster(PyObject* o) {
        if (PyUnicode_Check(o)) {
            v = LocalizedText::plain(std::string(to_text(o)));
            return;
        }
        try {
            to_text(o);  // fails: only to state why, in the interpreter's words
        } catch (const PendingError&) {
        }
        std::string plain_reason = take_form_reason("MessageText", "Plain");
        try {
            v.text = Caster<Texts>(o).get();
            return;
        } catch (const PendingError&) {
        }
        std::string per_locale_reason = take_form_reason("MessageText", "PerLocale");
        raise_no_form("MessageText", {"Plain", "PerLocale"}, {plain_reason, per_locale_reason});
    }
    LocalizedText get() && { return std::move(v); }
};

template <>
struct Caster<Messages> {
    Messages v;
    explicit Caster(PyObject* o) {
        if (!PyDict_Check(o)) raise_not_instance(o, "dict");
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(o, &pos, &key, &value)) {
            std::string code(to_text(key));
            v.insert_or_assign(std::move(code), Caster<LocalizedText>(value).get());
        }
    }
    Messages get() && { return std::move(v); }
};

namespace {

std::string viz_choices() {
    std::string out;
    for (std::string_view name : profile::presentation::viz_names) {
        if (!out.empty()) out += ", ";
        out += name;
    }
    return out;
}

Viz viz_of(std::string_view name) {
    if (auto viz = profile::presentation::viz_named(name)) return *viz;
    raise_value_error("`" + std::string(name) + "` is not a graphic the dashboard draws; the choices are " +
                      viz_choices());
}

Class<ElementSpec> element_spec_class{
    "ElementSpec",
    "A custom sensor or node stat a profile contributes to the dashboard.\n\nThe graphic is named as a manifest names "
    "it (`droplet`, `gauge`, ...); the :class:`Viz` enum in the facade lists the choices. A band is `(low, high)` in "
    "the element's unit, and `scope` names the link kinds whose groups the element is offered on, or `None` for "
    "every group.",
    [](auto& c) {
        c.no_borrow();  // immutable
        c.init(
            {"key", "unit", "label", "viz", kw_only, arg("labels").none(), arg("band").none(), arg("stat").def(false),
             arg("scope").none(), arg("span").def(false), arg("value").none(), arg("state").none()},
            "Declares an element drawn with the named graphic.\n\nRaises `ValueError` if `viz` is not a graphic "
            "the dashboard draws.",
            [](std::string key, std::string unit, std::string label, std::string_view viz, std::optional<Texts> labels,
               std::optional<Band> band, bool stat, std::optional<std::vector<std::string>> scope, bool span,
               std::optional<float> value, std::optional<std::string> state) {
                ElementSpec e = ElementSpec::make(std::move(key), std::move(unit), std::move(label), viz_of(viz));
                e.labels = std::move(labels);
                if (band) e.band = band->ends;
                e.stat = stat;
                if (scope) e.scope = Links{std::move(*scope)};
                e.span = span;
                e.value = value;
                e.state = std::move(state);
                return e;
            });
        c.prop("key", "The stable, language-neutral element key, such as `water_turbidity`.",
               [](const ElementSpec& e) { return e.key; });
        c.prop("unit", "The canonical unit name, such as `ntu`, `ph`, or `count`.",
               [](const ElementSpec& e) { return e.unit; });
        c.prop("label", "A human-readable fallback label, shown when no localized label applies.",
               [](const ElementSpec& e) { return e.label; });
        c.prop("viz", "The graphic this element is drawn with, by its manifest name.",
               [](const ElementSpec& e) { return profile::presentation::name_of(e.viz); });
        c.prop("labels", "Per-locale labels, keyed by locale tag (`en`, `sw`, ...).",
               [](const ElementSpec& e) { return e.labels ? to_py(*e.labels) : none(); });
        c.prop("band", "The safe band `(low, high)` in the element's unit.", [](const ElementSpec& e) {
            return e.band ? to_py(std::tuple{e.band->first, e.band->second}) : none();
        });
        c.prop("stat", "Whether this is a node or network stat rather than a measurement of the world.",
               [](const ElementSpec& e) { return e.stat; });
        c.prop("scope", "The link kinds whose groups this element is offered on; `None` means every group.",
               [](const ElementSpec& e) {
                   const auto* links = std::get_if<Links>(&e.scope);
                   return links ? to_py(links->kinds) : none();
               });
        c.prop("span", "Whether the element's tile spans two columns.", [](const ElementSpec& e) { return e.span; });
        c.prop("value", "A starting numeric value for the add-sensor dialog.",
               [](const ElementSpec& e) { return e.value; });
        c.prop("state", "A starting discrete state code, such as `state.closed`, for a non-numeric element.",
               [](const ElementSpec& e) { return e.state; });
    }};

Class<Theme> theme_class{
    "Theme", "The theme tokens a profile sets on the dashboard; each is any CSS color.", [](auto& c) {
        c.no_borrow();  // immutable
        c.init({kw_only, arg("accent").none(), arg("ok").none(), arg("warn").none(), arg("alarm").none(),
                arg("track").none()},
               "Builds a theme from the tokens given; the rest keep the dashboard's own colors.",
               [](std::optional<std::string> accent, std::optional<std::string> ok, std::optional<std::string> warn,
                  std::optional<std::string> alarm, std::optional<std::string> track) {
                   return Theme{std::move(accent), std::move(ok), std::move(warn), std::move(alarm), std::move(track)};
               });
        c.prop("accent", "The brand and interaction accent.", [](const Theme& t) { return t.accent; });
        c.prop("ok", "The healthy status color, which also tints an in-band gauge.",
               [](const Theme& t) { return t.ok; });
        c.prop("warn", "The warning status color.", [](const Theme& t) { return t.warn; });
        c.prop("alarm", "The alarm status color.", [](const Theme& t) { return t.alarm; });
        c.prop("track", "The unfilled track color behind gauges and bars.", [](const Theme& t) { return t.track; });
    }};

Class<Presentation> presentation_class{
    "Presentation",
    "How a profile presents itself on the dashboard: its custom elements, an optional theme, and the words for any "
    "state or event code it introduces.",
    [](auto& c) {
        c.no_borrow();  // immutable
        c.init({"elements", kw_only, arg("theme").none(), arg("messages").none()},
               "Builds a presentation from its elements, an optional theme, and the messages for the codes it "
               "introduces, each one string for every locale or a `dict` from locale tag to text.",
               [](std::vector<In<ElementSpec>> elements, std::optional<In<Theme>> theme,
                  std::optional<Messages> messages) {
                   Presentation p;
                   p.elements.reserve(elements.size());
                   for (const In<ElementSpec>& e : elements)
                       p.elements.push_back(*e);
                   if (theme) p.theme = **theme;
                   if (messages) p.messages = std::move(*messages);
                   return p;
               });
        c.prop("elements", "The custom sensors and node stats this profile contributes.", [](const Presentation& p) {
            Ref list(check(PyList_New(static_cast<Py_ssize_t>(p.elements.size()))));
            for (std::size_t i = 0; i < p.elements.size(); ++i)
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), make(p.elements[i]));
            return list;
        });
        c.prop("theme", "An optional theme that tints the dashboard.",
               [](const Presentation& p) { return p.theme ? make(*p.theme) : none(); });
        c.prop("messages",
               "The text for each code this profile introduces, keyed by the page's message key (`state.flushing`, "
               "`event.filter_clog`): a `str` for every locale, or a `dict` from locale tag to text.",
               [](const Presentation& p) {
                   Ref dict(check(PyDict_New()));
                   for (const auto& [code, text] : p.messages) {
                       Ref key(to_py(code));
                       Ref item(to_py(text.text));
                       if (PyDict_SetItem(dict.get(), key.get(), item.get()) < 0) throw PendingError{};
                   }
                   return dict;
               });
    }};

}  // namespace

}  // namespace trovik::py
