"""Debian's package database and package lists, as the release asks them:
which installed package holds a file, a package's fields, and the versions
the lists name. Each answer comes from dpkg-query, apt-cache or dpkg, through
one function a caller may replace (the tests give their own)."""

from __future__ import annotations

import dataclasses
import re
import subprocess
from collections.abc import Callable, Iterable, Sequence
from pathlib import Path

from .errors import ReleaseError

Run = Callable[[Sequence[str]], "subprocess.CompletedProcess[str]"]


def run_command(command: Sequence[str]) -> subprocess.CompletedProcess[str]:
    try:
        return subprocess.run(list(command), capture_output=True, text=True)
    except OSError as error:
        raise ReleaseError(f"cannot run {command[0]}: {error.strerror}") from error


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
STANZA_FIELD = re.compile(r"^(Package|Version): (\S+)$", re.M)


@dataclasses.dataclass
class PackageDatabase:
    run: Run = run_command
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

    def listed_versions(self, packages: Sequence[str]) -> dict[str, set[str]]:
        """{package: versions} as Debian's package lists name them (apt's last reading)."""
        shown = self.run(["apt-cache", "show", *packages])
        versions: dict[str, set[str]] = {package: set() for package in packages}
        for stanza in shown.stdout.split("\n\n"):
            fields = dict(STANZA_FIELD.findall(stanza))
            if fields.get("Package") in versions and "Version" in fields:
                versions[fields["Package"]].add(fields["Version"])
        return versions

    def is_newer(self, version: str, than: str) -> bool:
        return self.run(["dpkg", "--compare-versions", version, "gt", than]).returncode == 0
