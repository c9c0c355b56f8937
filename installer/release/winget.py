"""The winget manifest of a product's release: the three files of a
multi-file manifest (version, installer, default locale) in NAME-VERSION.winget/,
as winget's community repository names them, for the released MSI.

Its values come from the product's description (the family's names and
addresses, the host it needs), the changelog's section for the version, and
the built MSI: its product code, the names, version and comments it was
built with, the property that holds its install folder, and its SHA-256
once it is signed. Each value is held to the constraints the manifest schema
of that version gives it, so that a manifest the release publishes is one
winget accepts.

The YAML is written here: the values are few and known, every one a
double-quoted string with whatever it holds escaped, so no value can be read
as anything else.
"""

from __future__ import annotations

import dataclasses
import hashlib
import re
from collections.abc import Iterator, Mapping
from pathlib import Path
from typing import TYPE_CHECKING, Union

from .errors import ReleaseError, read_text
from .product import PROGRAM_LICENCE, Product
from .wix import INSTALL_FOLDER, BuiltMsi, msi_comments

if TYPE_CHECKING:
    from .model import Release

MANIFEST_VERSION = "1.10.0"
LOCALE = "en-US"
FOLDER_SUFFIX = ".winget"
# The MSI's licence, as the bill of materials states it, and the SPDX list's page of it.
LICENCE = PROGRAM_LICENCE
LICENCE_URL = f"https://spdx.org/licenses/{LICENCE}.html"
# What the MSI is: wix.py builds it for x86, per machine, as a major upgrade of what is installed.
ARCHITECTURE = "x86"
# How winget hands the MSI a folder (--location) and a log: without them it
# passes TARGETDIR="<INSTALLPATH>" (winget-cli's GetDefaultKnownSwitches),
# which this MSI's folders do not follow, and a log without its verbose part.
SWITCHES = {"InstallLocation": f'{INSTALL_FOLDER}="<INSTALLPATH>"', "Log": '/l*v "<LOGPATH>"'}

Document = dict[str, Union[str, list["Document"], "Document"]]


@dataclasses.dataclass(frozen=True)
class Rule:
    """What the schema allows a value: a pattern (anchored at both ends, as
    every one the schema gives is), lengths, or for a fixed value the choices
    the release makes among those it allows."""

    pattern: str | None = None
    min_length: int = 0
    max_length: int | None = None
    choices: tuple[str, ...] = ()

    def refusal(self, value: str) -> str | None:
        if self.choices and value not in self.choices:
            return f"is none of {', '.join(self.choices)}"
        if len(value) < self.min_length:
            return f"is shorter than {self.min_length} characters"
        if self.max_length is not None and len(value) > self.max_length:
            return f"is longer than {self.max_length} characters"
        if self.pattern is not None and not re.fullmatch(self.pattern, value):
            return f"does not match {self.pattern}"
        return None


# The schema's rules (schemas/JSON/manifests/v1.10.0 of microsoft/winget-cli), by
# manifest and key; a list's items are reached through the list's key.
IDENTIFIER_PART = r'[^\.\s\\/:\*\?"<>\|\x01-\x1f]{1,32}'
URL = Rule(r"^([Hh][Tt][Tt][Pp][Ss]?)://.+$", max_length=2048)
PRODUCT_CODE = Rule(min_length=1, max_length=255)
COMMON = {
    "PackageIdentifier": Rule(rf"^{IDENTIFIER_PART}(\.{IDENTIFIER_PART}){{1,7}}$", max_length=128),
    "PackageVersion": Rule(r'^[^\\/:\*\?"<>\|\x01-\x1f]+$', max_length=128),
    "ManifestVersion": Rule(choices=(MANIFEST_VERSION,)),
}
KINDS = {"version": "", "installer": "installer.", "defaultLocale": f"locale.{LOCALE}."}
RULES: dict[str, Rule] = {
    **{f"{kind}.{key}": rule for kind in KINDS for key, rule in COMMON.items()},
    **{f"{kind}.ManifestType": Rule(choices=(kind,)) for kind in KINDS},
    "version.DefaultLocale": Rule(choices=(LOCALE,)),
    "installer.Installers.Architecture": Rule(choices=(ARCHITECTURE,)),
    "installer.Installers.InstallerType": Rule(choices=("msi",)),
    "installer.Installers.Scope": Rule(choices=("machine",)),
    "installer.Installers.InstallerUrl": URL,
    "installer.Installers.InstallerSha256": Rule(r"^[A-Fa-f0-9]{64}$"),
    "installer.Installers.UpgradeBehavior": Rule(choices=("install",)),
    "installer.Installers.ProductCode": PRODUCT_CODE,
    **{f"installer.Installers.InstallerSwitches.{key}": Rule(min_length=1, max_length=512) for key in SWITCHES},
    "installer.Installers.AppsAndFeaturesEntries.DisplayName": Rule(min_length=1, max_length=256),
    "installer.Installers.AppsAndFeaturesEntries.Publisher": Rule(min_length=1, max_length=256),
    "installer.Installers.AppsAndFeaturesEntries.DisplayVersion": Rule(min_length=1, max_length=128),
    "installer.Installers.AppsAndFeaturesEntries.ProductCode": PRODUCT_CODE,
    "installer.Installers.AppsAndFeaturesEntries.UpgradeCode": PRODUCT_CODE,
    "defaultLocale.PackageLocale": Rule(choices=(LOCALE,)),
    "defaultLocale.Publisher": Rule(min_length=2, max_length=256),
    "defaultLocale.PublisherUrl": URL,
    "defaultLocale.PublisherSupportUrl": URL,
    "defaultLocale.PackageName": Rule(min_length=2, max_length=256),
    "defaultLocale.License": Rule(min_length=3, max_length=512),
    "defaultLocale.LicenseUrl": URL,
    "defaultLocale.ShortDescription": Rule(min_length=3, max_length=256),
    "defaultLocale.ReleaseNotes": Rule(min_length=1, max_length=10000),
    "defaultLocale.InstallationNotes": Rule(min_length=1, max_length=10000),
}


