// The toolkit's Python-facing pieces against an embedded interpreter: the
// subclasses of TrovikError with a `kind`, writable attributes, and
// start-up's registration.
#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <source_location>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "binding/blocking.hpp"
#include "binding/class.hpp"
#include "binding/error_subclass.hpp"
#include "binding/errors.hpp"
#include "binding/registry.hpp"

using namespace trovik::py;

// The interpreter, and the types made once per process, keep what they
// allocate until the process ends.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() { return "leak:libpython"; }

int main(int argc, char** argv) {
    Py_InitializeEx(0);
    doctest::Context context(argc, argv);
    int rc = context.run();
    if (Py_FinalizeEx() < 0 && rc == 0) rc = 1;
    return rc;
}

namespace {

const BindingSource this_source{"probe"};

const ErrorSubclass probe_error{"ProbeError",
                                "Raised when the probe cannot go on. `kind` names why: `stuck` or `lost`. "
                                "`depth` and `until_us` carry what goes with it, and are `None` otherwise.",
                                {"depth", "until_us"}};

PyObject* make_answer(PyObject*, const void*) { return PyLong_FromLong(42); }
const bool answer_contributed = [] {
    contribute("answer", &make_answer, nullptr, std::source_location::current());
    return true;
}();

// A class with a writable attribute whose setter refuses some values.
struct Dial {
    std::int64_t setting = 0;
};
Class<Dial> dial_class{"Dial", "A setting that can be changed.", [](auto& c) {
                           c.init({}, [] { return Dial{}; });
                           c.prop(
                               "setting", "The current setting.", [](const Dial& d) { return d.setting; },
                               [](Dial& d, std::int64_t setting) {
                                   if (setting < 0) raise_value_error("setting must not be negative");
                                   d.setting = setting;
                               });
                           c.prop("twice", "Twice the setting.", [](const Dial& d) { return 2 * d.setting; });
                       }};

std::string text(PyObject* o) {
    Ref s(PyObject_Str(o));
    REQUIRE(s);
    const char* utf8 = PyUnicode_AsUTF8AndSize(s.get(), nullptr);
    REQUIRE(utf8);
    return utf8;
}

std::string attribute_text(PyObject* o, const char* name) {
    Ref value(PyObject_GetAttrString(o, name));
    REQUIRE(value);
    return text(value.get());
}

// Takes the pending exception, normalised.
Ref take_pending() {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return Ref(value);
}

Ref raised(std::string_view kind, std::string_view message, std::initializer_list<ErrorSubclass::Detail> details) {
    try {
        probe_error.raise(kind, message, details);
    } catch (const PendingError&) {
        return take_pending();
    }
    return Ref();
}

}  // namespace

TEST_CASE("a subclass is a TrovikError named after itself, with nothing but its docstring") {
    PyObject* type = probe_error.type();
    REQUIRE(type);
    CHECK(probe_error.type() == type);
    CHECK(PyObject_IsSubclass(type, trovik_error_type()) == 1);
    CHECK(attribute_text(type, "__name__") == "ProbeError");
    CHECK(attribute_text(type, "__module__") == "trovik");
    CHECK(attribute_text(type, "__doc__").starts_with("Raised when the probe cannot go on."));
    for (const char* name : {"kind", "depth", "until_us"}) {
        CAPTURE(name);
        CHECK(PyObject_HasAttrString(type, name) == 0);
    }
}

TEST_CASE("a raised instance carries its message, its kind, and None for what does not go with it") {
    struct Case {
        const char* kind;
        std::vector<std::pair<const char*, std::optional<std::int64_t>>> given;
        const char* depth;
        const char* until_us;
    };
    const Case cases[] = {
        {"lost", {}, "None", "None"},
        {"stuck", {{"depth", 12}}, "12", "None"},
        {"stuck_at_depth", {{"until_us", 5000}, {"depth", std::nullopt}}, "None", "5000"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.kind);
        Ref exc;
        if (c.given.empty())
            exc = raised(c.kind, "the probe is lost", {});
        else if (c.given.size() == 1)
            exc = raised(c.kind, "the probe is lost", {{c.given[0].first, c.given[0].second}});
        else
            exc = raised(c.kind, "the probe is lost",
                         {{c.given[0].first, c.given[0].second}, {c.given[1].first, c.given[1].second}});
        REQUIRE(exc);
        CHECK(PyObject_IsInstance(exc.get(), probe_error.type()) == 1);
        CHECK(text(exc.get()) == "the probe is lost");
        Ref args(PyObject_GetAttrString(exc.get(), "args"));
        CHECK(PyTuple_Size(args.get()) == 1);
        CHECK(attribute_text(exc.get(), "kind") == c.kind);
        CHECK(attribute_text(exc.get(), "depth") == c.depth);
        CHECK(attribute_text(exc.get(), "until_us") == c.until_us);
    }
    CHECK_FALSE(PyErr_Occurred());
}

TEST_CASE("a kind that is not snake_case, or an attribute the type does not declare, is the caller's fault") {
    for (const char* kind : {"", "Stuck", "stuck-fast", "9lives", "stuck fast"}) {
        CAPTURE(kind);
        CHECK_THROWS_AS(probe_error.instance(kind, "x"), std::logic_error);
    }
    CHECK_THROWS_WITH_AS(probe_error.instance("stuck", "x", {{"unit", 1}}), "trovik.ProbeError has no attribute 'unit'",
                         std::logic_error);
    CHECK_FALSE(PyErr_Occurred());
}

