"""Documents cut short: a reader refuses a text that ends early at the end of the text, never elsewhere."""
import re

import pytest

from trovik._native import TrovikError

EOF = re.compile(r"codec error: EOF while parsing (a value|a string|an object|a list) at line (\d+) column (\d+)")


def end_of(text):
    """Where the readers place the end of `text`: its last line, and the bytes on that line."""
    data = text.encode()
    return data.count(b"\n") + 1, len(data) - (data.rfind(b"\n") + 1)


def assert_every_cut_is_refused_at_its_end(read, text):
    """`read` takes `text` whole, and refuses each shorter start of it as ending early, at its end."""
    read(text)
    for cut in range(len(text)):
        part = text[:cut]
        with pytest.raises(TrovikError) as info:
            read(part)
        found = EOF.fullmatch(str(info.value))
        assert found, (part, str(info.value))
        assert (int(found[2]), int(found[3])) == end_of(part), (part, str(info.value))
