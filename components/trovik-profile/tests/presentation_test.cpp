#include <doctest/doctest.h>

#include <limits>
#include <string>
#include <string_view>

#include "trovik/profile/profile.hpp"

using namespace trovik::profile::presentation;
using trovik::profile::profile::Profile;

namespace {

constexpr std::string_view head =
    R"({"name": "n", "topic": "t", "control": {"kind": "monitor"}, "power": [1, 2, 3], "presentation": )";

std::string manifest(std::string_view presentation) { return std::string(head) + std::string(presentation) + "}"; }

Presentation read(std::string_view presentation) {
    auto profile = Profile::from_json(manifest(presentation));
    REQUIRE_MESSAGE(profile.has_value(), profile.error().display());
    REQUIRE(profile->presentation.has_value());
    return std::move(*profile->presentation);
}

std::string refusal(std::string_view presentation) {
    auto profile = Profile::from_json(manifest(presentation));
    REQUIRE_FALSE(profile.has_value());
    return profile.error().detail();
}

// The presentation as the manifest writer lays it out, at its own indentation.
std::string written(const Presentation& p) {
    Profile profile = Profile::from_json(manifest("null")).value();
    profile.presentation = p;
    const std::string text = profile.to_json().value();
    const auto at = text.find("\"presentation\": ");
    REQUIRE(at != std::string::npos);
    return text.substr(at + 16, text.size() - at - 16 - 2);
}

std::string check_message(const Presentation& p) {
    const auto checked = p.check();
    return checked ? std::string() : checked.error().detail();
}

ElementSpec level() { return ElementSpec::make("level", "meter", "Level", Viz::Gauge); }

constexpr float infinity = std::numeric_limits<float>::infinity();

}  // namespace

TEST_CASE("an element's defaults are left out or written as their values") {
    const Presentation p = read(R"({"elements": [{"viz": "spark", "label": "L", "unit": "u", "key": "k"}]})");
    CHECK(p.elements[0] == ElementSpec::make("k", "u", "L", Viz::Spark));
    CHECK(written(p) == R"({
    "elements": [
      {
        "key": "k",
        "unit": "u",
        "label": "L",
        "viz": "spark",
        "stat": false,
        "scope": "always",
        "span": false
      }
    ]
  })");
    CHECK(written(read("{}")) == R"({
    "elements": []
  })");
}

TEST_CASE("the other JSON forms read to the same model and write in the one form") {
    SUBCASE("a graphic and a scope in their object forms, a links list kept empty") {
        const Presentation p = read(R"({"elements": [
            {"key": "a", "unit": "u", "label": "A", "viz": {"gauge": null}, "scope": {"always": null}},
            {"key": "b", "unit": "u", "label": "B", "viz": "count", "scope": {"links": []}},
            {"key": "c", "unit": "u", "label": "C", "viz": "mesh", "scope": {"links": ["lora", "wifi"]}}]})");
        CHECK(p.elements[0].viz == Viz::Gauge);
        CHECK(p.elements[0].scope == Scope{Always{}});
        CHECK(p.elements[1].scope == Scope{Links{}});
        CHECK(p.elements[2].scope == Scope{Links{{"lora", "wifi"}}});
        const std::string text = written(p);
        CHECK(text.find(R"("viz": "gauge",
        "stat": false,
        "scope": "always",)") != std::string::npos);
        CHECK(text.find(R"("scope": {
          "links": []
        },)") != std::string::npos);
    }
    SUBCASE("integers in a band read as floats and are written with a point; 0.3 stays 0.3") {
        const Presentation p =
            read(R"({"elements": [["k", "u", "L", null, "bar", [1, 6], false, "always", true, 0.3]]})");
        CHECK(p.elements[0].band == std::pair{1.0f, 6.0f});
        CHECK(p.elements[0].value == 0.3f);
        CHECK(p.elements[0].span);
        CHECK(written(p).find(R"("band": [
          1.0,
          6.0
        ],)") != std::string::npos);
        CHECK(written(p).find(R"("value": 0.3)") != std::string::npos);
    }
    SUBCASE("an only-en message stays an object; an empty theme is kept and written {}; a null theme is none") {
        const Presentation p =
            read(R"({"theme": {}, "messages": {"state.b": {"en": "B"}, "event.a": "A", "event.a": "A2"}})");
        CHECK(p.theme == Theme{});
        CHECK(p.messages.at("event.a") == LocalizedText::plain("A2"));
        CHECK(written(p) == R"({
    "elements": [],
    "theme": {},
    "messages": {
      "event.a": "A2",
      "state.b": {
        "en": "B"
      }
    }
  })");
        CHECK_FALSE(read(R"({"theme": null})").theme.has_value());
    }
    SUBCASE("theme tokens in their order, absent ones left out") {
        const Presentation p = read(R"({"theme": {"track": "#eee", "accent": "teal", "ok": null}})");
        CHECK(written(p).find(R"("theme": {
      "accent": "teal",
      "track": "#eee"
    })") != std::string::npos);
    }
}

