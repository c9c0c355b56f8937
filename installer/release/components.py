"""What a product's launcher is made of, and what Debian says about each part.

The build writes the launcher's components from its link map (components_list):
every archive member and object file the linker kept a section of, named by the
component it belongs to, one "component<TAB>file<TAB>source folder" line each,
the source folder being where its code lies in its Debian source package (""
for the whole package). Files of this build's own libraries are looked up in
the list the build writes of what each is made from; every other file in
Debian's package database, and its package's source must be one this release
knows (SOURCES). A file nobody can account for stops it: a component left out
of the notices would be shipped without its licence.

The notices and the bill of materials read that list through describe_all().
"""

from __future__ import annotations

import dataclasses
import hashlib
import os
import re
from collections.abc import Iterable, Iterator
from pathlib import Path

from .debian import Package, PackageDatabase
from .errors import ReleaseError, read_text
from .linkmap import kept_inputs


@dataclasses.dataclass(frozen=True)
class FileRule:
    pattern: str  # the file's name, a regular expression
    component: str
    folders: tuple[str, ...] | None  # where its code lies in the source package; None: its JUCE module's folder


@dataclasses.dataclass(frozen=True)
class Source:
    system_library: bool
    files: tuple[FileRule, ...]
    code_from_built_using: bool = False


# Every Debian source package whose code a launcher is known to be linked
# with, and which component each of its files is. A file of any other source
# package stops the list, so that nothing reaches a release unread. The
# compiler's run-time is System Libraries in the GPL's sense, whose source a
# release need not carry; gcc-mingw-w64 builds its run-time from the source
# package its Built-Using field names (gcc-12).
SOURCES = {
    "juce": Source(False, (FileRule(r"juce_[a-z_]+\.h", "JUCE", None),)),
    "mingw-w64": Source(True, (
        FileRule(r"lib(win)?pthread\.a", "winpthreads",
                 ("mingw-w64-libraries/winpthreads/src/", "mingw-w64-libraries/winpthreads/include/")),
        FileRule(r"crt2\.o|lib\w+\.a", "MinGW-w64 run-time", ("mingw-w64-crt/",)),
    )),
    "gcc-mingw-w64": Source(True, (
        FileRule(r"libstdc\+\+\.a", "libstdc++", ("libstdc++-v3/",)),
        FileRule(r"libgcc(_eh)?\.a|crtbegin\.o|crtend\.o", "libgcc", ("libgcc/",)),
    ), code_from_built_using=True),
}


@dataclasses.dataclass(frozen=True)
class OwnLicence:
    source: str  # the source package the files are in
    files: tuple[tuple[str, str], ...]  # (path in the source package, SHA-256 of the text that was read)
    licence: str | None  # the SPDX expression that reading concluded


# A component's own licence files, where its Debian package's copyright file
# states one licence for several components (mingw-w64's declares ZPL-2.1 for
# all it builds): the files that the notices carry as they are, and the
# licence that reading concluded, if the copyright file's paragraphs for the
# component's code do not already say it. A file that changes stops the
# release until it is read again.
LICENCE_FILES = {
    "winpthreads": OwnLicence("mingw-w64", (
        ("mingw-w64-libraries/winpthreads/COPYING", "63263614cdd29f2f93cba85e992f041b31f9fc7b4033692f31269489a8a1b177"),
    ), "MIT AND BSD-3-Clause"),
    "MinGW-w64 run-time": OwnLicence("mingw-w64", (
        ("COPYING.MinGW-w64-runtime/COPYING.MinGW-w64-runtime.txt",
         "e9b2dc02451ea29092a1f25fa0f3c07207ed421f1807dffb0c4e6dce69dee7bd"),
    ), None),
}
# Where tools/setup.sh keeps them: DEPS/SOURCE/licence-files/PATH.
LICENCE_FOLDER = "licence-files"

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


@dataclasses.dataclass(frozen=True)
class Entry:
    """A line of the components list, but its component."""

    file: Path
    folder: str  # where its code lies in the source package, "" for all of it


@dataclasses.dataclass(frozen=True)
class KeptLicenceFile:
    path: str  # in the source package
    file: Path  # where tools/setup.sh keeps it