def identifier(product: Product) -> str:
    """Manufacturer.Product, each part one winget accepts."""
    for what, part, given in (("manufacturer", product.manufacturer, "MANUFACTURER in products/family.cmake"),
                              ("product name", product.name, "its entry's name in the product table")):
        if not re.fullmatch(IDENTIFIER_PART, part):
            raise ReleaseError(f"{product.path}: the {what} '{part}' ({given}) cannot be part of a winget package "
                               "identifier: 1 to 32 characters, none of them white space, a control character or "
                               "one of . \\ / : * ? \" < > |")
    return f"{product.manufacturer}.{product.name}"


def installation_notes(product: Product) -> str:
    """The host the product needs. No manifest of the family installs it, and
    the family gives it no package identifier a Dependencies entry could name."""
    return (f"{product.name} starts the host {product.host}, which this package does not install: install it first, "
            f"with its own installer, as %ProgramData%\\{product.host_folder}\\{product.host}. Without it, "
            f"{product.launcher_file} shows \"{product.error_title}\" and exits.")


def release_notes(changelog: str, name: str, version: str) -> str:
    """The changelog's section for the version; for a version it has none of,
    a note that says so, and so can pass for no version's release notes."""
    heading = f"## {name} {version}"
    lines = changelog.splitlines()
    starts = [at for at, line in enumerate(lines) if line.rstrip() == heading]
    if not starts:
        return f'No release notes: CHANGELOG.md has no section "{heading}".'
    section = []
    for line in lines[starts[0] + 1:]:
        if line.startswith("## "):
            break
        section.append(line)
    return "\n".join(section).strip("\n")


@dataclasses.dataclass(frozen=True)
class Installer:
    """The released MSI as the manifest names it: its address, its SHA-256,
    its codes, and what Add/Remove Programs says the product is
    (ARPCOMMENTS), the package's short description."""

    url: str
    sha256: str
    product_code: str
    comments: str

    @classmethod
    def of(cls, release: Release, msi: BuiltMsi) -> Installer:
        return cls(release.product.releases_address + f"{release.base}.msi",
                   hashlib.sha256(msi.content).hexdigest().upper(), msi.product_code, msi_comments(release))


def documents(product: Product, notes: str, installer: Installer | None) -> dict[str, Document]:
    """The three manifests by kind. Without the installer, they lack what it
    gives: what the release has not built yet."""
    common: Document = {"PackageIdentifier": identifier(product), "PackageVersion": product.version}
    entry: Document = {"Architecture": ARCHITECTURE, "InstallerType": "msi", "Scope": "machine",
                       "InstallerSwitches": dict(SWITCHES)}
    if installer:
        entry |= {"InstallerUrl": installer.url, "InstallerSha256": installer.sha256, "UpgradeBehavior": "install",
                  "ProductCode": installer.product_code,
                  "AppsAndFeaturesEntries": [{"DisplayName": product.name, "Publisher": product.manufacturer,
                                              "DisplayVersion": product.version,
                                              "ProductCode": installer.product_code,
                                              "UpgradeCode": "{" + product.upgrade_code + "}"}]}
    locale: Document = {"PackageLocale": LOCALE, "Publisher": product.manufacturer,
                        "PublisherUrl": product.home_address, "PublisherSupportUrl": product.support_address,
                        "PackageName": product.name, "License": LICENCE, "LicenseUrl": LICENCE_URL}
    if installer:
        locale["ShortDescription"] = installer.comments
    locale["ReleaseNotes"] = notes
    locale["InstallationNotes"] = installation_notes(product)
    tail = {kind: {"ManifestType": kind, "ManifestVersion": MANIFEST_VERSION} for kind in KINDS}
    return {"version": common | {"DefaultLocale": LOCALE} | tail["version"],
            "installer": common | {"Installers": [entry]} | tail["installer"],
            "defaultLocale": common | locale | tail["defaultLocale"]}


