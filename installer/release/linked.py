"""What a launcher is linked with, as the build writes it from the link
(`release.sh components`, NAME.components): every archive member and object
file the linker kept a section of, named by the component it belongs to, one
"component<TAB>file<TAB>source folder" line each, the source folder being
where its code lies in its Debian source package ("" for the whole package),
and for a JUCE module compiled from a file of this build's own, that file.
Files of this build's own libraries are looked up in the list the build
writes of what each is made from; every other file in Debian's package
database, and its package's source must be one the release knows
(components.SOURCES). The headers of a known source that the kept objects of
the build's own were compiled including are listed too: their templates are
that source's code in the launcher.

Two records of the build are read. GNU ld's link map says which inputs, and
which members of archives, the linker kept a section of. Ninja's dependency
log (.ninja_deps in the build folder), which it fills from the compiler's
dependency files as each object is compiled, says what each object was
compiled from: the source file first, then every file it includes. The log
is read, never written: Ninja may be appending to it while the release reads
it, and a record it has not finished is left out. A component left out would
be shipped without its licence, so a line of the map this reader does not
know, an input that is no file, or a file nobody can account for stops it.
"""

from __future__ import annotations

import dataclasses
import re
import struct
from collections.abc import Iterable, Iterator
from pathlib import Path

from .components import UNCLEAR_MEMBERS, included_rule, known_source
from .debian import PackageDatabase
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


DEPS_LOG = ".ninja_deps"
SIGNATURE = b"# ninjadeps\n"
VERSION = 4
DEPS_RECORD = 0x80000000


@dataclasses.dataclass(frozen=True)
class Record:
    mtime: int  # when Ninja saw the object last built
    files: tuple[str, ...]  # its source, then what it includes


def read_log(data: bytes, name: str) -> dict[str, Record]:
    """{output: its record} of a Ninja dependency log (format 4), the last record of each output."""
    start = len(SIGNATURE) + 4
    if not data.startswith(SIGNATURE) or len(data) < start or \
            struct.unpack_from("<i", data, len(SIGNATURE))[0] != VERSION:
        raise ReleaseError(f"{name} is no Ninja dependency log of format {VERSION}: build with the presets' "
                           "Ninja, whose log names what each object is compiled from")
    paths: list[str] = []
    records: dict[int, tuple[int, tuple[int, ...]]] = {}
    offset = start
    while offset + 4 <= len(data):
        header = struct.unpack_from("<I", data, offset)[0]
        size = header & ~DEPS_RECORD
        body = data[offset + 4:offset + 4 + size]
        if len(body) < size:
            break
        if header & DEPS_RECORD:
            output, mtime = struct.unpack_from("<iq", body)
            records[output] = (mtime, struct.unpack_from(f"<{(size - 12) // 4}i", body, 12))
        else:
            paths.append(body[:-4].rstrip(b"\0").decode("utf-8", "surrogateescape"))
        offset += 4 + size
    return {paths[output]: Record(mtime, tuple(paths[i] for i in ids)) for output, (mtime, ids) in records.items()
            if output < len(paths) and all(i < len(paths) for i in ids)}


@dataclasses.dataclass(frozen=True)
class DependencyLog:
    path: Path
    records: dict[Path, Record]  # by each object's real path

    @classmethod
    def of_build(cls, build_dir: Path) -> DependencyLog:
        path = build_dir / DEPS_LOG
        try:
            data = path.read_bytes()
        except OSError as error:
            raise ReleaseError(f"no Ninja dependency log at {path}: build with the presets' Ninja, whose log names "
                               "what each object is compiled from") from error
        return cls(path, {(build_dir / output).resolve(): record for output, record in read_log(data, str(path)).items()})

    def object_of(self, archive: Path, member: str) -> Path:
        """The object the build compiled an archive's member from. CMake puts those of lib<target>.a below
        CMakeFiles/<target>.dir beside it, each under the member's name; of an object moved since, Ninja's
        log keeps the old record too, older."""
        folder = archive.parent / "CMakeFiles" / f"{archive.stem.removeprefix('lib')}.dir"
        matches = [obj for obj in self.records if obj.name == member and obj.is_relative_to(folder)]
        if not matches:
            raise ReleaseError(f"the build's dependency log ({self.path}) names no object {member} below {folder}, "
                               f"which {archive} holds: what it is compiled from cannot be said")
        return max(matches, key=lambda obj: self.records[obj].mtime)

    def files_of(self, obj: Path) -> list[Path]:
        """The object's source, then every file it includes, each a real path."""
        if obj not in self.records:
            raise ReleaseError(f"the build's dependency log ({self.path}) does not say what {obj} is compiled from")
        return [(self.path.parent / file).resolve() for file in self.records[obj].files]

    def objects(self, path: Path, members: Iterable[str]) -> list[Path]:
        """The objects a link input is: itself, or the members of an archive."""
        members = sorted(members)
        return [self.object_of(path, member) for member in members] if members else [path]


# What the build's list of its own libraries says of the project's own code,
# which is no third party's.
OWN = "own"


@dataclasses.dataclass(frozen=True)
class OwnLibrary:
    """A line of the build's list of its own libraries: a file, or a folder and every file below it."""

    path: Path
    folder: bool
    origin: str  # OWN, JUCE's modules folder (ending in /), or the import library it was made from

    def holds(self, path: Path) -> bool:
        return path == self.path or (self.folder and path.is_relative_to(self.path))


