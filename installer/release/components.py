"""What a product's launcher is made of, and what Debian says about each
part: the components the build lists from its link (linked.py), each
described from Debian's package database and the set-up's files, as the
notices and the bill of materials read them (describe_all). Every Debian
source package a launcher may be linked with is known here (SOURCES), with
which component each of its files is: a file of any other stops the build's
list, so that nothing reaches a release unread."""

from __future__ import annotations

import dataclasses
import os
import re
from collections.abc import Iterable, Iterator
from pathlib import Path

from . import licences
from .debian import Package, PackageDatabase, built_using, dsc_files, find_dsc, is_newer
from .errors import ReleaseError, read_text
from .licences import KeptLicenceFile


@dataclasses.dataclass(frozen=True)
class FileRule:
    pattern: str  # the file's name, a regular expression
    component: str
    folders: tuple[str, ...] | None  # where its code lies in the source package; None: its JUCE module's folder
    notices: bool = False  # its opening comments' notices are reproduced (file_notices.py)
    # Each file's licence is its own (licences.header_licences), not one the
    # copyright file states for the whole component.
    licence_per_file: bool = False


@dataclasses.dataclass(frozen=True)
class Source:
    system_library: bool
    files: tuple[FileRule, ...]
    code_from_built_using: bool = False
    # Headers of the package whose code is compiled into the objects that
    # include them, matched by their whole path (linked.py).
    included: tuple[FileRule, ...] = ()
    own_notices: str | None = None  # the holders of the notices its licence files already carry


# Every Debian source package whose code a launcher is known to be linked
# with, and which component each of its files is. A file of any other source
# package stops the list, so that nothing reaches a release unread. The
# compiler's run-time is System Libraries in the GPL's sense, whose source a
# release need not carry; gcc-mingw-w64 builds its run-time from the source
# package its Built-Using field names (gcc-12).
SOURCES = {
    "juce": Source(False, (FileRule(r"juce_[a-z_]+\.h", "JUCE", None, notices=True),)),
    "mingw-w64": Source(True, (
        FileRule(r"lib(win)?pthread\.a", "winpthreads",
                 ("mingw-w64-libraries/winpthreads/src/", "mingw-w64-libraries/winpthreads/include/")),
        FileRule(r"crt2\.o|lib\w+\.a", "MinGW-w64 run-time", ("mingw-w64-crt/",)),
    ), included=(
        # Installed from both of the source's header folders, into one.
        FileRule(r"/usr/share/mingw-w64/include/.+", "MinGW-w64 headers",
                 ("mingw-w64-headers/include/", "mingw-w64-headers/crt/"), notices=True, licence_per_file=True),
    )),
    "gcc-mingw-w64": Source(True, (
        FileRule(r"libstdc\+\+\.a", "libstdc++", ("libstdc++-v3/",)),
        FileRule(r"libgcc(_eh)?\.a|crtbegin\.o|crtend\.o", "libgcc", ("libgcc/",)),
    ), code_from_built_using=True, included=(
        FileRule(r"/usr/lib/gcc/[^/]+/[^/]+/include/c\+\+/.+", "libstdc++", ("libstdc++-v3/include/",), notices=True),
        # GCC's own headers (stdarg.h, float.h, mm_malloc.h, ...), fixed ones too: the run-time's as much as
        # libgcc is, from the same package and under the same licence.
        FileRule(r"/usr/lib/gcc/[^/]+/[^/]+/include(-fixed)?/[^/]+\.h", "libgcc", ("gcc/ginclude/",), notices=True),
    ), own_notices=r"Free Software Foundation|The GNU Toolchain Authors"),
}

# Members of a Debian library whose code's licence its own source calls
# unclear, which the launcher must not link unread: MinGW-w64's math
# functions taken from the Cephes library, whose author gave no licence
# (COPYING.MinGW-w64-runtime.txt: "FIXME: Cephes math lib"), by the source
# files of mingw-w64-crt/math/ that say they come from it (mingw-w64 10.0.0).
UNCLEAR_MEMBERS = {
    "libmingwex.a": re.compile(r"lib32_libmingwex_a-(cbrt[fl]?|coshl|erfl|hypotl|lgamma[fl]?|sinhl|tanhl|"
                               r"tgamma[fl]?)\.o"),
}