TEST_CASE("the builder operations replace what they set again") {
    const ElementSpec e = level().with_locale_label("sw", "a").with_locale_label("sw", "b").with_state("state.x");
    CHECK(e.labels == Texts{{"sw", "b"}});
    CHECK(e.state == "state.x");
    const Presentation p = Presentation{}
                               .with_message("state.a", LocalizedText::plain("1"))
                               .with_message("state.a", LocalizedText::per_locale({{"en", "x"}, {"en", "y"}}))
                               .with_theme(Theme{.ok = "green"})
                               .with_theme(Theme{.warn = "amber"});
    CHECK(p.messages.at("state.a") == LocalizedText::per_locale({{"en", "y"}}));
    CHECK(p.theme == Theme{.warn = "amber"});
}

TEST_CASE("the presentation readers refuse a wrong shape in the reader's words") {
    struct Case {
        std::string presentation;
        std::string message;
    };
    const std::string element = R"({"key": "k", "unit": "u", "label": "L", "viz": "bar")";
    const Case cases[] = {
        {element + R"(, "colour": 1})",
         "unknown field `colour`, expected one of `key`, `unit`, `label`, `labels`, "
         "`viz`, `band`, `stat`, `scope`, `span`, `value`, `state`"},
        {element + R"(, "labls": {}})", "unknown field `labls`, did you mean `labels`?"},
        {R"({"key": "k", "unit": "u", "label": "L", "viz": "Bar"})", "unknown variant `Bar`, did you mean `bar`?"},
        {R"({"key": "k", "unit": "u", "label": "L", "viz": "pie"})",
         "unknown variant `pie`, expected one of `spark`, `gauge`, `dial`, `bar`, `thermometer`, `droplet`, "
         "`battery`, `wind`, `sun`, `wave`, `switch`, `valve`, `chain`, `mesh`, `count`"},
        {R"({"key": "k", "unit": "u", "label": "L", "viz": null})", "invalid type: null, expected enum Viz"},
        {element + R"(, "scope": "links"})", "invalid type: unit variant, expected newtype variant"},
        {element + R"(, "scope": "everywhere"})", "unknown variant `everywhere`, expected `always` or `links`"},
        {element + R"(, "scope": null})", "invalid type: null, expected enum Scope"},
        {element + R"(, "stat": "yes"})", "invalid type: string \"yes\", expected a boolean"},
        {element + R"(, "band": [1]})", "invalid length 1, expected an array of length 2"},
        {element + R"(, "band": [1, 2, 3]})", "trailing characters"},
        {element + R"(, "key": "k2"})", "duplicate field `key`"},
        {R"({"key": "k", "unit": "u", "viz": "bar"})", "missing field `label`"},
        {R"({"viz": "bar"})", "missing field `key`"},
        {R"(["k", "u", "L"])", "invalid length 4, expected struct ElementSpec with 11 elements"},
        {R"(["k"])", "invalid length 1, expected struct ElementSpec with 11 elements"},
        {R"({"key": 5, "unit": "u", "label": "L", "viz": "bar"})", "invalid type: integer `5`, expected a string"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.presentation);
        const std::string message = refusal(R"({"elements": [)" + c.presentation + "]}");
        CHECK(message.substr(0, message.find(" at line ")) == c.message);
        CHECK(message.find(" at line 1 column ") != std::string::npos);
    }
    const Case outer[] = {
        {R"({"elements": null})", "invalid type: null, expected a sequence"},
        {R"({"theme": {"accnt": "red"}})", "unknown field `accnt`, did you mean `accent`?"},
        {R"({"theme": {"colour": "red"}})",
         "unknown field `colour`, expected one of `accent`, `ok`, `warn`, `alarm`, `track`"},
        {R"({"element": []})", "unknown field `element`, did you mean `elements`?"},
        {R"({"theme": null, "theme": null})", "duplicate field `theme`"},
        {R"({"messages": {"state.a": 5}})", "data did not match any variant of untagged enum LocalizedText"},
        {R"({"messages": {"state.a": {"en": "x", "fr": 1}}})",
         "data did not match any variant of untagged enum LocalizedText"},
        {R"([[], null, {}, 1])", "trailing characters"},
    };
    for (const auto& c : outer) {
        CAPTURE(c.presentation);
        const std::string message = refusal(c.presentation);
        CHECK(message.substr(0, message.find(" at line ")) == c.message);
    }
}

