"""The licences of the Debian source packages a release's source archive
carries below debian-source-packages/, as REUSE reads them there: the
project's .reuse/dep5 states an SPDX expression for each package's folder
(and for licence files kept apart), and the archive carries, below LICENSES/,
the text of each licence those name that the project's LICENSES/ lacks, as
REUSE keeps them. So `reuse lint` and `reuse spdx` in the unpacked archive
give every file a licence of its own, none NOASSERTION.

What .reuse/dep5 states of a package whose Debian copyright file is
machine-readable must be every licence that file names (its packaging's
too), each as the bill of materials names it, its own references prefixed
with the package's name; a statement that differs stops the release, naming
both. The texts come from Debian: /usr/share/common-licenses, the licence
paragraphs of the packages' copyright files, and for gcc-12 its copyright
file, prose, whole (LicenseRef-gcc-12-copyright) and its GCC Runtime Library
Exception."""

from __future__ import annotations

import re
from collections.abc import Iterable, Sequence
from pathlib import Path

from .components import Component, sources_of
from .errors import ReleaseError, read_text
from .licences import Licences, identifiers, parse_copyright, read_copyright, synopsis

SOURCES_FOLDER = "debian-source-packages"
LICENCES_FOLDER = "LICENSES"
COMMON_LICENCES = Path("/usr/share/common-licenses")
# SPDX identifiers whose texts Debian keeps in /usr/share/common-licenses.
COMMON = {"GPL-2.0-only": "GPL-2", "GPL-2.0-or-later": "GPL-2", "GPL-3.0-only": "GPL-3", "GPL-3.0-or-later": "GPL-3",
          "LGPL-2.0-or-later": "LGPL-2", "LGPL-2.1-or-later": "LGPL-2.1", "Apache-2.0": "Apache-2.0",
          "GFDL-1.2-or-later": "GFDL-1.2", "GFDL-1.3-or-later": "GFDL-1.3"}
# gcc-12's and gcc-mingw-w64's copyright files are prose: their licences are
# named in .reuse/dep5 by hand, each file the text of all it says beside the
# GPL and the exception.
PROSE_COPYRIGHT = {"LicenseRef-gcc-12-copyright": Path("/usr/share/doc/gcc-12-base/copyright"),
                   "LicenseRef-gcc-mingw-w64-copyright": Path("/usr/share/doc/gcc-mingw-w64-base/copyright")}
GCC_EXCEPTION = "GCC-exception-3.1"
GCC_EXCEPTION_TEXT = re.compile(r"^GCC RUNTIME LIBRARY EXCEPTION\n(?:.|\n)*?(?=\n\n\n)", re.M)


def package_licences(component: Component, licences: dict[str, Licences]) -> str | None:
    """The SPDX expression of every licence a component's source package names, or None for a prose file."""
    copyright_file = read_copyright(component.copyright)
    if not copyright_file.parsed:
        return None
    made = licences.setdefault(component.code_source, Licences(component.code_source + "-"))
    return " AND ".join(sorted({made.expression(name, copyright_file) for name in copyright_file.all_licences()}))


def statements(dep5: Path, carried: Sequence[str]) -> dict[str, str | None]:
    """What .reuse/dep5 states for each carried file (relative to debian-source-packages/), as REUSE reads it:
    the last paragraph that covers the file."""
    parsed = parse_copyright(read_text(dep5, "the project's REUSE statements"), dep5).parsed
    found = {file: parsed.find_files_paragraph(f"{SOURCES_FOLDER}/{file}") if parsed else None for file in carried}
    return {file: synopsis(paragraph) if paragraph else None for file, paragraph in found.items()}


def check_statements(components: Sequence[Component], carried: Sequence[str], dep5: Path,
                     licences: dict[str, Licences]) -> set[str]:
    """Every identifier .reuse/dep5 states for the carried files (relative to debian-source-packages/),
    each file's statement checked against its package's copyright file where that is machine-readable."""
    by_source: dict[str, Component] = {}
    for component in components:
        for source, _ in sources_of(component):
            by_source.setdefault(source, component)
    named: set[str] = set()
    for file, expression in statements(dep5, carried).items():
        source = file.split("/", 1)[0]
        if not expression or source not in by_source:
            raise ReleaseError(f"{dep5} states no licence for {SOURCES_FOLDER}/{file}, which the source archive "
                               "carries: add a paragraph for its Debian source package")
        wanted = package_licences(by_source[source], licences)
        if wanted is not None and "licence-files/" not in file and identifiers(expression) != identifiers(wanted):
            raise ReleaseError(f"{dep5} states '{expression}' for {SOURCES_FOLDER}/{file}, but Debian's copyright "
                               f"file {by_source[source].copyright} names '{wanted}'")
        named |= identifiers(expression)
    return named


def text_of(identifier: str, components: Sequence[Component], licences: dict[str, Licences]) -> str:
    if identifier in COMMON:
        return read_text(COMMON_LICENCES / COMMON[identifier], f"Debian's text of {identifier}")
    if identifier in PROSE_COPYRIGHT:
        return read_text(PROSE_COPYRIGHT[identifier], f"the copyright file {identifier} is the text of")
    if identifier == GCC_EXCEPTION:
        exception = GCC_EXCEPTION_TEXT.search(read_text(PROSE_COPYRIGHT["LicenseRef-gcc-12-copyright"],
                                                        "gcc-12's copyright file"))
        if exception:
            return exception.group(0) + "\n"
    for made in licences.values():
        if identifier in made.extracted:
            return str(made.extracted[identifier]["extractedText"]) + "\n"
    for component in components:
        copyright_file = read_copyright(component.copyright)
        for name, text in copyright_file.licence_texts.items():
            if licences.get(component.code_source, Licences()).identifier(name, copyright_file) == identifier:
                return text + "\n"
    raise ReleaseError(f"no text of the licence {identifier}, which .reuse/dep5 states for Debian's source "
                       "packages, is known: give it in installer/release/archive_licences.py")


def texts(components: Sequence[Component], carried: Sequence[str], dep5: Path,
          project_files: Iterable[str]) -> dict[str, str]:
    """{path in the archive: text} of each licence the project's .reuse/dep5 states for the carried Debian
    files (relative to debian-source-packages/) that the project's files lack."""
    licences: dict[str, Licences] = {}
    named = check_statements(components, carried, dep5, licences)
    held = set(project_files)
    return {f"{LICENCES_FOLDER}/{identifier}.txt": text_of(identifier, components, licences)
            for identifier in sorted(named) if f"{LICENCES_FOLDER}/{identifier}.txt" not in held}


def added(tree: Path, recorded: set[str]) -> set[str]:
    """Of an unpacked archive's files, the licence texts the release added: those below LICENSES/ that its
    project's files (the sums it records) do not hold."""
    return {f"{LICENCES_FOLDER}/{path.name}" for path in (tree / LICENCES_FOLDER).glob("*.txt")
            if f"{LICENCES_FOLDER}/{path.name}" not in recorded}
