#!/usr/bin/env python3
"""What a product's launcher is made of, read from its link map, and what
Debian says about each part.

As a program, it writes the launcher's components from the link map: every
archive member and object file the linker kept a section of, named by the
component it belongs to. Files of this build's own libraries are looked up
in the list the build writes of what each is made from; every other file in
Debian's package database, and its package's source must be one this
release knows (SOURCES). A file nobody can account for, or a line of the map
it cannot read, stops it: a component left out of the notices would be
shipped without its licence.

Usage: components.py LINK_MAP OWN_LIBRARIES BUILD_DIR > NAME.components
  NAME.components: one "component<TAB>file<TAB>source folder" line for
  each file, the source folder being where its code lies in its Debian source
  package ("" for the whole package).
       components.py --sources NAME.components DEPS
  prints, relative to DEPS, every file there that the release reads and the
  source archive carries (debian-source-packages/): the whole Debian source
  package of each component that is no System Library, and of the compiler's
  run-time the .dsc of its source and its own licence files, as
  tools/setup.sh keeps them in DEPS; it stops naming any that is missing.
       components.py --newer-revisions NAME.components
  stops, naming both, while Debian's package lists name a newer revision of
  a package the launcher's components come from than the one installed,
  which the launcher was built with.
       components.py --licence-files SOURCE
  prints the licence files of the source package SOURCE that the release
  reads, as paths in that package, for tools/setup.sh to keep.

make-sbom.py and make-notices.py read that list through describe(), and a
product's description, as the build writes it, through read_product().
"""

import fnmatch
import hashlib
import os
import re
import subprocess
import sys

# Every Debian source package whose code a launcher is known to be linked
# with, and which component each of its files is: a pattern of the file's
# name, the component, and where its code lies in the source package ("" for
# all of it; JUCE's module folder is found from the module). A file of any
# other source package stops the list, so that nothing reaches a release
# unread. The compiler's run-time is System Libraries in the GPL's sense,
# whose source a release need not carry; gcc-mingw-w64 builds its run-time
# from the source package its Built-Using field names (gcc-12).
SOURCES = {
    "juce": {"system_library": False, "files": [(r"juce_[a-z_]+\.h", "JUCE", None)]},
    "mingw-w64": {"system_library": True, "files": [
        (r"lib(win)?pthread\.a", "winpthreads",
         ["mingw-w64-libraries/winpthreads/src/", "mingw-w64-libraries/winpthreads/include/"]),
        (r"crt2\.o|lib\w+\.a", "MinGW-w64 run-time", ["mingw-w64-crt/"]),
    ]},
    "gcc-mingw-w64": {"system_library": True, "code_from_built_using": True, "files": [
        (r"libstdc\+\+\.a", "libstdc++", ["libstdc++-v3/"]),
        (r"libgcc(_eh)?\.a|crtbegin\.o|crtend\.o", "libgcc", ["libgcc/"]),
    ]},
}

# A component's own licence files, where its Debian package's copyright file
# states one licence for several components (mingw-w64's declares ZPL-2.1 for
# all it builds): the files, as paths in the source package, that the notices
# carry as they are, each with the SHA-256 of the text that was read, and the
# licence that reading concluded, if the copyright file's paragraphs for the
# component's code do not already say it. A file that changes stops the
# release until it is read again.
LICENCE_FILES = {
    "winpthreads": ("mingw-w64", [
        ("mingw-w64-libraries/winpthreads/COPYING", "63263614cdd29f2f93cba85e992f041b31f9fc7b4033692f31269489a8a1b177"),
    ], "MIT AND BSD-3-Clause"),
    "MinGW-w64 run-time": ("mingw-w64", [
        ("COPYING.MinGW-w64-runtime/COPYING.MinGW-w64-runtime.txt",
         "e9b2dc02451ea29092a1f25fa0f3c07207ed421f1807dffb0c4e6dce69dee7bd"),
    ], None),
}
# Where tools/setup.sh keeps them: DEPS/SOURCE/licence-files/PATH.
LICENCE_FOLDER = "licence-files"

# Inputs the linker makes itself: no file, and no one's code but its own.
LINKER_INPUTS = {"dll stuff", "linker stubs"}

# What the build's list of its own libraries says of the project's own code,
# which is no third party's.
OWN = "own"


def fail(message):
    sys.exit(f"{os.path.basename(sys.argv[0])}: {message}")


def read_text(path, what):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except OSError:
        fail(f"{what} is missing: {path}")


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