@dataclasses.dataclass(frozen=True)
class Component:
    """A component of the launcher, as Debian's package database and the set-up's files describe it."""

    name: str
    packages: tuple[Package, ...]  # the Debian packages its files are of; the first says its source
    files: tuple[Path, ...]
    folders: tuple[str, ...]  # where its code lies in the source package
    copyright: Path  # Debian's copyright file of its first package
    system_library: bool
    licence_files: tuple[KeptLicenceFile, ...]
    licence: str | None  # as its own licence files state it, None to read it from the copyright file
    code_source: str  # the source package its code is built from, and its version
    code_version: str
    dsc: Path | None  # that source package's .dsc as the set-up keeps it, if it does

    @property
    def source(self) -> str:
        return self.packages[0].source

    @property
    def source_version(self) -> str:
        return self.packages[0].source_version

    @property
    def maintainer(self) -> str:
        return self.packages[0].maintainer

    @property
    def homepage(self) -> str | None:
        return self.packages[0].homepage or None


def sha256_of(path: Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


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


def known_source(source: str, package: str, path: Path) -> Source:
    if source not in SOURCES:
        raise ReleaseError(f"{path}, which the launcher is linked with, is of Debian's package {package} (source "
                           f"{source}), whose code no component of the release is known to hold: add its source "
                           "to installer/release/components.py, with its licences and its source for the release")
    return SOURCES[source]


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


def juce_modules(modules_folder: str, members: Iterable[str]) -> Iterator[tuple[Path, str]]:
    """(module header, source folder) of each JUCE module an archive's members are."""
    for member in sorted(members):
        match = JUCE_MEMBER.fullmatch(member)
        if not match:
            raise ReleaseError(f"{member} is no JUCE module of {modules_folder}")
        module = match.group(1)
        yield Path(modules_folder, module, module + ".h"), f"modules/{module}/"


def input_lines(path: Path, members: set[str], origin: str | None, build_dir: Path,
                database: PackageDatabase) -> set[str]:
    """The components list's lines of one input the linker kept."""
    if origin == OWN:
        return set()
    if origin and origin.endswith("/"):
        return {f"{component_of(header, database, folder)[0]}\t{header}\t{folder}"
                for header, folder in juce_modules(origin, members)}
    if origin is None and path.is_relative_to(build_dir.resolve()):
        raise ReleaseError(f"the build's list of its own libraries does not say what {path} is made from")
    file = Path(origin).resolve() if origin else path
    name, folders = component_of(file, database)
    return {f"{name}\t{file}\t{folder}" for folder in folders}


def components_list(link_map: Path, own_libraries: Path, build_dir: Path,
                    database: PackageDatabase | None = None) -> str:
    """The components list (NAME.components) of the launcher a link map is of."""
    database = database or PackageDatabase()
    libraries = read_own_libraries(own_libraries)
    inputs = kept_inputs(link_map, build_dir)
    database.look_up_owners(sorted(path for path in inputs if own_origin(path, libraries) is None))
    lines: set[str] = set()
    for path, members in inputs.items():
        lines |= input_lines(path, members, own_origin(path, libraries), build_dir, database)
    return "\n".join(sorted(lines, key=str.lower)) + "\n"


def read_components(path: Path, database: PackageDatabase) -> dict[str, list[Entry]]:
    """{component: entries} of a components list, in its order."""
    components: dict[str, list[Entry]] = {}
    text = read_text(path, "the list of what the launcher is linked with")
    for number, line in enumerate(text.splitlines(), 1):
        if line.strip():
            fields = line.split("\t")
            if len(fields) != 3:
                raise ReleaseError(f"line {number} of {path} is no \"component<TAB>file<TAB>source folder\" "
                                   f"line: {line!r}")
            components.setdefault(fields[0], []).append(Entry(Path(fields[1]), fields[2]))
    database.look_up_owners(sorted({entry.file for entries in components.values() for entry in entries}))
    return components


def find_dsc(deps: Path, source: str, version: str) -> Path | None:
    """The .dsc tools/setup.sh keeps for a source package version, or None."""
    path = deps / source / f"{source}_{version.split(':', 1)[-1]}.dsc"
    return path if path.is_file() else None


def dsc_files(dsc: Path) -> list[Path]:
    """The .dsc and the files it names, as paths beside it."""
    files = re.search(r"^Files:\n((?: .+\n)+)", read_text(dsc, "a Debian source package's .dsc"), re.M)
    if not files:
        raise ReleaseError(f"{dsc} names no files")
    names = [line.split()[2] for line in files.group(1).splitlines()]
    # The source archive carries what the .dsc names: nothing outside its folder.
    for name in names:
        if name != os.path.basename(name) or name in (".", ".."):
            raise ReleaseError(f"{dsc} names {name}, which is no file beside it")
    return [dsc] + [dsc.parent / name for name in names]


def built_using(package: Package) -> tuple[str, str]:
    """The one source package, and its version, that Debian built a package's code from (Built-Using)."""
    entries = re.findall(r"([a-z0-9][a-z0-9.+-]*) \(= ([^)]+)\)", package.built_using)
    if len(entries) != 1:
        raise ReleaseError(f"Debian's package {package.name} names no single source it was built from "
                           f"(Built-Using: '{package.built_using}')")
    source, version = entries[0]
    return source, version


def licence_files(name: str, deps: Path) -> tuple[KeptLicenceFile, ...]:
    """A component's own licence files, as tools/setup.sh keeps them, each the text that was read."""
    if name not in LICENCE_FILES:
        return ()
    own = LICENCE_FILES[name]
    kept = []
    for path, sha256 in own.files:
        file = deps / own.source / LICENCE_FOLDER / path
        read_text(file, f"{name}'s licence file {path} from Debian's source package {own.source}")
        if sha256_of(file) != sha256:
            raise ReleaseError(f"{name}'s licence file {path} in Debian's source package {own.source} is not the "
                               f"text whose licence was read (SHA-256 {sha256}): read {file} and update "
                               "LICENCE_FILES in installer/release/components.py")
        kept.append(KeptLicenceFile(path, file))
    return tuple(kept)


def describe(name: str, entries: list[Entry], deps: Path, database: PackageDatabase) -> Component:
    """What Debian says about a component: its packages, source, copyright file and where its code lies."""
    packages: list[Package] = []
    for entry in entries:
        package = database.package(database.owning_package(entry.file))
        if package not in packages:
            packages.append(package)
    first = packages[0]
    source = known_source(first.source, first.name, entries[0].file)
    kept = licence_files(name, deps)
    # Where the code itself comes from: the source package, or the one it was built from.
    code_source, code_version = (built_using(first) if source.code_from_built_using
                                 else (first.source, first.source_version))
    copyright_file = database.copyright_file(first.name)
    read_text(copyright_file, f"Debian's copyright file of {name}")
    return Component(name, tuple(packages), tuple(entry.file for entry in entries),
                     tuple(sorted({entry.folder for entry in entries})), copyright_file, source.system_library,
                     kept, LICENCE_FILES[name].licence if name in LICENCE_FILES else None, code_source,
                     code_version, find_dsc(deps, code_source, code_version))


def describe_all(components_file: Path, deps: Path, database: PackageDatabase | None = None) -> list[Component]:
    """Every component of a components list, described, in the list's order."""
    database = database or PackageDatabase()
    return [describe(name, entries, deps, database)
            for name, entries in read_components(components_file, database).items()]


def release_sources(components: list[Component], deps: Path) -> list[str]:
    """The files of DEPS the release reads and its source archive carries, relative to DEPS: the whole
    Debian source package of each component that is no System Library, and of the compiler's run-time
    the .dsc of its source and its own licence files."""
    files: list[str] = []
    for component in components:
        source = (f"Debian's source package {component.code_source} {component.code_version} "
                  f"of {component.name}")
        if not component.dsc:
            raise ReleaseError(f"the .dsc of {source} is missing from {deps}: tools/setup.sh keeps it there")
        wanted = [component.dsc] if component.system_library else dsc_files(component.dsc)
        for file in wanted + [kept.file for kept in component.licence_files]:
            if not file.is_file():
                raise ReleaseError(f"{file} of {source} is missing: tools/setup.sh keeps it there")
            relative = os.path.relpath(file, deps)
            if relative not in files:
                files.append(relative)
    return files


def newer_revisions(components_file: Path, database: PackageDatabase | None = None) -> list[str]:
    """A line for each package the components come from of which Debian's lists name a newer version."""
    database = database or PackageDatabase()
    packages: dict[str, str] = {}
    for name, entries in read_components(components_file, database).items():
        for entry in entries:
            packages.setdefault(database.owning_package(entry.file), name)
    listed = database.listed_versions(sorted(packages))
    lines = []
    for package, name in sorted(packages.items()):
        built = newest = database.installed_version(package)
        for version in listed[package]:
            if database.is_newer(version, newest):
                newest = version
        if newest != built:
            lines.append(f"{name}: Debian's package lists name {package} {newest}, newer than {built}, "
                         "which the launcher was built with")
    return lines


def licence_paths(source: str) -> list[str]:
    """The licence files of a source package the release reads, as paths in it, for tools/setup.sh to keep."""
    return [path for own in LICENCE_FILES.values() if own.source == source for path, _ in own.files]
