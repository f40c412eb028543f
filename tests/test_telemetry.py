"""The telemetry reporter: counting events by level, shipping those at or above
a threshold, and moving the threshold with the cost of the link."""

import pytest

LEVELS = ["Trace", "Debug", "Info", "Warn", "Error"]
COSTS = {"Free": "Trace", "Metered": "Info", "Expensive": "Warn", "Offline": "Error"}


def test_threshold_drops_but_counts(native):
    r = native.Reporter("Warn")
    assert [r.record(level) for level in ("Info", "Warn", "Error")] == [False, True, True]
    assert (r.total, r.emitted, r.dropped) == (3, 2, 1)
    assert [r.count(level) for level in LEVELS] == [0, 0, 1, 1, 1]


@pytest.mark.parametrize("threshold", LEVELS)
def test_every_level_against_every_threshold(native, threshold):
    r = native.Reporter(threshold)
    assert r.threshold == threshold
    shipped = [r.record(level) for level in LEVELS]
    assert shipped == [LEVELS.index(level) >= LEVELS.index(threshold) for level in LEVELS]
    assert r.total == 5 and r.emitted == sum(shipped) and r.dropped == 5 - sum(shipped)


@pytest.mark.parametrize("cost, level", COSTS.items())
def test_link_cost_moves_the_threshold(native, cost, level):
    assert native.link_cost_threshold(cost) == level
    r = native.Reporter("Error")
    r.record("Info")
    r.adapt_to(cost)
    assert r.threshold == level
    assert r.total == 1 and r.count("Info") == 1  # counters untouched
    assert r.record("Trace") is (cost == "Free")


def test_threshold_setter(native):
    r = native.Reporter("Error")
    r.threshold = "Debug"
    assert r.threshold == "Debug" and r.record("Debug") is True
    with pytest.raises(native.TrovikError) as err:
        r.threshold = "debug"
    assert str(err.value) == "unknown level debug" and r.threshold == "Debug"
    with pytest.raises(TypeError) as err:
        r.threshold = 1
    assert "threshold" in " ".join(getattr(err.value, "__notes__", []))
    with pytest.raises(TypeError):
        del r.threshold
    assert native.Reporter.threshold.__doc__ == "The level this reporter is currently shipping from."


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda n: n.Reporter("info"), "unknown level info"),
        (lambda n: n.Reporter("Warn").record("info"), "unknown level info"),
        (lambda n: n.Reporter("Warn").count(" Info"), "unknown level  Info"),
        (lambda n: n.Reporter("Warn").adapt_to("Cheap"), "unknown link cost Cheap"),
        (lambda n: n.link_cost_threshold("expensive"), "unknown link cost expensive"),
        (lambda n: n.link_cost_threshold("Warn"), "unknown link cost Warn"),
    ],
)
def test_unknown_names(native, call, message):
    with pytest.raises(native.TrovikError) as err:
        call(native)
    assert err.type is native.TrovikError and err.value.args == (message,)


def test_a_refused_record_counts_nothing(native):
    r = native.Reporter("Trace")
    with pytest.raises(native.TrovikError):
        r.record("info")
    assert r.total == 0 and r.emitted == 0
    with pytest.raises(native.TrovikError):
        r.adapt_to("free")
    assert r.threshold == "Trace"


@pytest.mark.parametrize("call", [lambda n: n.Reporter(2), lambda n: n.Reporter("Info").record(b"Info"),
                                  lambda n: n.link_cost_threshold(None)])
def test_names_must_be_text(native, call):
    with pytest.raises(TypeError):
        call(native)


def test_snapshot_is_a_copy(native):
    r = native.Reporter("Info")
    for level in ("Trace", "Debug", "Debug", "Info", "Warn", "Error", "Error"):
        r.record(level)
    snap = r.snapshot()
    fields = ("trace", "debug", "info", "warn", "error", "emitted", "dropped")
    assert tuple(getattr(snap, f) for f in fields) == (1, 2, 1, 1, 2, 4, 3)
    r.record("Error")
    r.adapt_to("Free")
    r.record("Trace")
    assert tuple(getattr(snap, f) for f in fields) == (1, 2, 1, 1, 2, 4, 3)
    assert r.snapshot().emitted == 6
    with pytest.raises(TypeError):
        native.Snapshot()
    with pytest.raises(AttributeError):
        snap.trace = 5
    assert native.Snapshot.__doc__ == "A count of everything a reporter has seen, cheap enough to ship anywhere."
    assert native.Snapshot.emitted.__doc__ == "How many events passed the filter and were shipped."


def test_docstrings(native):
    assert native.Reporter.record.__doc__.startswith(
        "Records an event at a level and reports whether it should be shipped.")
    assert "The event is counted either way" in native.Reporter.record.__doc__
    assert native.Reporter.total.__doc__ == "How many events have been seen across every level."
    assert native.Reporter.dropped.__doc__ == "How many events the threshold dropped."
    assert native.link_cost_threshold.__doc__.endswith("Returns the level a named link cost calls for.")