TEST_CASE("the presentation checks report the first rule broken, elements before messages before the theme") {
    struct Case {
        std::string_view what;
        Presentation presentation;
        std::string message;
    };
    auto with = [](ElementSpec e, auto change) {
        change(e);
        return Presentation{}.with_element(std::move(e));
    };
    const Case cases[] = {
        {"blank key",
         with(level(),
              [](ElementSpec& e) {
                  e.key = " \t";
                  e.unit = "";
              }),
         "an element needs a key"},
        {"blank unit", with(level(), [](ElementSpec& e) { e.unit = "\xe2\x80\x83"; }),
         "the element `level` has no unit"},
        {"blank label", with(level(), [](ElementSpec& e) { e.label = ""; }), "the element `level` has no label"},
        {"twice", Presentation{}.with_element(level()).with_element(level()), "the element `level` is declared twice"},
        {"reversed band",
         with(level(),
              [](ElementSpec& e) {
                  e.band = {6, 1};
              }),
         "the element `level` has a band of 6 to 1; the low end comes first"},
        {"equal band",
         with(level(),
              [](ElementSpec& e) {
                  e.band = {5, 5};
              }),
         "the element `level` has a band of 5 to 5; the low end comes first"},
        {"infinite band",
         with(level(),
              [](ElementSpec& e) {
                  e.band = {-infinity, 5};
              }),
         "the element `level` has a band of -inf to 5; the low end comes first"},
        {"infinite value beside a state",
         with(level(),
              [](ElementSpec& e) {
                  e.value = infinity;
                  e.state = "state.on";
              }),
         "the element `level` has a starting value that is not a finite number"},
        {"value and state",
         with(level(),
              [](ElementSpec& e) {
                  e.value = 2;
                  e.state = "closed";
              }),
         "the element `level` starts with both a value and a state; a reading is one or the other"},
        {"state without prefix", with(level(), [](ElementSpec& e) { e.state = "closed"; }),
         "the element `level` starts in `closed`, which is not a `state.` code"},
        {"short state", with(level(), [](ElementSpec& e) { e.state = "state"; }),
         "the element `level` starts in `state`, which is not a `state.` code"},
        {"neither prefix", Presentation{}.with_message("alarm.high", LocalizedText::plain("x")),
         "the message `alarm.high` is neither a `state.` nor an `event.` code"},
        {"no en", Presentation{}.with_message("state.x", LocalizedText::per_locale({{"sw", "a"}, {"fr", "b"}})),
         "the message `state.x` gives no `en` text, which every other locale falls back to"},
        {"no entries", Presentation{}.with_message("state.x", LocalizedText::per_locale({})),
         "the message `state.x` gives no `en` text, which every other locale falls back to"},
        {"blank plain", Presentation{}.with_message("event.x", LocalizedText::plain("   ")),
         "the message `event.x` is empty"},
        {"the first code reported",
         Presentation{}
             .with_message("state.z", LocalizedText::plain(""))
             .with_message("event.z", LocalizedText::plain("")),
         "the message `event.z` is empty"},
        {"blank ok", Presentation{}.with_theme(Theme{.accent = "not a colour", .ok = " "}),
         "the theme's `ok` color is empty"},
        {"elements first",
         with(level(), [](ElementSpec& e) { e.key = ""; })
             .with_theme(Theme{.track = ""})
             .with_message("x", LocalizedText::plain("")),
         "an element needs a key"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.what);
        CHECK(check_message(c.presentation) == c.message);
    }
    const Case passing[] = {
        {"level and level with a blank",
         Presentation{}.with_element(level()).with_element(ElementSpec::make("level ", "m", "L", Viz::Bar)), ""},
        {"the bare prefixes",
         Presentation{}
             .with_element(level().with_state("state."))
             .with_message("event.", LocalizedText::plain("x"))
             .with_message("state.e", LocalizedText::per_locale({{"en", ""}})),
         ""},
        {"an empty theme", Presentation{}.with_theme(Theme{}), ""},
    };
    for (const auto& c : passing) {
        CAPTURE(c.what);
        CHECK(check_message(c.presentation) == "");
    }
}

TEST_CASE("a read presentation is checked: a band of 1e39 is an infinite end") {
    CHECK(refusal(R"({"elements": [{"key": "k", "unit": "u", "label": "L", "viz": "bar", "band": [0, 1e39]}]})") ==
          "the element `k` has a band of 0 to inf; the low end comes first");
}
