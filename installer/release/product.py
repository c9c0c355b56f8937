"""A product as the release knows it: its description, the "key=value" lines
the build writes of it from the product table and the family
(build/windows-x86/products/NAME/NAME.product; installer/CMakeLists.txt
writes it), and what it ships, declared here once: each file, where it goes
(the install folder, the ZIP, the test kit) and its licence, and each
component and feature of its MSI. The MSI (wix.py), the ZIP and the kit
(packing.py), the bill of materials and the checks' expectations
(`release.sh payload`) are made from this; nothing else names a shipped file.
"""

from __future__ import annotations

import dataclasses
import enum
import shlex
from pathlib import Path
from typing import Any

from . import msi_identity
from .errors import ReleaseError

NOTICES = "THIRD-PARTY-NOTICES.txt"
INSTALL_TEXT = "INSTALL.txt"
# The kit's note of the product it tests: its launcher and PRODUCTNAME.
PRODUCT_UNDER_TEST = "product-under-test.txt"
# The project's own files are GPL-3.0-or-later, but the launcher is built
# with JUCE modules offered under the GPL version 3 only: the program, and
# what packs it, is GPL-3.0-only.
PROGRAM_LICENCE = "GPL-3.0-only"
OWN_FILES_LICENCE = "GPL-3.0-or-later"
# Where Windows Installer keeps the product's uninstall entry: Windows' and
# its own values only.
UNINSTALL_ENTRY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\[ProductCode]"
# The value of the product's own key that remembers the folder it was
# installed in, for its upgrades and repairs.
REMEMBERED_FOLDER = "InstallFolder"


class DescriptionError(ReleaseError):
    """A description that cannot be read, or lacks a key."""


@dataclasses.dataclass(frozen=True)
class Product:
    name: str
    productname: str  # what its launcher gives the host as PRODUCTNAME
    executable: str  # the launcher's file name, without .exe
    version: str
    upgrade_code: str
    manufacturer: str
    releases_address: str  # where the family publishes each release and its source
    support_address: str  # where the family's support is
    home_address: str  # the family's home page
    host: str  # the host program's file name
    host_folder: str  # the host's folder below the shared application-data folder
    error_title: str
    launcher: Path  # the built launcher
    components: Path  # what the launcher is linked with (linked.py writes it)
    release: Path  # the folder its release goes into
    kit: Path  # its Windows test kit
    extra_file: Path | None  # the product table's EXTRA_FILE: a file it alone ships beside its launcher
    path: Path  # the description itself

    @property
    def launcher_file(self) -> str:
        return self.executable + ".exe"

    @property
    def base(self) -> str:
        """What its release's files are named from."""
        return f"{self.name}-{self.version}"

    def values(self) -> dict[str, str]:
        """Every key the build writes, and its value as written."""
        return {field.name: str(getattr(self, field.name) or "") for field in KEYS}


KEYS = [field for field in dataclasses.fields(Product) if field.name != "path"]
PATHS = {"launcher", "components", "release", "kit", "extra_file"}
OPTIONAL = {"extra_file"}


def parse(text: str, path: Path) -> Product:
    values = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
    missing = [field.name for field in KEYS if field.name not in values and field.name not in OPTIONAL]
    if missing:
        raise DescriptionError(f"{path} gives no {', '.join(key.replace('_', ' ') for key in missing)}")
    fields: dict[str, Any] = {key: values.get(key, "") for key in (field.name for field in KEYS)}
    fields |= {key: Path(fields[key]) if fields[key] else None for key in PATHS}
    return Product(**fields, path=path)


def read(path: Path) -> Product:
    try:
        text = path.read_text(encoding="utf-8")
    except OSError as error:
        raise DescriptionError(f"no product description at {path}: build first "
                               "(cmake --build --preset windows-x86)") from error
    return parse(text, path)


def as_shell(product: Product) -> str:
    """product_KEY=value lines, quoted for a shell's eval."""
    return "".join(f"product_{key}={shlex.quote(value)}\n" for key, value in product.values().items())


class Made(enum.Enum):
    """What a shipped file is made from."""

    LAUNCHER = "the product's launcher, signed when the release is"
    NOTICES = "its licence and third-party notices (notices.py)"
    INSTALL_TEXT = "resources/INSTALL.txt.in, filled in for the product"
    EXTRA_FILE = "the product table's EXTRA_FILE, as it is"


@dataclasses.dataclass(frozen=True)
class ShippedFile:
    name: str
    made: Made
    in_zip: bool
    in_kit: bool
    msi_id: str | None = None  # its File row in the MSI; None: not installed
    # As the bill of materials states it: the notices gather many licences'
    # texts and are under none of their own.
    licence: str = OWN_FILES_LICENCE


def files(product: Product) -> list[ShippedFile]:
    """Every file the release ships, in the order the ZIP packs them."""
    declared = [
        ShippedFile(INSTALL_TEXT, Made.INSTALL_TEXT, in_zip=True, in_kit=False),
        ShippedFile(NOTICES, Made.NOTICES, in_zip=True, in_kit=True, msi_id="NoticesTxt", licence="NOASSERTION"),
        ShippedFile(product.launcher_file, Made.LAUNCHER, in_zip=True, in_kit=True, msi_id="LauncherExe",
                    licence=PROGRAM_LICENCE),
    ]
    if product.extra_file:
        if product.extra_file.name.lower() in {file.name.lower() for file in declared}:
            raise DescriptionError(f"{product.path}: its extra file {product.extra_file.name} has the name of a file "
                                   "every product ships: rename it")
        declared.append(ShippedFile(product.extra_file.name, Made.EXTRA_FILE, in_zip=True, in_kit=False,
                                    msi_id="ExtraFile"))
    return declared


