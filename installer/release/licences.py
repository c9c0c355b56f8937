"""The licences of what a launcher is made of, as Debian and its sources
state them: Debian's copyright file of each package (read by python3-debian,
as REUSE reads .reuse/dep5), its licence expressions as SPDX ones
(python3-license-expression, with Debian's short names mapped once, below),
and the licence files of a component whose source states its licence apart:
where one copyright file states one licence for several components
(mingw-w64's declares ZPL-2.1 for all it builds), or leaves out the
component's own terms (JUCE's LICENSE.md). Each of those is pinned by the
SHA-256 of the text that was read: a file that changes stops the release
until it is read again."""

from __future__ import annotations

import dataclasses
import functools
import hashlib
import re
import tempfile
from pathlib import Path
from typing import Any

from debian import copyright as debian_copyright
from license_expression import get_spdx_licensing  # type: ignore[import]  # Debian's ships no types

from . import programs
from .errors import ReleaseError, read_text

SPDX = get_spdx_licensing()
# Debian's licence short names (copyright-format 1.0) as SPDX identifiers.
# Any other name becomes a LicenseRef carrying the text Debian's file gives
# it; a name without a text stops the release rather than leave a licence unsaid.
DEBIAN_NAMES = {
    "apache-2.0": "Apache-2.0",
    "artistic-2.0": "Artistic-2.0",
    "bsd-2-clause": "BSD-2-Clause",
    "bsd-3-clause": "BSD-3-Clause",
    "expat": "MIT",
    "gpl-2+": "GPL-2.0-or-later",
    "gpl-3": "GPL-3.0-only",
    "gpl-3+": "GPL-3.0-or-later",
    "isc": "ISC",
    "lgpl-2+": "LGPL-2.0-or-later",
    "lgpl-2.1+": "LGPL-2.1-or-later",
    "lgpl-3+": "LGPL-3.0-or-later",
    "mpl-2.0": "MPL-2.0",
    "zlib": "Zlib",
    "zpl-2.1": "ZPL-2.1",
}
# Debian's packaging, which no component's code is.
PACKAGING = "debian/"
# A prose copyright file's statement of whose its code is: "GCC is Copyright (C) 1986, ... Foundation, Inc."
PROSE_COPYRIGHT = re.compile(r"^\S[^\n]* is Copyright \(C\)(?:.|\n)*?(?=\n\s*\n)", re.M)

Document = dict[str, Any]


@dataclasses.dataclass(frozen=True)
class CopyrightFile:
    """Debian's copyright file of a package: machine-readable, or prose (gcc's)."""

    path: Path
    text: str
    parsed: debian_copyright.Copyright | None
    licence_texts: dict[str, str]  # the first text the file gives each licence name, lower-cased

    @property
    def paragraphs(self) -> list[debian_copyright.FilesParagraph]:
        return list(self.parsed.all_files_paragraphs()) if self.parsed else []

    def paragraphs_for(self, folder: str) -> list[debian_copyright.FilesParagraph]:
        """The paragraphs that cover a folder of the source ("" for all of it): the one
        its files fall under by default, and those of files within it; for the whole
        package with no default, every paragraph but Debian's packaging."""
        default = [paragraph for paragraph in self.paragraphs if paragraph.matches(folder + "x")][-1:]
        if folder:
            return default + [paragraph for paragraph in self.paragraphs
                              if any(pattern.startswith(folder) for pattern in paragraph.files)]
        return default or [paragraph for paragraph in self.paragraphs
                           if not all(pattern.startswith(PACKAGING) for pattern in paragraph.files)]

    def licences_for(self, folder: str) -> list[str]:
        """The licence expressions of the paragraphs that cover a folder of the source."""
        return [synopsis(paragraph) for paragraph in self.paragraphs_for(folder)]

    def copyrights_for(self, folders: list[str]) -> list[str]:
        """The copyright lines of the paragraphs that cover folders of the source; in
        prose, the statement of who the package's code is copyright of."""
        if not self.parsed:
            statement = PROSE_COPYRIGHT.search(self.text)
            return [" ".join(statement.group(0).split())] if statement else []
        return [line.strip() for folder in folders for paragraph in self.paragraphs_for(folder)
                for line in str(field(paragraph, "copyright") or "").splitlines() if line.strip()]

    def all_licences(self) -> list[str]:
        """The licence expressions of every paragraph: the whole source package's, its packaging's too."""
        return [synopsis(paragraph) for paragraph in self.paragraphs]

    def licence_text(self, name: str) -> str:
        """The text the file gives a licence name, its continuation marks undone; "" if none."""
        return self.licence_texts.get(name.strip().lower(), "")


def field(paragraph: object, name: str) -> Any:
    """A field of a paragraph, as python3-debian gives it: its stubs name
    what its fields' descriptors hold, not what reading one gives."""
    return getattr(paragraph, name)