# JUCE's modules this build compiles from files of its own rather than JUCE's
# module file, and what it changes: said, with the date, in the notices (the
# GNU GPL's section 5(a)). A module compiled from any other file than JUCE's
# own that is not said here stops the release.
MODIFIED_JUCE_MODULES = {
    "juce_core": "compiled from JUCE's module file juce_core.cpp less its GZIP streams and ZIP reader, which are "
                 "compiled apart and not linked into the launcher (cmake/juce.cmake)",
    "juce_graphics": "compiled from JUCE's module file juce_graphics.cpp less its PNG, JPEG and GIF image loaders, "
                     "with image formats in their place that decline every image (cmake/juce.cmake writes the "
                     "module file, cmake/juce/juce_graphics_mingw.cpp defines the formats)",
    "juce_gui_basics": "compiled from JUCE's module file juce_gui_basics.cpp with MinGW's IID_PPV_ARGS macro "
                       "defined anew, so that JUCE's own UUIDs of COM interfaces are used "
                       "(cmake/juce/juce_gui_basics_mingw.cpp)",
}


@dataclasses.dataclass(frozen=True)
class Entry:
    """A line of the components list, but its component."""

    file: Path
    folder: str  # where its code lies in the source package, "" for all of it
    compiled_from: str = ""  # of a JUCE module compiled from this build's own file, that file


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
    notice_files: tuple[Path, ...] = ()  # those whose opening comments' notices the notices reproduce
    own_notices: str | None = None  # the holders of the notices its licence files already carry
    modified: tuple[str, ...] = ()  # its modules compiled from this build's own files
    licence_per_file: bool = False  # its licence is that of each of its notice files

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


def known_source(source: str, package: str, path: Path) -> Source:
    if source not in SOURCES:
        raise ReleaseError(f"{path}, which the launcher is linked with, is of Debian's package {package} (source "
                           f"{source}), whose code no component of the release is known to hold: add its source "
                           "to installer/release/components.py, with its licences and its source for the release")
    return SOURCES[source]


def included_rule(path: Path) -> FileRule | None:
    """The rule of a known source's headers that an included file is, if any."""
    return next((rule for source in SOURCES.values() for rule in source.included
                 if re.fullmatch(rule.pattern, str(path))), None)


def read_components(path: Path, database: PackageDatabase) -> dict[str, list[Entry]]:
    """{component: entries} of a components list, in its order."""
    components: dict[str, list[Entry]] = {}
    text = read_text(path, "the list of what the launcher is linked with")
    for number, line in enumerate(text.splitlines(), 1):
        if line.strip():
            fields = line.split("\t")
            if len(fields) not in (3, 4):
                raise ReleaseError(f"line {number} of {path} is no \"component<TAB>file<TAB>source folder"
                                   f"[<TAB>compiled from]\" line: {line!r}")
            components.setdefault(fields[0], []).append(Entry(Path(fields[1]), *fields[2:]))
    database.look_up_owners(sorted({entry.file for entries in components.values() for entry in entries}))
    return components


def describe(name: str, entries: list[Entry], deps: Path, database: PackageDatabase) -> Component:
    """What Debian says about a component: its packages, source, copyright file and where its code lies."""
    packages: list[Package] = []
    for entry in entries:
        package = database.package(database.owning_package(entry.file))
        if package not in packages:
            packages.append(package)
    first = packages[0]
    source = known_source(first.source, first.name, entries[0].file)
    # Where the code itself comes from: the source package, or the one it was built from.
    code_source, code_version = (built_using(first) if source.code_from_built_using
                                 else (first.source, first.source_version))
    dsc = find_dsc(deps, code_source, code_version)
    own = licences.LICENCE_FILES.get(name)
    copyright_file = database.copyright_file(first.name)
    read_text(copyright_file, f"Debian's copyright file of {name}")
    rules = {entry.file: rule for entry in entries if (rule := included_rule(entry.file))}
    included = tuple(rules)
    linked = tuple(dict.fromkeys(entry.file for entry in entries if entry.file not in rules))
    noticed = included + tuple(file for file in linked if any(
        rule.notices and re.fullmatch(rule.pattern, file.name) for rule in source.files))
    return Component(name, tuple(packages), linked or included, tuple(sorted({entry.folder for entry in entries})),
                     copyright_file, source.system_library, licences.kept(name, deps, dsc),
                     own.licence if own else None, code_source, code_version, dsc, noticed, source.own_notices,
                     modified_modules(name, entries), any(rule.licence_per_file for rule in rules.values()))