def placed_file(rest):
    """The (file, member) a placement line names, None for what the linker made or a data statement."""
    if rest is None or rest.strip() in LINKER_INPUTS or DATA_STATEMENT.match(rest):
        return None
    member = ARCHIVE_MEMBER.match(rest)
    return (member.group(1), member.group(2)) if member else (rest, None)


def kept_inputs(link_map, build_dir):
    """{file: {members}} of the inputs the linker kept a non-empty section of."""
    text = read_text(link_map, "the launcher's link map")
    start = text.find(MAP_START + "\n")
    if start < 0:
        fail(f"{link_map} is no GNU ld link map")
    first_line = text.count("\n", 0, start) + 2
    inputs = {}
    for number, line in enumerate(text[start:].splitlines()[1:], first_line):
        placement = PLACEMENT.match(line)
        if placement and placement.group(1) == "*fill*":
            continue
        if not placement:
            if not any(shape.match(line) for shape in OTHER_LINES):
                fail(f"line {number} of {link_map} is nothing this reader knows: {line!r}")
            continue
        placed = placed_file(placement.group(3))
        if placed is None or int(placement.group(2), 16) == 0:
            continue
        path = os.path.realpath(os.path.join(build_dir, placed[0]))
        if not os.path.isfile(path):
            fail(f"line {number} of {link_map} names {placed[0]}, which is no file here: {line!r}")
        members = inputs.setdefault(path, set())
        if placed[1]:
            members.add(placed[1])
    return inputs


def own_libraries(path):
    """{file or folder/: origin} from the build's list of what its libraries are made from."""
    origins = {}
    for line in read_text(path, "the build's list of its own libraries").splitlines():
        if line.strip():
            file, origin = line.split("\t")
            origins[os.path.realpath(file) + ("/" if file.endswith("/") else "")] = origin
    return origins


def own_origin(path, origins):
    for file, origin in origins.items():
        if path == file or (file.endswith("/") and path.startswith(file)):
            return origin
    return None


OWNERS = {}


def look_up_owners(paths):
    """Asks Debian's package database once for the packages of many files; owning_package() then answers."""
    query = subprocess.run(["dpkg-query", "-S", *paths], capture_output=True, text=True)
    for line in query.stdout.splitlines():
        packages, _, path = line.partition(": ")
        if "," not in packages:
            OWNERS[path] = packages.split(":")[0]


def owning_package(path):
    if path not in OWNERS:
        look_up_owners([path])
    if path not in OWNERS:
        fail(f"no installed Debian package holds {path}, which the launcher is linked with")
    return OWNERS[path]


def package_fields(package, fields):
    query = subprocess.run(["dpkg-query", "-W", "-f", "\t".join(f"${{{f}}}" for f in fields), package],
                           capture_output=True, text=True, check=True)
    return dict(zip(fields, query.stdout.split("\t")))


def component_of(path, module_folder=None):
    """(component, source folders) of a file from a Debian package."""
    package = owning_package(path)
    source = package_fields(package, ["source:Package"])["source:Package"]
    if source not in SOURCES:
        fail(f"{path}, which the launcher is linked with, is of Debian's package {package} (source {source}), "
             "whose code no component of the release is known to hold: add its source to components.py, "
             "with its licences and its source for the release")
    for pattern, name, folders in SOURCES[source]["files"]:
        if re.fullmatch(pattern, os.path.basename(path)):
            return name, folders if folders is not None else [module_folder]
    fail(f"{path} of Debian's {source} is no file of a component known here")


# JUCE's archives hold each module as one unit: juce_X.cpp, or this build's
# juce_X_mingw.cpp wrapper of it. Debian installs JUCE's modules/ folder.
JUCE_MEMBER = re.compile(r"(juce_[a-z_]+?)(?:_mingw)?\.cpp\.obj")


def juce_modules(modules_folder, members):
    for member in sorted(members):
        match = JUCE_MEMBER.fullmatch(member)
        if not match:
            fail(f"{member} is no JUCE module of {modules_folder}")
        module = match.group(1)
        yield os.path.join(modules_folder, module, module + ".h"), f"modules/{module}/"


def components_lines(link_map, origins_file, build_dir):
    origins = own_libraries(origins_file)
    inputs = kept_inputs(link_map, build_dir)
    look_up_owners(sorted(path for path in inputs if own_origin(path, origins) is None))
    lines = set()
    for path, members in inputs.items():
        origin = own_origin(path, origins)
        if origin == OWN:
            continue
        if origin and origin.endswith("/"):
            for header, folder in juce_modules(origin, members):
                lines.add(f"{component_of(header, folder)[0]}\t{header}\t{folder}")
            continue
        if origin is None and path.startswith(os.path.realpath(build_dir) + "/"):
            fail(f"the build's list of its own libraries does not say what {path} is made from")
        file = os.path.realpath(origin) if origin else path
        name, folders = component_of(file)
        lines.update(f"{name}\t{file}\t{folder}" for folder in folders)
    return sorted(lines, key=str.lower)