def synopsis(paragraph: object) -> str:
    """A paragraph's licence expression, the first line of its License field; "" if none."""
    licence = field(paragraph, "license")
    return str(licence.synopsis).strip() if licence else ""


def parse_copyright(text: str, path: Path) -> CopyrightFile:
    try:
        parsed = debian_copyright.Copyright(text.splitlines(keepends=True), strict=False)
    except debian_copyright.NotMachineReadableError:
        parsed = None
    except (debian_copyright.MachineReadableFormatError, ValueError) as error:
        raise ReleaseError(f"{path} is not in Debian's machine-readable copyright format, as it claims: {error}")
    texts: dict[str, str] = {}
    for paragraph in parsed.all_paragraphs() if parsed else []:
        licence = getattr(paragraph, "license", None)
        if licence and licence.text.strip():
            texts.setdefault(synopsis(paragraph).lower(), str(licence.text).strip())
    return CopyrightFile(path, text, parsed, texts)


@functools.lru_cache(maxsize=None)
def read_copyright(path: Path) -> CopyrightFile:
    return parse_copyright(read_text(path, "Debian's copyright file"), path)


def licence_ref(name: str) -> str:
    return "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]+", "-", name.strip())


def identifiers(expression: str) -> set[str]:
    """The licences and exceptions an SPDX expression names."""
    return set(SPDX.license_keys(SPDX.parse(expression)))


class Licences:
    """Debian's licence expressions as SPDX ones, and the texts of those SPDX does not list."""

    def __init__(self, prefix: str = "") -> None:
        self.extracted: dict[str, Document] = {}
        self.prefix = prefix  # of the references made, to tell one package's names from another's

    def identifier(self, name: str, copyright_file: CopyrightFile) -> str:
        key = name.strip().lower()
        if key in DEBIAN_NAMES:
            return DEBIAN_NAMES[key]
        text = copyright_file.licence_text(name)
        if not text:
            raise ReleaseError(f"Debian's copyright file {copyright_file.path} gives no text for the licence "
                               f"'{name}'")
        # Two copyright files may give one name two texts: each text its own reference.
        base = ref = licence_ref(self.prefix + name)
        count = 1
        while ref in self.extracted and self.extracted[ref]["extractedText"] != text:
            count += 1
            ref = f"{base}-{count}"
        self.extracted.setdefault(ref, {"licenseId": ref, "name": name.strip(), "extractedText": text})
        return ref

    def expression(self, debian_expression: str, copyright_file: CopyrightFile) -> str:
        """The SPDX expression of a Debian one. The format's comma closes a
        group ("A or B, and C" is (A OR B) AND C); within one, and binds
        tighter than or, as in SPDX."""
        groups = re.split(r",\s*(and|or)\s+", debian_expression.strip(), flags=re.I)
        spdx = " ".join(group.upper() if index % 2 else "(" + " ".join(
            word.upper() if at % 2 else self.identifier(word, copyright_file)
            for at, word in enumerate(re.split(r"\s+(and|or)\s+", group.strip(), flags=re.I))) + ")"
            for index, group in enumerate(groups))
        parsed = SPDX.parse(spdx)
        # Joined with others by AND, an OR keeps its parentheses.
        return f"({parsed.render()})" if isinstance(parsed, SPDX.OR) else str(parsed.render())


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
        programs.run(["dpkg-source", "-x", dsc, unpacked])
        return tuple((unpacked / path).read_text(encoding="utf-8") if (unpacked / path).is_file() else None
                     for path in paths)


def kept(name: str, deps: Path, dsc: Path | None) -> tuple[KeptLicenceFile, ...]:
    """A component's own licence files, each the text that was read: as tools/setup.sh keeps them, or from
    its whole source package, whose .dsc is given."""
    if name not in LICENCE_FILES:
        return ()
    own = LICENCE_FILES[name]
    folder = deps / own.source / LICENCE_FOLDER
    texts = unpacked_texts(dsc, tuple(path for path, _ in own.files)) if not folder.is_dir() and dsc else None
    files = []
    for index, (path, sha256) in enumerate(own.files):
        where = f"{name}'s licence file {path} from Debian's source package {own.source}"
        text = texts[index] if texts is not None else read_text(folder / path, where)
        if text is None:
            raise ReleaseError(f"{where} is missing: {dsc} holds no {path}")
        if hashlib.sha256(text.encode("utf-8")).hexdigest() != sha256:
            raise ReleaseError(f"{name}'s licence file {path} in Debian's source package {own.source} is not the "
                               f"text whose licence was read (SHA-256 {sha256}): read it and update "
                               "LICENCE_FILES in installer/release/licences.py")
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