TEST_CASE("start-up adds each contribution at its place, under the source its file or declaration names") {
    constexpr OrderEntry order[] = {
        {"exception", "ProbeError"}, {"probe", "missing"}, {"probe", "answer"}, {"probe", "Dial"}};
    Ref module(PyModule_New("probe"));
    REQUIRE(populate(module.get(), order) == 0);
    CHECK(text(Ref(PyObject_GetAttrString(module.get(), "__all__")).get()) == "['ProbeError', 'answer', 'Dial']");
    CHECK(Ref(PyObject_GetAttrString(module.get(), "ProbeError")).get() == probe_error.type());
    CHECK(attribute_text(module.get(), "answer") == "42");
}

TEST_CASE("start-up refuses a misplaced entry with ImportError, before adding anything") {
    constexpr OrderEntry order[] = {{"exception", "answer"}, {"probe", "ProbeError"}, {"probe", "Dial"}};
    Ref module(PyModule_New("probe"));
    REQUIRE(populate(module.get(), order) == -1);
    Ref exc = take_pending();
    REQUIRE(exc);
    CHECK(PyObject_IsInstance(exc.get(), PyExc_ImportError) == 1);
    CHECK(text(exc.get()) ==
          "registration: 'ProbeError' is contributed by 'exception' but the registration order gives it to 'probe'\n"
          "registration: 'answer' is contributed by 'probe' but the registration order gives it to 'exception'");
    CHECK(PyObject_HasAttrString(module.get(), "__all__") == 0);
}

TEST_CASE("blocking work runs without the interpreter lock, which another thread takes meanwhile") {
    std::atomic<bool> other_ran{false};
    std::thread other;
    const int answer = without_gil([&] {
        CHECK(gil_depth == 0);
        other = std::thread([&] {
            PyGILState_STATE state = PyGILState_Ensure();  // would wait for ever if the lock were held
            other_ran = true;
            PyGILState_Release(state);
        });
        other.join();
        return 42;
    });
    CHECK(answer == 42);
    CHECK(other_ran);
    CHECK(gil_depth == 0);  // as it was before: this test holds the lock without counting it
}

namespace {

// Sets `name` on `o` (deletes it when `value` is null) and returns the
// exception raised, or null when it succeeded.
Ref set_attribute(PyObject* o, const char* name, PyObject* value) {
    if (PyObject_SetAttrString(o, name, value) == 0) return Ref();
    return take_pending();
}

std::string notes(PyObject* exc) {
    Ref n(PyObject_GetAttrString(exc, "__notes__"));
    if (!n) {
        PyErr_Clear();
        return "";
    }
    return text(n.get());
}

}  // namespace

TEST_CASE("a writable attribute converts the value, lets the setter refuse it, and borrows the object exclusively") {
    PyObject* type = reinterpret_cast<PyObject*>(dial_class.type());
    REQUIRE(type);
    Ref dial(PyObject_CallNoArgs(type));
    REQUIRE(dial);
    Ref descriptor(PyObject_GetAttrString(type, "setting"));
    CHECK(attribute_text(descriptor.get(), "__doc__") == "The current setting.");

    Ref seven(PyLong_FromLong(7));
    CHECK_FALSE(set_attribute(dial.get(), "setting", seven.get()));
    CHECK(attribute_text(dial.get(), "setting") == "7");
    CHECK(attribute_text(dial.get(), "twice") == "14");

    struct Refused {
        const char* given;
        Ref value;  // null deletes the attribute
        PyObject* type;
        const char* message;
        const char* notes;
    };
    Refused refused[] = {
        {"-1", Ref(PyLong_FromLong(-1)), PyExc_ValueError, "setting must not be negative", ""},
        {"'3'", Ref(PyUnicode_FromString("3")), PyExc_TypeError, "", "setting"},
        {"2**64", Ref(PyLong_FromString("18446744073709551616", nullptr, 10)), PyExc_OverflowError, "", "setting"},
        {"del", Ref(), PyExc_TypeError, "cannot delete attribute 'setting'", ""},
    };
    for (const Refused& r : refused) {
        CAPTURE(r.given);
        REQUIRE((r.value || r.given == std::string_view("del")));
        Ref exc = set_attribute(dial.get(), "setting", r.value.get());
        REQUIRE(exc);
        CHECK(PyObject_IsInstance(exc.get(), r.type) == 1);
        if (*r.message) CHECK(text(exc.get()) == r.message);
        CHECK(notes(exc.get()).find(r.notes) != std::string::npos);
        CHECK(attribute_text(dial.get(), "setting") == "7");
    }

    {
        SharedBorrow reading(dial.get(), true);
        Ref exc = set_attribute(dial.get(), "setting", seven.get());
        REQUIRE(exc);
        CHECK(PyObject_IsInstance(exc.get(), PyExc_RuntimeError) == 1);
        CHECK(text(exc.get()) == "Already borrowed");
    }
    Ref nine(PyLong_FromLong(9));
    CHECK_FALSE(set_attribute(dial.get(), "setting", nine.get()));
    CHECK(attribute_text(dial.get(), "setting") == "9");

    Ref read_only = set_attribute(dial.get(), "twice", seven.get());
    REQUIRE(read_only);
    CHECK(PyObject_IsInstance(read_only.get(), PyExc_AttributeError) == 1);
    CHECK_FALSE(PyErr_Occurred());
}
