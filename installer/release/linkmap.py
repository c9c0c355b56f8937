"""GNU ld's link map of a launcher: which input files, and which members of
archives, the linker kept a section of. A component left out of the notices
would be shipped without its licence, so a line this reader does not know,
or an input that is no file, stops it rather than be skipped."""

from __future__ import annotations

import dataclasses
import re
from pathlib import Path

from .errors import ReleaseError, read_text

# The lines of the memory map part of GNU ld's map, as ld prints them. An
# input file is named only by a placement line, after the section's name (on
# the line before when it is long), its address and its size; everything
# after the size is the file's path, spaces and all, or ARCHIVE(MEMBER).
MAP_START = "Linker script and memory map"
PLACEMENT = re.compile(r"^ (\S+)? +0x[0-9a-f]+ +0x([0-9a-f]+)(?: (.*))?$")
DATA_STATEMENT = re.compile(r"^(?:BYTE|SHORT|LONG|QUAD|SQUAD) 0x[0-9a-f]+$")
ARCHIVE_MEMBER = re.compile(r"^(.+)\(([^()]+)\)$")
OTHER_LINES = [
    re.compile(r"^$"),
    re.compile(r"^LOAD .+$"),
    re.compile(r"^OUTPUT\(.+\)$"),
    re.compile(r"^(?:START|END) GROUP$"),
    # An output section, and a /DISCARD/ one.
    re.compile(r"^[^ ]+(?: +0x[0-9a-f]+ +0x[0-9a-f]+)?(?: load address 0x[0-9a-f]+)?$"),
    # A symbol, or an assignment of the script.
    re.compile(r"^ {16}(?:0x[0-9a-f]+|\[!provide\]) {16,}\S.*$"),
    # A statement of the script, or a section name too long for its line.
    re.compile(r"^ [^ 0].*$"),
]
FILL = "*fill*"

# Inputs the linker makes itself: no file, and no one's code but its own.
LINKER_INPUTS = {"dll stuff", "linker stubs"}


@dataclasses.dataclass(frozen=True)
class Placement:
    """A non-empty section the linker kept of an input, as the map names it."""

    file: str  # as the map names it: relative to the folder the linker ran in, or absolute
    member: str | None  # the archive's member, None for an object file
    number: int  # the map's line
    line: str


def placed_file(rest: str | None) -> tuple[str, str | None] | None:
    """The (file, member) a placement line names, None for what the linker made or a data statement."""
    if rest is None or rest.strip() in LINKER_INPUTS or DATA_STATEMENT.match(rest):
        return None
    member = ARCHIVE_MEMBER.match(rest)
    return (member.group(1), member.group(2)) if member else (rest, None)


def placements(text: str, name: str) -> list[Placement]:
    """Every placement of a non-empty section of an input file in a map's text; name says which map."""
    start = text.find(MAP_START + "\n")
    if start < 0:
        raise ReleaseError(f"{name} is no GNU ld link map")
    first_line = text.count("\n", 0, start) + 2
    found = []
    for number, line in enumerate(text[start:].splitlines()[1:], first_line):
        placement = PLACEMENT.match(line)
        if placement and placement.group(1) == FILL:
            continue
        if not placement:
            if not any(shape.match(line) for shape in OTHER_LINES):
                raise ReleaseError(f"line {number} of {name} is nothing this reader knows: {line!r}")
            continue
        placed = placed_file(placement.group(3))
        if placed is not None and int(placement.group(2), 16) != 0:
            found.append(Placement(placed[0], placed[1], number, line))
    return found


def kept_inputs(link_map: Path, build_dir: Path) -> dict[Path, set[str]]:
    """{file: {members}} of the inputs the linker kept a non-empty section of, each file's real path."""
    inputs: dict[Path, set[str]] = {}
    text = read_text(link_map, "the launcher's link map")
    for placement in placements(text, str(link_map)):
        path = (build_dir / placement.file).resolve()
        if not path.is_file():
            raise ReleaseError(f"line {placement.number} of {link_map} names {placement.file}, "
                               f"which is no file here: {placement.line!r}")
        members = inputs.setdefault(path, set())
        if placement.member:
            members.add(placement.member)
    return inputs