def shipped(product: Product, made: Made) -> ShippedFile:
    return next(file for file in files(product) if file.made is made)


def zip_names(product: Product) -> list[str]:
    return [file.name for file in files(product) if file.in_zip]


def kit_names(product: Product) -> list[str]:
    """The kit's own files beside the test programs the build lists."""
    return [file.name for file in files(product) if file.in_kit] + [PRODUCT_UNDER_TEST]


def launcher_in(product: Product) -> tuple[str, ...]:
    """The release's files that hold the launcher, as the bill of materials names them."""
    launcher = shipped(product, Made.LAUNCHER)
    return tuple(kind for kind, holds in (("msi", launcher.msi_id is not None), ("zip", launcher.in_zip)) if holds)


class KeyPath(enum.Enum):
    FILE = "file"
    REGISTRY = "registry"  # a value of the component's own, under HKMU
    FOLDER = "folder"  # the folder the component creates


@dataclasses.dataclass(frozen=True)
class Component:
    name: str
    feature: str
    directory: str  # the Directory its resources are installed in
    kind: KeyPath
    key_path: str  # as Windows Installer resolves it: [DIRECTORY]file, ROOT\key\value or [DIRECTORY]
    owner: str  # what its code is drawn for: the product's upgrade code, or the family's manufacturer
    first_key_path: str | None  # the key path its code was first made for (msi_identity)
    file: ShippedFile | None = None
    shortcut_in: str | None = None  # the Directory of a shortcut to the launcher it installs
    condition: str | None = None  # when it is installed, as Windows Installer reads a condition; None: always
    # A registry key path's value, as WiX types it: what the value holds for whoever reads it.
    value: tuple[str, str] = ("integer", "1")

    def code(self, product_code: str | None = None) -> str:
        """Its component code; a key path in the uninstall entry needs the
        product code, and reads as the blank code without it."""
        return msi_identity.component_code(self.owner, self.name, self.key_path, self.first_key_path, product_code)


@dataclasses.dataclass(frozen=True)
class Feature:
    name: str
    title: str
    level: int  # 1: installed by default; higher: chosen (ADDLOCAL)
    parent: str | None = None  # None: the product itself, which no install may leave out


def product_key(product: Product) -> str:
    """The product's own registry key (below HKMU, HKLM in this per-machine
    package): where it keeps what it must find again, and nothing else does."""
    return rf"Software\{product.manufacturer}\{product.name}"


def features(product: Product) -> list[Feature]:
    """The launcher, and each shortcut a feature of its own below it, so that
    an administrator chooses them with ADDLOCAL and REMOVE, and Windows
    Installer keeps the choice through repairs and upgrades."""
    return [Feature("Launcher", product.name, 1),
            Feature("StartMenuShortcut", "Start-menu shortcut", 1, "Launcher"),
            Feature("DesktopShortcut", "Desktop shortcut", 1000, "Launcher")]


def components(product: Product) -> list[Component]:
    """The MSI's components, in the order of its tables: each file it installs
    is a component of its own, keyed by it."""
    def first_key_path(name: str) -> str | None:
        first = msi_identity.FIRST_KEY_PATHS.get(name)
        return first and first.format(executable=product.executable, manufacturer=product.manufacturer)

    # Keyed by a value of the product's own key, which stays where it is from
    # version to version, as a key path must for its component to keep its code.
    def value_component(name: str, feature: str, **more: Any) -> Component:
        return Component(name, feature, "INSTALLFOLDER", KeyPath.REGISTRY, rf"HKMU\{product_key(product)}\{name}",
                         product.upgrade_code, first_key_path(name), **more)

    def file_component(name: str, file: ShippedFile) -> Component:
        return Component(name, "Launcher", "INSTALLFOLDER", KeyPath.FILE, f"[INSTALLFOLDER]{file.name}",
                         product.upgrade_code, first_key_path(name), file=file)

    launcher = shipped(product, Made.LAUNCHER)
    # Each registry value the product writes is a component of its own, keyed
    # by it: beside the launcher's file, a value that follows ALLUSERS (HKMU)
    # and one in HKLM would mix what Windows Installer counts per user and per
    # machine in one component (ICE57). The remembered folder is read back
    # before costing (msi_tables.remember_folder); the icon's value lies in the
    # uninstall entry, below the product code, so its code is drawn from the
    # product code (msi_identity), and it names the launcher by its folder:
    # [#file] of another component may resolve to nothing (ICE69).
    return [
        file_component("Launcher", launcher),
        value_component(REMEMBERED_FOLDER, "Launcher", value=("string", "[INSTALLFOLDER]")),
        Component("DisplayIcon", "Launcher", "INSTALLFOLDER", KeyPath.REGISTRY,
                  rf"HKLM\{UNINSTALL_ENTRY}\DisplayIcon", product.upgrade_code, None,
                  value=("string", f"[INSTALLFOLDER]{launcher.name},0")),
        file_component("Notices", shipped(product, Made.NOTICES)),
        value_component("StartMenuShortcut", "StartMenuShortcut", shortcut_in="ProgramMenuFolder"),
        value_component("DesktopShortcut", "DesktopShortcut", shortcut_in="DesktopFolder"),
        # Every product of the family holds its folder in this one, with one
        # code for all, so that the last of them removes it; made only where
        # the product's folder lies in it, not where an administrator chose
        # another (a condition on folders, which costing resolves first).
        Component("ManufacturerFolder", "Launcher", "ManufacturerFolder", KeyPath.FOLDER,
                  f"[ProgramFilesFolder]{product.manufacturer}", product.manufacturer,
                  first_key_path("ManufacturerFolder"), condition="INSTALLFOLDER ~<< ManufacturerFolder"),
    ] + [file_component("ExtraFile", file) for file in files(product) if file.made is Made.EXTRA_FILE]