def read_components(path):
    """{component: [(file, source folder)]} in the list's order."""
    components = {}
    for line in read_text(path, "the list of what the launcher is linked with").splitlines():
        if line.strip():
            name, file, folder = line.split("\t")
            components.setdefault(name, []).append((file, folder))
    look_up_owners(sorted({file for entries in components.values() for file, _ in entries}))
    return components


def find_dsc(deps, source, version):
    """The .dsc tools/setup.sh keeps for a source package version, or None."""
    path = os.path.join(deps, source, f"{source}_{version.split(':', 1)[-1]}.dsc")
    return path if os.path.isfile(path) else None


def dsc_files(dsc):
    """The .dsc and the files it names, as paths beside it."""
    text = read_text(dsc, "a Debian source package's .dsc")
    files = re.search(r"^Files:\n((?: .+\n)+)", text, re.M)
    if not files:
        fail(f"{dsc} names no files")
    folder = os.path.dirname(dsc)
    return [dsc] + [os.path.join(folder, line.split()[2]) for line in files.group(1).splitlines()]


def built_using(package_info):
    """The one source package, and its version, that Debian built a package's code from (Built-Using)."""
    entries = re.findall(r"([a-z0-9][a-z0-9.+-]*) \(= ([^)]+)\)", package_info["Built-Using"])
    if len(entries) != 1:
        fail(f"Debian's package {package_info['Package']} names no single source it was built from "
             f"(Built-Using: '{package_info['Built-Using']}')")
    return entries[0]


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def licence_files(name, deps):
    """A component's own licence files, as tools/setup.sh keeps them, each as the text that was read."""
    if name not in LICENCE_FILES:
        return []
    source, files, _ = LICENCE_FILES[name]
    kept = []
    for path, sha256 in files:
        file = os.path.join(deps, source, LICENCE_FOLDER, path)
        read_text(file, f"{name}'s licence file {path} from Debian's source package {source}")
        if sha256_of(file) != sha256:
            fail(f"{name}'s licence file {path} in Debian's source package {source} is not the text whose "
                 f"licence was read (SHA-256 {sha256}): read {file} and update LICENCE_FILES in components.py")
        kept.append((path, file))
    return kept


def describe(name, entries, deps):
    """What Debian says about a component: its packages, source, copyright file and where its code lies."""
    files = [file for file, _ in entries]
    packages = []
    for file in files:
        package = owning_package(file)
        info = package_fields(package, ["Package", "Version", "Architecture", "source:Package",
                                        "source:Version", "Maintainer", "Homepage", "Built-Using"])
        if info not in packages:
            packages.append(info)
    source = packages[0]["source:Package"]
    component = {
        "name": name, "source": source, "source_version": packages[0]["source:Version"],
        "packages": packages, "maintainer": packages[0]["Maintainer"],
        "homepage": packages[0]["Homepage"] or None,
        "copyright": f"/usr/share/doc/{packages[0]['Package']}/copyright", "files": files,
        "folders": sorted({folder for _, folder in entries}),
        "system_library": SOURCES[source]["system_library"],
        "licence_files": licence_files(name, deps),
        "licence": LICENCE_FILES.get(name, (None, None, None))[2],
    }
    # Where the code itself comes from: the source package, or the one it was built from.
    component["code_source"], component["code_version"] = (
        built_using(packages[0]) if SOURCES[source].get("code_from_built_using")
        else (source, component["source_version"]))
    read_text(component["copyright"], f"Debian's copyright file of {name}")
    component["dsc"] = find_dsc(deps, component["code_source"], component["code_version"])
    return component


def describe_all(components_file, deps):
    return [describe(name, entries, deps) for name, entries in read_components(components_file).items()]


