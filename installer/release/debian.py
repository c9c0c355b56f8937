"""Debian's package database, package lists and source packages, as the
release asks them: which installed package holds a file, a package's fields,
the versions the lists name, and the files a source package's .dsc names.
The database is asked through dpkg-query and apt-cache, through one function
a caller may replace (the tests give their own); what they answer, and a
.dsc, is read with python3-debian, and versions are compared as dpkg does."""

from __future__ import annotations

import dataclasses
import os
import subprocess
from collections.abc import Callable, Iterable, Sequence
from pathlib import Path

from debian import deb822
from debian.debian_support import Version

from . import programs
from .errors import ReleaseError, read_text

Run = Callable[[Sequence[str]], "subprocess.CompletedProcess[str]"]


def ask(command: Sequence[str]) -> subprocess.CompletedProcess[str]:
    """dpkg-query and apt-cache answer "none" with status 1."""
    return programs.run(command, answers=(0, 1))


@dataclasses.dataclass(frozen=True)
class Package:
    """An installed Debian binary package, as its fields say."""

    name: str
    version: str
    architecture: str
    source: str
    source_version: str
    maintainer: str
    homepage: str
    built_using: str


# Each field of Package, as dpkg-query names it.
PACKAGE_FIELDS = ["Package", "Version", "Architecture", "source:Package", "source:Version", "Maintainer",
                  "Homepage", "Built-Using"]


@dataclasses.dataclass
class PackageDatabase:
    run: Run = ask
    doc_folder: Path = Path("/usr/share/doc")
    owners: dict[Path, str] = dataclasses.field(default_factory=dict)

    def look_up_owners(self, paths: Iterable[Path]) -> None:
        """Asks once for the packages of many files; owning_package() then answers."""
        paths = list(paths)
        if not paths:
            return
        query = self.run(["dpkg-query", "-S", *map(str, paths)])
        for line in query.stdout.splitlines():
            packages, _, path = line.partition(": ")
            # "pkg1, pkg2" for a file two packages share, "diversion by pkg from" for a
            # diversion: neither names the one package the file is of.
            if " " not in packages:
                self.owners[Path(path)] = packages.split(":")[0]

    def owning_package(self, path: Path) -> str:
        if path not in self.owners:
            self.look_up_owners([path])
        if path not in self.owners:
            raise ReleaseError(f"no installed Debian package holds {path}, which the launcher is linked with")
        return self.owners[path]

    def fields(self, package: str, names: Sequence[str]) -> dict[str, str]:
        query = self.run(["dpkg-query", "-W", "-f", "\t".join(f"${{{name}}}" for name in names), package])
        values = query.stdout.split("\t")
        if query.returncode != 0 or len(values) != len(names):
            raise ReleaseError(f"Debian's package database gives no {', '.join(names)} of the package {package}")
        return dict(zip(names, values))

    def package(self, name: str) -> Package:
        return Package(*self.fields(name, PACKAGE_FIELDS).values())

    def source_of(self, package: str) -> str:
        return self.fields(package, ["source:Package"])["source:Package"]

    def installed_version(self, package: str) -> str:
        return self.fields(package, ["Version"])["Version"]

    def copyright_file(self, package: str) -> Path:
        return self.doc_folder / package / "copyright"

    def newest_listed(self, packages: Sequence[str]) -> dict[str, str | None]:
        """{package: the newest version Debian's package lists name of it (apt's last reading)}."""
        shown = self.run(["apt-cache", "show", *packages])
        newest: dict[str, str | None] = {package: None for package in packages}
        for stanza in deb822.Deb822.iter_paragraphs(shown.stdout.splitlines()):
            name, version = stanza.get("Package"), stanza.get("Version")
            if name in newest and version and (newest[name] is None or Version(version) > Version(newest[name])):
                newest[name] = version
        return newest


def is_newer(version: str, than: str) -> bool:
    return bool(Version(version) > Version(than))


def built_using(package: Package) -> tuple[str, str]:
    """The one source package, and its version, that Debian built a package's code from (Built-Using)."""
    relations = deb822.PkgRelation.parse_relations(package.built_using)
    version = relations[0][0].get("version") if len(relations) == 1 and len(relations[0]) == 1 else None
    if version is None or version[0] != "=":
        raise ReleaseError(f"Debian's package {package.name} names no single source it was built from "
                           f"(Built-Using: '{package.built_using}')")
    return relations[0][0]["name"], version[1]


def dsc_field(dsc: Path, name: str) -> str:
    """A field of a .dsc, "" if it has none."""
    return str(deb822.Dsc(read_text(dsc, "a Debian source package's .dsc")).get(name, ""))


def find_dsc(deps: Path, source: str, version: str) -> Path | None:
    """The .dsc tools/setup.sh keeps for a source package version, or None."""
    path = deps / source / f"{source}_{version.split(':', 1)[-1]}.dsc"
    return path if path.is_file() else None


def dsc_files(dsc: Path) -> list[Path]:
    """The .dsc and the files it names, as paths beside it."""
    names = [entry["name"] for entry in deb822.Dsc(read_text(dsc, "a Debian source package's .dsc")).get("Files", [])]
    if not names:
        raise ReleaseError(f"{dsc} names no files")
    # The source archive carries what the .dsc names: nothing outside its folder.
    for name in names:
        if name != os.path.basename(name) or name in (".", ".."):
            raise ReleaseError(f"{dsc} names {name}, which is no file beside it")
    return [dsc] + [dsc.parent / name for name in names]
