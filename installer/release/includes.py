"""What the launcher's translation units were compiled from, as the build
recorded it: Ninja's dependency log (.ninja_deps in the build folder), which
it fills from the compiler's dependency files as each object is compiled,
the source file first, then every file it includes. A header's templates and
inline functions are compiled into the object that includes it, so the
headers of a library included by an object the link keeps are that library's
code in the launcher, as much as an archive member is.

The log is read, never written: Ninja may be appending to it while the
release reads it, and a record it has not finished is left out."""

from __future__ import annotations

import dataclasses
import struct
from collections.abc import Iterable
from pathlib import Path

from .errors import ReleaseError

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