class CopyrightFile:
    """Debian's machine-readable copyright file: its Files paragraphs and licence texts."""

    def __init__(self, path):
        text = read_text(path, "Debian's copyright file")
        self.path = path
        self.machine_readable = text.startswith("Format:")
        self.text = text
        self.paragraphs = []
        self.licence_texts = {}
        if not self.machine_readable:
            return
        for paragraph in re.split(r"\n[ \t]*\n", text):
            fields = dict(re.findall(r"^([A-Za-z-]+):[ \t]*((?:.*)(?:\n[ \t].*)*)", paragraph, re.M))
            licence = fields.get("License", "")
            name, _, body = licence.partition("\n")
            if body.strip():
                self.licence_texts.setdefault(name.strip().lower(), body)
            if "Files" in fields:
                self.paragraphs.append((fields["Files"].split(), name.strip()))

    def licences_for(self, folder):
        """The licence names of the paragraphs that cover a folder of the source: the one
        its files fall under by default, and those of files within it; for the whole
        package with no default, every paragraph but Debian's packaging."""
        def covers(patterns, path):
            return any(fnmatch.fnmatchcase(path, pattern) for pattern in patterns)
        default = [licence for patterns, licence in self.paragraphs if covers(patterns, folder + "x")][-1:]
        if folder:
            within = [licence for patterns, licence in self.paragraphs
                      if any(pattern.startswith(folder) for pattern in patterns)]
            return default + within
        if default:
            return default
        return [licence for patterns, licence in self.paragraphs
                if not all(pattern.startswith("debian/") for pattern in patterns)]

    def licence_text(self, name):
        body = self.licence_texts.get(name.strip().lower(), "")
        return "\n".join("" if line.strip() == "." else line[1:] for line in body.splitlines()).strip()


def read_product(path):
    """A product's description: its "key=value" lines, as the build writes them from the product table."""
    return dict(line.split("=", 1) for line in read_text(path, "the product's description").splitlines() if "=" in line)


def release_sources(components_file, deps):
    """The files of DEPS the release reads and its source archive carries, relative to DEPS."""
    files = []
    for c in describe_all(components_file, deps):
        source = f"Debian's source package {c['code_source']} {c['code_version']} of {c['name']}"
        if not c["dsc"]:
            fail(f"the .dsc of {source} is missing from {deps}: tools/setup.sh keeps it there")
        wanted = [c["dsc"]] if c["system_library"] else dsc_files(c["dsc"])
        for file in wanted + [file for _, file in c["licence_files"]]:
            if not os.path.isfile(file):
                fail(f"{file} of {source} is missing: tools/setup.sh keeps it there")
            relative = os.path.relpath(file, deps)
            if relative not in files:
                files.append(relative)
    return files


def listed_versions(packages):
    """{package: versions} of binary packages, as Debian's package lists name them (apt's last reading)."""
    shown = subprocess.run(["apt-cache", "show", *packages], capture_output=True, text=True)
    versions = {package: set() for package in packages}
    for stanza in shown.stdout.split("\n\n"):
        fields = dict(re.findall(r"^(Package|Version): (\S+)$", stanza, re.M))
        if fields.get("Package") in versions and "Version" in fields:
            versions[fields["Package"]].add(fields["Version"])
    return versions


def is_newer(version, than):
    return subprocess.run(["dpkg", "--compare-versions", version, "gt", than]).returncode == 0


def newer_revisions(components_file):
    """A line for each package the components come from of which Debian lists a newer version."""
    packages = {}
    for name, entries in read_components(components_file).items():
        for file, _ in entries:
            packages.setdefault(owning_package(file), name)
    listed = listed_versions(sorted(packages))
    lines = []
    for package, name in sorted(packages.items()):
        built = newest = package_fields(package, ["Version"])["Version"]
        for version in listed[package]:
            if is_newer(version, newest):
                newest = version
        if newest != built:
            lines.append(f"{name}: Debian's package lists name {package} {newest}, newer than {built}, "
                         "which the launcher was built with")
    return lines


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--sources":
        print("\n".join(release_sources(*sys.argv[2:])))
    elif len(sys.argv) == 3 and sys.argv[1] == "--newer-revisions":
        lines = newer_revisions(sys.argv[2])
        if lines:
            fail("a newer revision of what the launcher is built with is published; Debian's fixes would be "
                 "left out:\n  " + "\n  ".join(lines))
    elif len(sys.argv) == 3 and sys.argv[1] == "--licence-files":
        for source, files, _ in LICENCE_FILES.values():
            for path, _ in files if source == sys.argv[2] else []:
                print(path)
    elif len(sys.argv) == 4:
        print("\n".join(components_lines(*sys.argv[1:])))
    else:
        fail("usage: components.py LINK_MAP OWN_LIBRARIES BUILD_DIR > NAME.components\n"
             "       components.py --sources NAME.components DEPS\n"
             "       components.py --newer-revisions NAME.components\n"
             "       components.py --licence-files SOURCE")


if __name__ == "__main__":
    main()
