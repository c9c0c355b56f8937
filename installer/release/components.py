"""What a product's launcher is made of, and what Debian says about each part.

The build writes the launcher's components from its link map (components_list):
every archive member and object file the linker kept a section of, named by the
component it belongs to, one "component<TAB>file<TAB>source folder" line each,
the source folder being where its code lies in its Debian source package (""
for the whole package), and for a JUCE module compiled from a file of this
build's own, that file. Files of this build's own libraries are looked up in
the list the build writes of what each is made from; every other file in
Debian's package database, and its package's source must be one this release
knows (SOURCES). A file nobody can account for stops it: a component left out
of the notices would be shipped without its licence. The headers of a known
source that the kept objects of the build's own were compiled including (the
build's dependency log, includes.py) are listed too: their templates are that
source's code in the launcher.

The notices and the bill of materials read that list through describe_all().
"""

from __future__ import annotations

import dataclasses
import os
import re
from collections.abc import Iterable, Iterator
from pathlib import Path

from . import licence_files
from .debian import Package, PackageDatabase
from .errors import ReleaseError, read_text
from .includes import DependencyLog
from .licence_files import KeptLicenceFile, licence_paths  # noqa: F401 (the command line's)
from .linkmap import kept_inputs


@dataclasses.dataclass(frozen=True)
class FileRule:
    pattern: str  # the file's name, a regular expression
    component: str
    folders: tuple[str, ...] | None  # where its code lies in the source package; None: its JUCE module's folder
    notices: bool = False  # its opening comments' notices are reproduced (file_notices.py)


@dataclasses.dataclass(frozen=True)
class Source:
    system_library: bool
    files: tuple[FileRule, ...]
    code_from_built_using: bool = False
    # Headers of the package whose code is compiled into the objects that
    # include them, matched by their whole path (includes.py).
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
    )),
    "gcc-mingw-w64": Source(True, (
        FileRule(r"libstdc\+\+\.a", "libstdc++", ("libstdc++-v3/",)),
        FileRule(r"libgcc(_eh)?\.a|crtbegin\.o|crtend\.o", "libgcc", ("libgcc/",)),
    ), code_from_built_using=True, included=(
        FileRule(r"/usr/lib/gcc/[^/]+/[^/]+/include/c\+\+/.+", "libstdc++", ("libstdc++-v3/include/",), notices=True),
    ), own_notices=r"Free Software Foundation|The GNU Toolchain Authors"),
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
    name, folders = component_of(file, database)
    return {f"{name}\t{file}\t{folder}" for folder in folders}


def included_rule(path: Path) -> FileRule | None:
    """The rule of a known source's headers that an included file is, if any."""
    return next((rule for source in SOURCES.values() for rule in source.included
                 if re.fullmatch(rule.pattern, str(path))), None)


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
    own = licence_files.LICENCE_FILES.get(name)
    copyright_file = database.copyright_file(first.name)
    read_text(copyright_file, f"Debian's copyright file of {name}")
    included = tuple(entry.file for entry in entries if included_rule(entry.file))
    linked = tuple(entry.file for entry in entries if entry.file not in included)
    noticed = included + tuple(file for file in linked if any(
        rule.notices and re.fullmatch(rule.pattern, file.name) for rule in source.files))
    return Component(name, tuple(packages), linked or included, tuple(sorted({entry.folder for entry in entries})),
                     copyright_file, source.system_library, licence_files.kept(name, deps, dsc),
                     own.licence if own else None, code_source, code_version, dsc, noticed, source.own_notices,
                     modified_modules(name, entries))


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
        for file in wanted + licence_files.kept_paths(component.name, deps):
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