def modified_modules(name: str, entries: list[Entry]) -> tuple[str, ...]:
    """The modules of a component the build compiles from files of its own, each of which must be said."""
    modules = tuple(sorted(entry.file.parent.name for entry in entries if entry.compiled_from))
    unsaid = [module for module in modules if module not in MODIFIED_JUCE_MODULES]
    if unsaid:
        raise ReleaseError(f"{name}'s {', '.join(unsaid)} is compiled from this build's own files, not its own "
                           "module file: say how it is modified in MODIFIED_JUCE_MODULES "
                           "(installer/release/components.py), for the notices")
    return modules


def describe_all(components_file: Path, deps: Path, database: PackageDatabase | None = None) -> list[Component]:
    """Every component of a components list, described, in the list's order."""
    database = database or PackageDatabase()
    return [describe(name, entries, deps, database)
            for name, entries in read_components(components_file, database).items()]


@dataclasses.dataclass(frozen=True)
class SourcePackage:
    """A Debian source package the components come from, as the set-up keeps its .dsc."""

    name: str
    version: str
    dsc: Path
    whole: bool  # whether the release carries all of it, or (of System Libraries) its .dsc alone
    components: tuple[str, ...]  # those it builds, whose code is its or whose files it makes
    licence: str = "NOASSERTION"  # as .reuse/dep5 states it for the source archive's copy


def sources_of(component: Component) -> list[tuple[str, str]]:
    """(source, version) of each Debian source package a component comes from: the one its code is built
    from, and the one that builds its files, where that is another (gcc-mingw-w64 builds gcc-12's run-time)."""
    return list(dict.fromkeys([(component.code_source, component.code_version),
                               (component.source, component.source_version)]))


def source_packages(components: list[Component], deps: Path) -> list[SourcePackage]:
    """Each Debian source package the components come from, in their order; one whose .dsc the set-up has
    not kept stops the release."""
    found: dict[tuple[str, str], list[Component]] = {}
    for component in components:
        for source in sources_of(component):
            found.setdefault(source, []).append(component)
    packages = []
    for (name, version), built in found.items():
        dsc = find_dsc(deps, name, version)
        if not dsc:
            raise ReleaseError(f"the .dsc of Debian's source package {name} {version} of "
                               f"{', '.join(c.name for c in built)} is missing from {deps}: tools/setup.sh keeps it")
        packages.append(SourcePackage(name, version, dsc, any(not c.system_library for c in built),
                                      tuple(c.name for c in built)))
    return packages


def release_sources(components: list[Component], deps: Path) -> list[str]:
    """The files of DEPS the release reads and its source archive carries, relative to DEPS: the whole
    Debian source package of each component that is no System Library, and of the compiler's run-time
    the .dsc of its sources and its own licence files."""
    files = [file for package in source_packages(components, deps)
             for file in (dsc_files(package.dsc) if package.whole else [package.dsc])]
    files += [file for component in components for file in licences.kept_paths(component.name, deps)]
    for file in files:
        if not file.is_file():
            raise ReleaseError(f"{file}, of a Debian source package the release carries, is missing: tools/setup.sh "
                               "keeps it there")
    return list(dict.fromkeys(os.path.relpath(file, deps) for file in files))


def newer_revisions(components_file: Path, database: PackageDatabase | None = None) -> list[str]:
    """A line for each package the components come from of which Debian's lists name a newer version."""
    database = database or PackageDatabase()
    packages: dict[str, str] = {}
    for name, entries in read_components(components_file, database).items():
        for entry in entries:
            packages.setdefault(database.owning_package(entry.file), name)
    listed = database.newest_listed(sorted(packages))
    lines = []
    for package, name in sorted(packages.items()):
        built, newest = database.installed_version(package), listed[package]
        if newest and is_newer(newest, built):
            lines.append(f"{name}: Debian's package lists name {package} {newest}, newer than {built}, "
                         "which the launcher was built with")
    return lines
