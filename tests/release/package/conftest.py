"""What the release package's tests share: a product, a package database that
answers from tables in place of dpkg-query, apt-cache and dpkg, and components
described from hand-written copyright files."""

import re
import subprocess
from pathlib import Path

import pytest

from release import description
from release.components import Component
from release.licence_files import KeptLicenceFile
from release.debian import Package, PackageDatabase


@pytest.fixture
def product() -> description.Product:
    values = {field.name: "x" for field in description.KEYS} | {
        "name": "Example", "executable": "Example", "version": "1.2.3", "manufacturer": "Maker",
        "releases_address": "https://example.invalid/releases/"}
    return description.parse("".join(f"{key}={value}\n" for key, value in values.items()), Path("Example.product"))


def package_fields(name: str, source: str, version: str = "1.0-1", built_using: str = "") -> dict[str, str]:
    return {"Package": name, "Version": version, "Architecture": "all", "source:Package": source,
            "source:Version": version, "Maintainer": "Team <team@example.invalid>", "Homepage": "",
            "Built-Using": built_using}


def fake_database(doc_folder: Path, owners: dict[str, str], packages: dict[str, dict[str, str]],
                  listed: str = "") -> PackageDatabase:
    """Debian as the tables say: owners {file: package}, packages {package: fields}, listed apt-cache's stanzas."""
    def run(command):
        status, out = 0, listed
        if command[:2] == ["dpkg-query", "-S"]:
            out = "".join(f"{owners[path]}: {path}\n" for path in command[2:] if path in owners)
        elif command[:2] == ["dpkg-query", "-W"]:
            fields = packages.get(command[4])
            status = 0 if fields else 1
            out = "\t".join(fields.get(name, "") for name in re.findall(r"\$\{([^}]+)\}", command[3])) if fields else ""
        elif command[0] == "dpkg":
            status = 0 if command[2] > command[4] else 1
        return subprocess.CompletedProcess(command, status, out, "")
    return PackageDatabase(run=run, doc_folder=doc_folder)


@pytest.fixture
def component(tmp_path):
    """A component whose Debian copyright file has the text given, and its own licence files."""
    def make(name: str, copyright_text: str, source: str = "lib", folders=("",), licence=None, licence_files=(),
             system_library=False, **more) -> Component:
        copyright_file = tmp_path / source / "copyright"
        copyright_file.parent.mkdir(exist_ok=True)
        copyright_file.write_text(copyright_text)
        kept = tuple(KeptLicenceFile(path, text) for path, text in licence_files)
        package = Package(*package_fields(f"{source}-dev", source).values())
        return Component(name, (package,), (Path(f"/usr/lib/{name}.a"),), tuple(folders), copyright_file,
                         system_library, kept, licence, source, package.version, None, **more)
    return make
