"""What a product ships, said once: each file, and where it goes (the install
folder, the ZIP, the test kit), and each component of its MSI with its
feature and key path. The MSI's components and features (wix.py), the ZIP's
and the kit's lists, the bill of materials' contents and the checks'
expectations (`release.sh payload`) are all made from it; nothing else names
a shipped file.
"""

from __future__ import annotations

import dataclasses
import enum

from . import msi_identity
from .description import Product

NOTICES = "THIRD-PARTY-NOTICES.txt"
INSTALL_TEXT = "INSTALL.txt"
# The kit's note of the product it tests: its launcher and PRODUCTNAME.
PRODUCT_UNDER_TEST = "product-under-test.txt"
# Where Windows Installer keeps the product's uninstall entry: Windows' and
# its own values only.
UNINSTALL_ENTRY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\[ProductCode]"
# The value of the product's own key that remembers the folder it was
# installed in, for its upgrades and repairs.
REMEMBERED_FOLDER = "InstallFolder"


class Made(enum.Enum):
    """What a shipped file is made from."""

    LAUNCHER = "the product's launcher, signed when the release is"
    NOTICES = "its licence and third-party notices (notices.py)"
    INSTALL_TEXT = "resources/INSTALL.txt.in, filled in for the product"


@dataclasses.dataclass(frozen=True)
class ShippedFile:
    name: str
    made: Made
    in_zip: bool
    in_kit: bool
    msi_id: str | None = None  # its File row in the MSI; None: not installed


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

    def code(self) -> str:
        return msi_identity.component_code(self.owner, self.name, self.key_path, self.first_key_path)


@dataclasses.dataclass(frozen=True)
class Feature:
    name: str
    title: str
    level: int  # 1: installed by default; higher: chosen (ADDLOCAL)
    parent: str | None = None


def files(product: Product) -> list[ShippedFile]:
    """Every file the release ships, in the order the ZIP packs them."""
    return [
        ShippedFile(INSTALL_TEXT, Made.INSTALL_TEXT, in_zip=True, in_kit=False),
        ShippedFile(NOTICES, Made.NOTICES, in_zip=True, in_kit=True, msi_id="NoticesTxt"),
        ShippedFile(product.launcher_file, Made.LAUNCHER, in_zip=True, in_kit=True, msi_id="LauncherExe"),
    ]


def product_key(product: Product) -> str:
    """The product's own registry key (below HKMU, HKLM in this per-machine
    package): where it keeps what it must find again, and nothing else does."""
    return rf"Software\{product.manufacturer}\{product.name}"


def shipped(product: Product, made: Made) -> ShippedFile:
    return next(file for file in files(product) if file.made is made)


def features(product: Product) -> list[Feature]:
    return [Feature("Launcher", product.name, 1), Feature("DesktopShortcut", "Desktop shortcut", 1000, "Launcher")]


def components(product: Product) -> list[Component]:
    """The MSI's components, in the order of its tables."""
    launcher, notices = shipped(product, Made.LAUNCHER), shipped(product, Made.NOTICES)

    def first_key_path(name: str) -> str | None:
        first = msi_identity.FIRST_KEY_PATHS.get(name)
        return first and first.format(executable=product.executable, manufacturer=product.manufacturer)

    def file_component(name: str, file: ShippedFile) -> Component:
        return Component(name, "Launcher", "INSTALLFOLDER", KeyPath.FILE, f"[INSTALLFOLDER]{file.name}",
                         product.upgrade_code, first_key_path(name), file=file)

    # Keyed by a value of the product's own key, which stays where it is from
    # version to version, as a key path must for its component to keep its code.
    def shortcut_component(name: str, feature: str, folder: str) -> Component:
        return Component(name, feature, "INSTALLFOLDER", KeyPath.REGISTRY, rf"HKMU\{product_key(product)}\{name}",
                         product.upgrade_code, first_key_path(name), shortcut_in=folder)

    return [
        file_component("Launcher", launcher),
        file_component("Notices", notices),
        shortcut_component("StartMenuShortcut", "Launcher", "ProgramMenuFolder"),
        shortcut_component("DesktopShortcut", "DesktopShortcut", "DesktopFolder"),
        # Every product of the family holds its folder in this one, with one
        # code for all, so that the last of them removes it; made only where
        # the product's folder lies in it, not where an administrator chose
        # another (a condition on folders, which costing resolves first).
        Component("ManufacturerFolder", "Launcher", "ManufacturerFolder", KeyPath.FOLDER,
                  f"[ProgramFilesFolder]{product.manufacturer}", product.manufacturer,
                  first_key_path("ManufacturerFolder"), condition="INSTALLFOLDER ~<< ManufacturerFolder"),
    ]


def zip_names(product: Product) -> list[str]:
    return [file.name for file in files(product) if file.in_zip]


def kit_names(product: Product) -> list[str]:
    """The kit's own files beside the test programs the build lists."""
    return [file.name for file in files(product) if file.in_kit] + [PRODUCT_UNDER_TEST]


def launcher_in(product: Product) -> tuple[str, ...]:
    """The release's files that hold the launcher, as the bill of materials names them."""
    launcher = shipped(product, Made.LAUNCHER)
    return tuple(kind for kind, holds in (("msi", launcher.msi_id is not None), ("zip", launcher.in_zip)) if holds)