def read_own_libraries(path: Path) -> list[OwnLibrary]:
    """The build's list of what its libraries are made from: "file<TAB>origin" lines, "folder/" for a folder."""
    libraries = []
    text = read_text(path, "the build's list of its own libraries")
    for number, line in enumerate(text.splitlines(), 1):
        if line.strip():
            file, tab, origin = line.partition("\t")
            if not tab or not origin:
                raise ReleaseError(f"line {number} of {path} is no \"file<TAB>origin\" line: {line!r}")
            libraries.append(OwnLibrary(Path(file).resolve(), file.endswith("/"), origin))
    return libraries


def own_origin(path: Path, libraries: Iterable[OwnLibrary]) -> str | None:
    return next((library.origin for library in libraries if library.holds(path)), None)


def component_of(path: Path, database: PackageDatabase, module_folder: str = "") -> tuple[str, tuple[str, ...]]:
    """(component, source folders) of a file from a Debian package."""
    package = database.owning_package(path)
    source = database.source_of(package)
    for rule in known_source(source, package, path).files:
        if re.fullmatch(rule.pattern, path.name):
            return rule.component, rule.folders if rule.folders is not None else (module_folder,)
    raise ReleaseError(f"{path} of Debian's {source} is no file of a component known here")


# JUCE's archives hold each module as one unit: juce_X.cpp, or this build's
# juce_X_mingw.cpp wrapper of it. Debian installs JUCE's modules/ folder.
JUCE_MEMBER = re.compile(r"(juce_[a-z_]+?)(?:_mingw)?\.cpp\.obj")


def juce_modules(modules_folder: str, archive: Path, members: Iterable[str],
                 log: DependencyLog) -> Iterator[tuple[Path, str, str]]:
    """(module header, source folder, the build's own file it is compiled from or "") of each JUCE module
    an archive's members are."""
    for member in sorted(members):
        match = JUCE_MEMBER.fullmatch(member)
        if not match:
            raise ReleaseError(f"{member} is no JUCE module of {modules_folder}")
        module = match.group(1)
        source = log.files_of(log.object_of(archive, member))[0]
        own = source != Path(modules_folder, module, module + ".cpp").resolve()
        yield Path(modules_folder, module, module + ".h"), f"modules/{module}/", str(source) if own else ""


def input_lines(path: Path, members: set[str], origin: str | None, build_dir: Path,
                database: PackageDatabase, log: DependencyLog) -> set[str]:
    """The components list's lines of one input the linker kept."""
    if origin == OWN:
        return set()
    if origin and origin.endswith("/"):
        return {"\t".join([component_of(header, database, folder)[0], str(header), folder] + [source] * bool(source))
                for header, folder, source in juce_modules(origin, path, members, log)}
    if origin is None and path.is_relative_to(build_dir.resolve()):
        raise ReleaseError(f"the build's list of its own libraries does not say what {path} is made from")
    file = Path(origin).resolve() if origin else path
    unclear_pattern = UNCLEAR_MEMBERS.get(file.name)
    unclear = sorted(member for member in members if unclear_pattern and unclear_pattern.fullmatch(member))
    if unclear:
        raise ReleaseError(f"the launcher would link {', '.join(unclear)} of {file}, code whose licence its "
                           "source calls unclear (installer/release/components.py, UNCLEAR_MEMBERS): ship its "
                           "source and name its licence as its files state it, or keep it out of the link")
    name, folders = component_of(file, database)
    return {f"{name}\t{file}\t{folder}" for folder in folders}


def included_lines(files: Iterable[Path], database: PackageDatabase) -> set[str]:
    """The components list's lines of the headers of known sources that the launcher's objects include."""
    ruled = {file: rule for file in files if (rule := included_rule(file))}
    database.look_up_owners(sorted(ruled))
    lines = set()
    for file, rule in ruled.items():
        package = database.owning_package(file)
        if rule not in known_source(database.source_of(package), package, file).included:
            raise ReleaseError(f"{file}, which the launcher's objects include, is of Debian's package {package}, "
                               f"not of the source whose headers {rule.component}'s are")
        lines |= {f"{rule.component}\t{file}\t{folder}" for folder in rule.folders or ("",)}
    return lines


def components_list(link_map: Path, own_libraries: Path, build_dir: Path,
                    database: PackageDatabase | None = None) -> str:
    """The components list (NAME.components) of the launcher a link map is of: what the link kept, and the
    headers of known sources that the objects it kept of the build's own were compiled including."""
    database = database or PackageDatabase()
    libraries = read_own_libraries(own_libraries)
    inputs = kept_inputs(link_map, build_dir)
    log = DependencyLog.of_build(build_dir)
    database.look_up_owners(sorted(path for path in inputs if own_origin(path, libraries) is None))
    lines: set[str] = set()
    compiled: set[Path] = set()
    for path, members in inputs.items():
        origin = own_origin(path, libraries)
        lines |= input_lines(path, members, origin, build_dir, database, log)
        if origin == OWN or (origin and origin.endswith("/")):
            compiled |= {file for obj in log.objects(path, members) for file in log.files_of(obj)}
    lines |= included_lines(compiled, database)
    return "\n".join(sorted(lines, key=str.lower)) + "\n"
