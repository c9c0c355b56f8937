import struct

import pytest

from release import version_resource
from release.errors import ReleaseError

FIXED = struct.pack("<IIII", 0xFEEF04BD, 0x10000, (1 << 16) | 2, (3 << 16) | 4) + bytes(36)


def padded(data: bytes) -> bytes:
    return data + bytes(-len(data) % 4)


def block(key: str, value: bytes = b"", is_text: bool = False, children=(), length=None) -> bytes:
    """A block as a resource compiler writes it: header, key, value and children, each on a 4-byte boundary."""
    body = padded(padded(bytes(6) + key.encode("utf-16-le") + b"\0\0") + value) + b"".join(map(padded, children))
    header = struct.pack("<HHH", len(body) if length is None else length, len(value) // (2 if is_text else 1), is_text)
    return header + body[6:]


def string(key: str, text: str) -> bytes:
    return block(key, (text + "\0").encode("utf-16-le"), True)


def resource(fixed=FIXED, key="VS_VERSION_INFO", extra=()) -> bytes:
    strings = block("StringFileInfo", children=[block("040904B0", children=[
        string("FileVersion", "1.2.3"), string("ProductName", "Exämple")])])
    translation = block("VarFileInfo", children=[block("Translation", struct.pack("<HH", 1033, 1200))])
    return block(key, fixed, children=[strings, translation, *extra])


def overlong_value() -> bytes:
    blob = bytearray(resource())
    struct.pack_into("<H", blob, 2, len(blob))
    return bytes(blob)


@pytest.mark.parametrize("blob, message", [
    pytest.param(resource()[:60], "malformed: the block at 0 is .* bytes long, which does not fit in 60", id="cut"),
    # A block of no length would be read again and again.
    pytest.param(resource(extra=[block("Empty", length=0)]), "malformed: the block at .* is 0 bytes long", id="empty"),
    pytest.param(struct.pack("<HHH", 10, 0, 0) + "AB".encode("utf-16-le"),
                 "malformed: the key of the block at 0 has no end", id="endless key"),
    pytest.param(overlong_value(), "malformed: the value of the block at 0 ends past the block", id="long value"),
    pytest.param(resource(fixed=bytes(52)), "x.exe's version resource is not VS_VERSION_INFO", id="no signature"),
    pytest.param(resource(key="OTHER"), "x.exe's version resource is not VS_VERSION_INFO", id="other key"),
])
def test_a_resource_that_does_not_hold_together_is_refused(blob, message):
    with pytest.raises(ReleaseError, match=message):
        version_resource.values_of(blob, "x.exe")


def test_the_version_strings_and_language_are_read():
    assert version_resource.values_of(resource(), "x.exe") == {
        "file-version": "1.2.3.4", "FileVersion": "1.2.3", "ProductName": "Exämple", "language": "1033"}
