"""Deeply nested JSON values, where the column of the refusal falls, and a reader run on a small stack."""
import subprocess
import sys

import trovik._native as native

# Arrays and objects nest this deep in every JSON text the module reads; the bracket that opens one level
# more is refused.
LIMIT = 128


def nested(levels, kind="array"):
    """A value nested `levels` deep: arrays inside arrays, or objects holding one key "a"."""
    if kind == "array":
        return "[" * levels + "]" * levels
    return '{"a":' * levels + "0" + "}" * levels


def depth_before(text):
    """How many arrays and objects are open at the end of `text`, whose strings hold no quote or bracket."""
    depth, in_string = 0, False
    for c in text:
        if c == '"':
            in_string = not in_string
        elif not in_string and c in "[{":
            depth += 1
        elif not in_string and c in "]}":
            depth -= 1
    return depth


def too_deep_at(text):
    """The column of the bracket that opens level LIMIT + 1 of a one-line text, or None."""
    depth, in_string = 0, False
    for column, c in enumerate(text, 1):
        if c == '"':
            in_string = not in_string
        elif not in_string and c in "[{":
            depth += 1
            if depth > LIMIT:
                return column
        elif not in_string and c in "]}":
            depth -= 1
    return None


_READ = """
import sys, threading
import trovik._native as native

owner, name = sys.argv[1].split(".")
reader = getattr(getattr(native, owner), name)
text = sys.stdin.read()
said = []

def read():
    try:
        reader(text)
        said.append("read")
    except native.TrovikError as error:
        said.append(str(error))

threading.stack_size(256 * 1024)
thread = threading.Thread(target=read)
thread.start()
thread.join()
print(said[0])
"""


def read_on_a_small_stack(reader, text):
    """Reads `text` with `reader` ("Profile.from_json") in a fresh interpreter, on a thread whose stack is
    256 KiB, and returns the refusal's text, or "read". A reader that recursed once per level without bound
    would crash there, long before it would on the main thread's stack, and the crash fails the test with
    its report instead of taking pytest down."""
    out = subprocess.run([sys.executable, "-c", _READ, reader], input=text, capture_output=True, text=True,
                         encoding="utf-8", timeout=120)
    assert out.returncode == 0, f"the reader died with {out.returncode}: {out.stderr[-2000:]}"
    return out.stdout.rstrip("\n")


def assert_refused_past_the_limit(template, kind, deep):
    """Reads the manifest `template` with its %s nested one level past the limit ("one level too deep") or
    100,000 levels deep, on a small stack, and checks it is refused at the bracket past the limit, in the words
    and at the place of the module's own JSON reader."""
    prefix = template.split("%s")[0]
    levels = LIMIT + 1 - depth_before(prefix) if deep == "one level too deep" else 100_000
    text = template % nested(levels, kind)
    expected = f"codec error: recursion limit exceeded at line 1 column {too_deep_at(text)}"
    assert read_on_a_small_stack("Profile.from_json", text) == expected
    try:
        native.json_to_cbor_bytes(text.encode())
    except native.TrovikError as error:
        assert str(error) == expected
    else:
        raise AssertionError("the JSON reader took a text nested past its limit")


def assert_read_whole_at_the_limit(template, kind, refusal):
    """Reads the manifest `template` with its %s nested exactly to the limit, which the module's own JSON reader
    takes, and checks the value is read whole and only then refused: `refusal(end)` is the expected text for a
    value that ends at column `end`."""
    prefix = template.split("%s")[0]
    value = nested(LIMIT - depth_before(prefix), kind)
    text = template % value
    native.json_to_cbor_bytes(text.encode())  # the limit itself is no refusal
    try:
        native.Profile.from_json(text)
    except native.TrovikError as error:
        assert str(error) == refusal(len(prefix) + len(value))
    else:
        raise AssertionError("a value of no known shape was taken")
