#!/usr/bin/env python3
"""What a product's launcher is made of, read from its link map, and what
Debian says about each part.

As a program, it writes the launcher's components from the link map: every
archive member and object file the linker kept a section of, named by the
component it belongs to. Files of this build's own libraries are looked up
in the list the build writes of what each is made from; every other file in
Debian's package database, or, for a library tools/setup.sh built from
Debian's source, in its record. A file nobody can account for stops it: a
component left out of the notices would be shipped without its licence.

Usage: components.py LINK_MAP OWN_LIBRARIES BUILD_DIR > NAME.components
  NAME.components: one "component<TAB>file<TAB>source folder" line for
  each file, the source folder being where its code lies in its Debian source
  package ("" for the whole package).
       components.py --sources NAME.components DEPS
  prints every file of the Debian source packages that the Corresponding
  Source carries (all but the compiler's run-time's), as tools/setup.sh
  downloaded them into DEPS, and stops naming any that is missing.

make-sbom.py and make-notices.py read that list through describe(), and a
product's description, as the build writes it, through read_product().
"""

import fnmatch
import glob
import os
import re
import subprocess
import sys

# The compiler's run-time: System Libraries in the GPL's sense, whose source a
# release need not carry. Each Debian source package of it holds several
# components: which file is which, and where its code lies in that package.
RUN_TIME_FILES = {
    "mingw-w64": [
        (r"lib(win)?pthread\.a", "winpthreads",
         ["mingw-w64-libraries/winpthreads/src/", "mingw-w64-libraries/winpthreads/include/"]),
        (r"crt2\.o|lib\w+\.a", "MinGW-w64 run-time", ["mingw-w64-crt/"]),
    ],
    "gcc-mingw-w64": [
        (r"libstdc\+\+\.a", "libstdc++", ["libstdc++-v3/"]),
        (r"libgcc(_eh)?\.a|crtbegin\.o|crtend\.o", "libgcc", ["libgcc/"]),
    ],
}

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


# A line of the map's memory part that places a section of a file:
# "[section] 0xADDRESS 0xSIZE FILE" or "... ARCHIVE(MEMBER)".
PLACED = re.compile(r"\s0x[0-9a-f]+\s+0x([0-9a-f]+)\s+([^\s*]\S*?\.(?:a|o|obj|res))(?:\(([^)]+)\))?$", re.M)


def kept_inputs(link_map, build_dir):
    """{file: {members}} of the inputs the linker kept a non-empty section of."""
    text = read_text(link_map, "the launcher's link map")
    start = text.find("Linker script and memory map")
    if start < 0:
        fail(f"{link_map} is no GNU ld link map")
    inputs = {}
    for match in PLACED.finditer(text, start):
        if int(match.group(1), 16) == 0:
            continue
        path = os.path.realpath(os.path.join(build_dir, match.group(2)))
        members = inputs.setdefault(path, set())
        if match.group(3):
            members.add(match.group(3))
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


def setup_record(path):
    """(library, record folder) when tools/setup.sh built the file, else None."""
    folder = os.path.dirname(path)
    while folder != os.path.dirname(folder):
        if os.path.isfile(os.path.join(folder, "debian-sources")):
            return os.path.relpath(path, folder), folder
        folder = os.path.dirname(folder)
    return None


def recorded_source(path):
    """The Debian source package tools/setup.sh built the file from, and its record's doc folder."""
    library, folder = setup_record(path)
    with open(os.path.join(folder, "debian-sources")) as f:
        sources = dict(line.split() for line in f if line.strip())
    if library not in sources:
        fail(f"{folder}/debian-sources does not say what {library} was built from")
    return sources[library], os.path.join(folder, "share", "doc", sources[library])


def owning_package(path):
    owner = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
    if owner.returncode != 0:
        fail(f"no installed Debian package holds {path}, which the launcher is linked with")
    return owner.stdout.split(":")[0]


def package_fields(package, fields):
    query = subprocess.run(["dpkg-query", "-W", "-f", "\t".join(f"${{{f}}}" for f in fields), package],
                           capture_output=True, text=True, check=True)
    return dict(zip(fields, query.stdout.split("\t")))


def upstream_name(copyright_file):
    match = re.search(r"^Upstream-Name:\s*(.+)$", read_text(copyright_file, "Debian's copyright file"), re.M)
    if not match:
        fail(f"{copyright_file} names no Upstream-Name")
    return match.group(1).strip()


