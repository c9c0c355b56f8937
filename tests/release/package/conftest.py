"""What the release package's tests share: a product, a package database that
answers from tables in place of dpkg-query and apt-cache, components
described from hand-written copyright files, and a release made of them."""

from __future__ import annotations

import dataclasses
import re
import subprocess
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import Any

import pytest

from release.components import Component
from release.debian import Package, PackageDatabase
from release.licences import KeptLicenceFile
from release.model import Release
from release.product import KEYS, Made, Product, parse
from release.signing import Plan, Signatures
from release.source_archive import Sources, Toolchain


def example_product() -> Product:
    values = {field.name: "x" for field in KEYS if field.name != "extra_file"} | {
        "name": "Example", "executable": "Example", "version": "1.2.3", "manufacturer": "Maker",
        "releases_address": "https://example.invalid/releases/"}
    return parse("".join(f"{key}={value}\n" for key, value in values.items()), Path("Example.product"))


@pytest.fixture
def product() -> Product:
    return example_product()


def package_fields(name: str, source: str, version: str = "1.0-1", built_using: str = "") -> dict[str, str]:
    return {"Package": name, "Version": version, "Architecture": "all", "source:Package": source,
            "source:Version": version, "Maintainer": "Team <team@example.invalid>", "Homepage": "",
            "Built-Using": built_using}


def fake_database(doc_folder: Path, owners: dict[str, str], packages: dict[str, dict[str, str]],
                  listed: str = "") -> PackageDatabase:
    """Debian as the tables say: owners {file: package}, packages {package: fields}, listed apt-cache's stanzas."""
    def run(command: Sequence[str]) -> subprocess.CompletedProcess[str]:
        status, out = 0, listed
        if command[:2] == ["dpkg-query", "-S"]:
            out = "".join(f"{owners[path]}: {path}\n" for path in command[2:] if path in owners)
        elif command[:2] == ["dpkg-query", "-W"]:
            fields = packages.get(command[4])
            status = 0 if fields else 1
            out = "\t".join(fields.get(name, "") for name in re.findall(r"\$\{([^}]+)\}", command[3])) if fields else ""
        return subprocess.CompletedProcess(list(command), status, out, "")
    return PackageDatabase(run=run, doc_folder=doc_folder)


@pytest.fixture
def component(tmp_path: Path) -> Callable[..., Component]:
    """A component whose Debian copyright file has the text given, and its own licence files."""
    def make(name: str, copyright_text: str, source: str = "lib", folders: Sequence[str] = ("",),
             licence: str | None = None, licence_files: Sequence[tuple[str, str]] = (), system_library: bool = False,
             **more: Any) -> Component:
        copyright_file = tmp_path / source / "copyright"
        copyright_file.parent.mkdir(exist_ok=True)
        copyright_file.write_text(copyright_text)
        kept = tuple(KeptLicenceFile(path, text) for path, text in licence_files)
        package = Package(*package_fields(f"{source}-dev", source).values())
        return Component(name, (package,), (Path(f"/usr/lib/{name}.a"),), tuple(folders), copyright_file,
                         system_library, kept, licence, source, package.version, None, **more)
    return make


@pytest.fixture
def release(product: Product, tmp_path: Path) -> Callable[..., Release]:
    """A release of the product linked with the components given, its shipped files' bytes their names."""
    def make(components: Sequence[Component] = (), test_commit: str | None = None, launcher: bytes = b"Example.exe",
             **change: Any) -> Release:
        sources = Sources(tmp_path, "git", test_commit or "c" * 40, 1700000000, test_commit is not None)
        contents = {made: made.name.encode() for made in Made} | {Made.LAUNCHER: launcher}
        made = Release(product, sources, Toolchain([], []), Plan(Signatures(False, False), None, None), 1700000000,
                       tmp_path, tuple(components), (), (), contents, b"icon", {})
        return dataclasses.replace(made, **change)
    return make