def values(document: Document, path: str) -> Iterator[tuple[str, str]]:
    """Each value of a manifest with its key's path, a list's items and a mapping's values under its key."""
    for key, value in document.items():
        if isinstance(value, str):
            yield f"{path}.{key}", value
        else:
            for item in [value] if isinstance(value, dict) else value:
                yield from values(item, f"{path}.{key}")


def check(product: Product, manifests: Mapping[str, Document]) -> None:
    for kind, document in manifests.items():
        for path, value in values(document, kind):
            refusal = RULES[path].refusal(value)
            if refusal:
                shown = value if len(value) <= 80 else value[:77] + "..."
                raise ReleaseError(f"{product.name}'s winget manifest: {path.partition('.')[2]} {shown!r} "
                                   f"{refusal}, which the schema of winget's manifests {MANIFEST_VERSION} refuses "
                                   f"(made from {product.path}, the changelog and the MSI)")


def check_description(product: Product, changelog: Path) -> None:
    """What the product's description and the changelog give the manifest,
    checked before anything is built."""
    notes = release_notes(read_text(changelog, "the changelog"), product.name, product.version)
    check(product, documents(product, notes, None))


def escaped(character: str) -> str:
    """A character as a double-quoted YAML scalar holds it: YAML 1.1 and 1.2
    alike print it as it is, or it is escaped."""
    code = ord(character)
    if character in '"\\':
        return "\\" + character
    if character == "\t":
        return "\\t"
    printable = (0x20 <= code <= 0x7E or 0xA0 <= code <= 0xD7FF or 0xE000 <= code <= 0xFFFD and code != 0xFEFF
                 or code >= 0x10000) and code not in (0x2028, 0x2029)
    if printable:
        return character
    return f"\\x{code:02X}" if code <= 0xFF else f"\\u{code:04X}" if code <= 0xFFFF else f"\\U{code:08X}"


def quoted(value: str, indent: str) -> str:
    """A double-quoted scalar, a line of it for each line of the value: an
    escaped line end continues it, and since a continued line's leading
    white space is not its content, its first space is escaped too."""
    lines = ["".join(escaped(character) for character in line) for line in value.split("\n")]
    lines[1:] = ["\\x20" + line[1:] if line.startswith(" ") else line for line in lines[1:]]
    return '"' + f"\\n\\\n{indent}".join(lines) + '"'


def yaml_lines(document: Document, indent: str = "") -> Iterator[str]:
    for key, value in document.items():
        if isinstance(value, str):
            yield f"{indent}{key}: {quoted(value, indent + '  ')}"
            continue
        yield f"{indent}{key}:"
        if isinstance(value, dict):
            yield from yaml_lines(value, indent + "  ")
            continue
        for item in value:
            first, *rest = yaml_lines(item, indent + "  ")
            yield f"{indent}- {first.removeprefix(indent + '  ')}"
            yield from rest


def render_yaml(kind: str, document: Document) -> str:
    schema = f"https://aka.ms/winget-manifest.{kind.lower()}.{MANIFEST_VERSION}.schema.json"
    return "\n".join([f"# yaml-language-server: $schema={schema}", *yaml_lines(document)]) + "\n"


def folder_name(product: Product) -> str:
    return f"{product.name}-{product.version}{FOLDER_SUFFIX}"


def render(release: Release, msi: BuiltMsi, changelog: Path) -> dict[str, bytes]:
    """The manifest of the MSI, by each file's path in the release folder."""
    product = release.product
    notes = release_notes(read_text(changelog, "the changelog"), product.name, product.version)
    manifests = documents(product, notes, Installer.of(release, msi))
    check(product, manifests)
    return {f"{folder_name(product)}/{identifier(product)}.{KINDS[kind]}yaml": render_yaml(kind, document).encode()
            for kind, document in manifests.items()}