def component_of(path):
    """(component, source folders) of a file from a Debian package."""
    if setup_record(path):
        _, doc = recorded_source(path)
        return upstream_name(os.path.join(doc, "copyright")), [""]
    package = owning_package(path)
    source = package_fields(package, ["source:Package"])["source:Package"]
    if source not in RUN_TIME_FILES:
        return upstream_name(f"/usr/share/doc/{package}/copyright"), [""]
    for pattern, name, folders in RUN_TIME_FILES[source]:
        if re.fullmatch(pattern, os.path.basename(path)):
            return name, folders
    fail(f"{path} of Debian's {source} is no run-time library known here")


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
    lines = set()
    for path, members in kept_inputs(link_map, build_dir).items():
        origin = own_origin(path, origins)
        if origin == OWN:
            continue
        if origin and origin.endswith("/"):
            for header, folder in juce_modules(origin, members):
                lines.add(f"{component_of(header)[0]}\t{header}\t{folder}")
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
    return components


def find_dsc(deps, source, version):
    """The .dsc tools/setup.sh downloaded for a source package version, or None."""
    name = f"{source}_{version.split(':', 1)[-1]}.dsc"
    found = sorted(glob.glob(os.path.join(deps, "*", name)))
    return found[0] if found else None


def dsc_files(dsc):
    """The .dsc and the files it names, as paths beside it."""
    text = read_text(dsc, "a Debian source package's .dsc")
    files = re.search(r"^Files:\n((?: .+\n)+)", text, re.M)
    if not files:
        fail(f"{dsc} names no files")
    folder = os.path.dirname(dsc)
    return [dsc] + [os.path.join(folder, line.split()[2]) for line in files.group(1).splitlines()]


def describe(name, entries, deps):
    """What Debian says about a component: its packages, source, copyright file and where its code lies."""
    files = [file for file, _ in entries]
    folders = sorted({folder for _, folder in entries})
    if setup_record(files[0]):
        source, doc = recorded_source(files[0])
        dsc_text = read_text(os.path.join(doc, "source.dsc"), f"the record of {name}'s Debian source package")
        fields = dict(re.findall(r"^([A-Za-z-]+): *(.*)$", dsc_text, re.M))
        with open(os.path.join(doc, "applied-patches")) as f:
            patches = f.read().split()
        component = {
            "name": name, "source": source, "source_version": fields["Version"], "packages": [],
            "maintainer": fields["Maintainer"], "homepage": fields.get("Homepage"),
            "copyright": os.path.join(doc, "copyright"), "patches": patches, "files": files,
        }
    else:
        packages = []
        for file in files:
            package = owning_package(file)
            info = package_fields(package, ["Package", "Version", "Architecture", "source:Package",
                                            "source:Version", "Maintainer", "Homepage"])
            if info not in packages:
                packages.append(info)
        component = {
            "name": name, "source": packages[0]["source:Package"], "source_version": packages[0]["source:Version"],
            "packages": packages, "maintainer": packages[0]["Maintainer"],
            "homepage": packages[0]["Homepage"] or None,
            "copyright": f"/usr/share/doc/{packages[0]['Package']}/copyright", "patches": None, "files": files,
        }
    read_text(component["copyright"], f"Debian's copyright file of {name}")
    component["folders"] = folders
    component["dsc"] = find_dsc(deps, component["source"], component["source_version"])
    component["system_library"] = component["source"] in RUN_TIME_FILES
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


def corresponding_sources(components_file, deps):
    files = []
    for c in describe_all(components_file, deps):
        if c["system_library"]:
            continue
        if not c["dsc"]:
            fail(f"Debian's source package {c['source']} {c['source_version']} of {c['name']} is missing "
                 f"from {deps}: tools/setup.sh downloads it")
        for file in dsc_files(c["dsc"]):
            if not os.path.isfile(file):
                fail(f"{file} of Debian's source package {c['source']} of {c['name']} is missing")
            if file not in files:
                files.append(file)
    return files


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--sources":
        print("\n".join(corresponding_sources(*sys.argv[2:])))
    elif len(sys.argv) == 4:
        print("\n".join(components_lines(*sys.argv[1:])))
    else:
        fail("usage: components.py LINK_MAP OWN_LIBRARIES BUILD_DIR > NAME.components\n"
             "       components.py --sources NAME.components DEPS")


if __name__ == "__main__":
    main()
