"""A Windows program's version resource, as the release and its checks need
it: the strings of its first string table (FileVersion, ProductName,
CompanyName, LegalCopyright...), the file version of its fixed part as four
numbers, and the language it names first, in decimal as an MSI's File table
holds it. The resource comes out of the program with wrestool (icoutils)."""

from __future__ import annotations

import dataclasses
import struct
from pathlib import Path

from . import programs
from .errors import ReleaseError

FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD
ROOT_KEY = "VS_VERSION_INFO"
# A block's length, its value's length and whether the value is text, then its key.
HEADER = struct.Struct("<HHH")
KEY_END = b"\0\0"
FIXED_FILE_INFO = struct.Struct("<IIII")  # signature, structure version, file version (high, low)
LANGUAGE = struct.Struct("<H")


class MalformedResource(ReleaseError):
    """A block that does not fit in the resource, or in the block holding it."""


@dataclasses.dataclass(frozen=True)
class Block:
    key: str
    value: bytes
    is_text: bool
    children: tuple[Block, ...]
    end: int  # the offset just past it in the resource


def aligned(offset: int) -> int:
    return (offset + 3) & ~3


def key_end(blob: bytes, start: int, end: int) -> int:
    """Where the UTF-16 key starting at start ends, its terminator within the block."""
    offset = start
    while blob[offset:offset + 2] != KEY_END:
        offset += 2
        if offset + 2 > end:
            raise MalformedResource(f"the key of the block at {start - HEADER.size} has no end within it")
    return offset


def parse_block(blob: bytes, offset: int, limit: int) -> Block:
    """The block at offset, which must end by limit, the end of the resource or of its parent."""
    if offset + HEADER.size + len(KEY_END) > limit:
        raise MalformedResource(f"a block at {offset} would end past {limit}")
    length, value_length, is_text = HEADER.unpack_from(blob, offset)
    end = offset + length
    # Each block holds at least its header and its key's end, so each child moves the parse on.
    if length < HEADER.size + len(KEY_END) or end > limit:
        raise MalformedResource(f"the block at {offset} is {length} bytes long, which does not fit in {limit}")
    key_stop = key_end(blob, offset + HEADER.size, end)
    value_start = aligned(key_stop + len(KEY_END))
    # A text value's length counts UTF-16 units, a binary one's bytes.
    value_end = value_start + value_length * (2 if is_text else 1)
    if value_end > end:
        raise MalformedResource(f"the value of the block at {offset} ends past the block")
    children: list[Block] = []
    child = aligned(value_end)
    while child < end:
        children.append(parse_block(blob, child, end))
        child = aligned(children[-1].end)
    key = blob[offset + HEADER.size:key_stop].decode("utf-16-le", errors="replace")
    return Block(key, blob[value_start:value_end], bool(is_text), tuple(children), end)


def text_of(value: bytes) -> str:
    return value.decode("utf-16-le", errors="replace").rstrip("\0")


def values_of(resource: bytes, program: str) -> dict[str, str]:
    """{name: value} of a version resource as wrestool gives it; program names it in a failure."""
    try:
        root = parse_block(resource, 0, len(resource))
    except MalformedResource as error:
        raise ReleaseError(f"{program}'s version resource is malformed: {error}") from error
    if root.key != ROOT_KEY or len(root.value) < FIXED_FILE_INFO.size:
        raise ReleaseError(f"{program}'s version resource is not {ROOT_KEY}")
    signature, _, file_ms, file_ls = FIXED_FILE_INFO.unpack_from(root.value)
    if signature != FIXED_FILE_INFO_SIGNATURE:
        raise ReleaseError(f"{program}'s version resource is not {ROOT_KEY}")
    values = {"file-version": f"{file_ms >> 16}.{file_ms & 0xFFFF}.{file_ls >> 16}.{file_ls & 0xFFFF}"}
    for block in root.children:
        if block.key == "VarFileInfo":
            for translation in block.children:
                if translation.key == "Translation" and len(translation.value) >= LANGUAGE.size:
                    values["language"] = str(LANGUAGE.unpack_from(translation.value)[0])
        elif block.key == "StringFileInfo" and block.children:
            for string in block.children[0].children:
                values[string.key] = text_of(string.value)
    return values


def read(program: Path) -> dict[str, str]:
    """{name: value} of the program's version resource: file-version, language, then each string."""
    extracted = programs.output(["wrestool", "-x", "--raw", "-t16", program])
    if not extracted:
        raise ReleaseError(f"no version resource in {program}")
    return values_of(extracted, str(program))
