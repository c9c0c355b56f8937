"""A component's own licence files, which the notices carry as its source
ships them: where a Debian package's copyright file states one licence for
several components (mingw-w64's declares ZPL-2.1 for all it builds), or
leaves out the component's own terms (JUCE's LICENSE.md). Each is pinned by
the SHA-256 of the text that was read: a file that changes stops the release
until it is read again."""

from __future__ import annotations

import dataclasses
import functools
import hashlib
import tempfile
from pathlib import Path

from .debian import run_command
from .errors import ReleaseError, read_text


@dataclasses.dataclass(frozen=True)
class OwnLicence:
    source: str  # the source package the files are in
    files: tuple[tuple[str, str], ...]  # (path in the source package, SHA-256 of the text that was read)
    licence: str | None  # the SPDX expression that reading concluded, None where the copyright file says it


LICENCE_FILES = {
    "winpthreads": OwnLicence("mingw-w64", (
        ("mingw-w64-libraries/winpthreads/COPYING", "63263614cdd29f2f93cba85e992f041b31f9fc7b4033692f31269489a8a1b177"),
    ), "MIT AND BSD-3-Clause"),
    "MinGW-w64 run-time": OwnLicence("mingw-w64", (
        ("COPYING.MinGW-w64-runtime/COPYING.MinGW-w64-runtime.txt",
         "e9b2dc02451ea29092a1f25fa0f3c07207ed421f1807dffb0c4e6dce69dee7bd"),
    ), None),
    # JUCE's terms, its EULA or the GPL version 3 and the ISC licence of
    # some modules, which Debian's copyright file words as GPL-3 and ISC alone.
    "JUCE": OwnLicence("juce", (
        ("LICENSE.md", "aca7d911fdc27bea07eadb18efb38225c3987d512816cea0cef203d1c96415e9"),
    ), None),
}
# Where tools/setup.sh keeps those of a source package of which it keeps only
# the .dsc: DEPS/SOURCE/licence-files/PATH. Of a source package it keeps
# whole, they are read from the package, unpacked as dpkg-source unpacks it.
LICENCE_FOLDER = "licence-files"


@dataclasses.dataclass(frozen=True)
class KeptLicenceFile:
    path: str  # in the source package
    text: str


def sha256_of(path: Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


@functools.lru_cache(maxsize=None)
def unpacked_texts(dsc: Path, paths: tuple[str, ...]) -> tuple[str | None, ...]:
    """The files of a whole source package, as dpkg-source -x unpacks it (Debian's patches applied)."""
    with tempfile.TemporaryDirectory() as work:
        unpacked = Path(work) / "source"
        run = run_command(["dpkg-source", "-x", str(dsc), str(unpacked)])
        if run.returncode != 0:
            raise ReleaseError(f"dpkg-source could not unpack {dsc}: {run.stderr.strip()}")
        return tuple((unpacked / path).read_text(encoding="utf-8") if (unpacked / path).is_file() else None
                     for path in paths)


def kept(name: str, deps: Path, dsc: Path | None) -> tuple[KeptLicenceFile, ...]:
    """A component's own licence files, each the text that was read: as tools/setup.sh keeps them, or from
    its whole source package, whose .dsc is given."""
    if name not in LICENCE_FILES:
        return ()
    own = LICENCE_FILES[name]
    folder = deps / own.source / LICENCE_FOLDER
    whole = not folder.is_dir() and dsc is not None
    texts = unpacked_texts(dsc, tuple(path for path, _ in own.files)) if whole and dsc else ()
    files = []
    for index, (path, sha256) in enumerate(own.files):
        where = f"{name}'s licence file {path} from Debian's source package {own.source}"
        text = texts[index] if whole else read_text(folder / path, where)
        if text is None:
            raise ReleaseError(f"{where} is missing: {dsc} holds no {path}")
        if hashlib.sha256(text.encode("utf-8")).hexdigest() != sha256:
            raise ReleaseError(f"{name}'s licence file {path} in Debian's source package {own.source} is not the "
                               f"text whose licence was read (SHA-256 {sha256}): read it and update "
                               "LICENCE_FILES in installer/release/licence_files.py")
        files.append(KeptLicenceFile(path, text))
    return tuple(files)


def kept_paths(name: str, deps: Path) -> list[Path]:
    """The files below DEPS the release reads a component's licence files from, where the set-up keeps them apart."""
    own = LICENCE_FILES.get(name)
    folder = deps / own.source / LICENCE_FOLDER if own else None
    return [folder / path for path, _ in own.files] if own and folder and folder.is_dir() else []


def licence_paths(source: str) -> list[str]:
    """The licence files of a source package the release reads, as paths in it, for tools/setup.sh to keep."""
    return [path for own in LICENCE_FILES.values() if own.source == source for path, _ in own.files]
