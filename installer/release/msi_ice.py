"""Windows Installer's validation (ICE) rules that are plain rules of an
MSI's tables, checked on every package the release builds (wix.complete),
so that a table mistake stops the release here: ICE03's names, ICE09, ICE18,
ICE38, ICE43, ICE57, ICE61, ICE64, ICE69 and ICE90, each as its page of
Microsoft's ICE reference states it (https://learn.microsoft.com/en-us/windows/win32/msi/ice-reference).
Microsoft's own validation suite, with every other ICE, runs only on Windows
(docs/windows.md). A finding the package makes on purpose is `known`: the
release accepts it, and says why where it does it.
"""

from __future__ import annotations

import dataclasses
import re
from collections.abc import Iterator, Mapping
from pathlib import Path

from . import msi_tables
from .errors import ReleaseError

TABLES = ("Component", "Directory", "File", "Shortcut", "Registry", "CreateFolder", "RemoveFile", "Feature",
          "FeatureComponents", "Upgrade", "Property")
Row = dict[str, str]
Tables = Mapping[str, list[Row]]

# The system folders in a user's profile; those a per-machine installation
# puts in the All Users profile follow ALLUSERS, the others are the user's.
# https://learn.microsoft.com/en-us/windows/win32/msi/installation-context
FOLLOW_ALLUSERS = {"DesktopFolder", "ProgramMenuFolder", "StartMenuFolder", "StartupFolder", "TemplateFolder"}
USER_ONLY = {"AppDataFolder", "FavoritesFolder", "LocalAppDataFolder", "MyPicturesFolder", "NetHoodFolder",
             "PersonalFolder", "PrintHoodFolder", "RecentFolder", "SendToFolder"}
SYSTEM_FOLDERS = {"SystemFolder", "System16Folder", "System64Folder"}
# Component attributes: msidbComponentAttributesRegistryKeyPath, msidbComponentAttributesPermanent.
REGISTRY_KEY_PATH, PERMANENT = 4, 16
# Upgrade attributes: msidbUpgradeAttributesOnlyDetect, ...VersionMinInclusive, ...VersionMaxInclusive.
ONLY_DETECT, MIN_INCLUSIVE, MAX_INCLUSIVE = 2, 0x100, 0x200


@dataclasses.dataclass(frozen=True)
class Finding:
    ice: str
    warning: bool
    text: str
    known: bool = False  # made on purpose, and accepted

    def __str__(self) -> str:
        return f"{self.ice} {'warning' if self.warning else 'error'}: {self.text}"


def read(msi: Path) -> dict[str, list[Row]]:
    """The tables the rules read, each row by its columns' names; a table the package lacks is empty."""
    tables: dict[str, list[Row]] = {}
    for name in TABLES:
        try:
            table = msi_tables.export(msi, name)
        except ReleaseError:
            tables[name] = []
            continue
        tables[name] = [dict(zip(table.columns, row)) for row in table.rows]
    return tables


class Package:
    """What the rules ask of the tables: folders and their ancestors, each component's parts."""

    def __init__(self, tables: Tables) -> None:
        self.tables = tables
        self.parent = {row["Directory"]: row["Directory_Parent"] for row in tables["Directory"]}
        self.components = {row["Component"]: row for row in tables["Component"]}
        self.registry = {row["Registry"]: row for row in tables["Registry"]}
        self.files = {row["File"]: row for row in tables["File"]}
        self.features = {row["Feature"] for row in tables["Feature"]}
        self.properties = {row["Property"]: row["Value"] for row in tables["Property"]}

    def ancestry(self, directory: str) -> Iterator[str]:
        seen = set()
        while directory and directory not in seen:
            seen.add(directory)
            yield directory
            directory = self.parent.get(directory, "")

    def scope_of_folder(self, directory: str) -> str:
        """user, machine, or either: where ALLUSERS decides."""
        for folder in self.ancestry(directory):
            if folder in USER_ONLY:
                return "user"
            if folder in FOLLOW_ALLUSERS:
                return "either"
        return "machine"

    def in_profile(self, directory: str) -> bool:
        return self.scope_of_folder(directory) != "machine"

    def key_registry(self, component: Row) -> Row | None:
        """The registry row a component's key path names, if it is keyed by one."""
        if not int(component["Attributes"] or 0) & REGISTRY_KEY_PATH:
            return None
        return self.registry.get(component["KeyPath"])

    def non_advertised_shortcuts(self, component: str) -> list[Row]:
        # An advertised shortcut's target is a feature; any other's is a formatted path.
        return [row for row in self.tables["Shortcut"]
                if row["Component_"] == component and row["Target"] not in self.features]


def user_keyed(package: Package, name: str, why: str) -> Iterator[str]:
    """ICE38's and ICE43's one rule: keyed by a registry value of the component's
    own under HKCU, or HKMU (-1), which is HKCU in a per-user installation."""
    component = package.components[name]
    registry = package.key_registry(component)
    if registry is None:
        yield f"component {name} {why}: its key path must be a registry value under HKCU or HKMU, not " + (
            "a file" if component["KeyPath"] and not int(component["Attributes"] or 0) & REGISTRY_KEY_PATH
            else "nothing" if not component["KeyPath"] else f"{component['KeyPath']}, which the Registry table lacks")
    elif registry["Root"] not in ("1", "-1"):
        yield f"component {name} {why}: its key path {registry['Registry']} lies under root {registry['Root']}"
    elif registry["Component_"] != name:
        yield f"component {name} {why}: its key path {registry['Registry']} belongs to {registry['Component_']}"


# ICE03 (names): every Filename column holds a short name, or SHORT|long.
# https://learn.microsoft.com/en-us/windows/win32/msi/ice03
# https://learn.microsoft.com/en-us/windows/win32/msi/filename
def ice03(package: Package) -> Iterator[Finding]:
    def problem(name: str) -> str | None:
        short, bar, long = name.partition("|")
        if not msi_tables.is_short_name(short):
            return "a long name alone, with no short name" if not bar else f"short name {short!r} is no 8.3 name"
        if bar and not (long and all(c >= " " and c not in msi_tables.NOT_IN_NAMES for c in long)):
            return f"long name {long!r} holds a character no file name may"
        return None
    named = [("File", row["File"], "FileName", row["FileName"]) for row in package.tables["File"]]
    named += [("Shortcut", row["Shortcut"], "Name", row["Name"]) for row in package.tables["Shortcut"]]
    named += [("Directory", row["Directory"], "DefaultDir", part) for row in package.tables["Directory"]
              if row["Directory_Parent"] for part in row["DefaultDir"].split(":") if part != "."]
    for table, key, column, name in named:
        said = problem(name)
        if said:
            yield Finding("ICE03", False, f"{table}.{column} of {key}, {name!r}: {said}")


# ICE09: a component installed into the system folder is permanent.
# https://learn.microsoft.com/en-us/windows/win32/msi/ice09
def ice09(package: Package) -> Iterator[Finding]:
    for name, row in package.components.items():
        if row["Directory_"] in SYSTEM_FOLDERS and not int(row["Attributes"] or 0) & PERMANENT:
            yield Finding("ICE09", True, f"component {name} is installed into {row['Directory_']} but not permanent")


# ICE18: a component keyed by its folder (no key path) creates it (CreateFolder),
# unless files are installed or removed there; never the system folder.
# https://learn.microsoft.com/en-us/windows/win32/msi/ice18
def ice18(package: Package) -> Iterator[Finding]:
    created = {(row["Directory_"], row["Component_"]) for row in package.tables["CreateFolder"]}
    for name, row in package.components.items():
        if row["KeyPath"] or int(row["Attributes"] or 0) & REGISTRY_KEY_PATH:
            continue
        folder = row["Directory_"]
        if folder in SYSTEM_FOLDERS:
            yield Finding("ICE18", False, f"component {name} is keyed by the system folder {folder}")
        has_files = any(file["Component_"] == name for file in package.tables["File"]) or any(
            removed["Component_"] == name and removed["FileName"] and removed["DirProperty"] == folder
            for removed in package.tables["RemoveFile"])
        if not has_files and (folder, name) not in created:
            yield Finding("ICE18", False, f"component {name} is keyed by the folder {folder}, which the "
                                          "CreateFolder table does not list for it")


# ICE38: a component installed in a user's profile is keyed by a value under HKCU.
# https://learn.microsoft.com/en-us/windows/win32/msi/ice38
def ice38(package: Package) -> Iterator[Finding]:
    for name, row in package.components.items():
        if package.in_profile(row["Directory_"]):
            yield from (Finding("ICE38", False, text) for text in user_keyed(package, name, "installs to a profile"))


# ICE43: a component with non-advertised shortcuts is keyed by a value under HKCU.
# https://learn.microsoft.com/en-us/windows/win32/msi/ice43
def ice43(package: Package) -> Iterator[Finding]:
    for name in package.components:
        if package.non_advertised_shortcuts(name):
            yield from (Finding("ICE43", False, text) for text in user_keyed(package, name, "has shortcuts"))


# ICE57: a component does not mix per-user and per-machine data (registry
# values, files, a folder key path, non-advertised shortcuts), nor data of
# either kind with a key path that follows ALLUSERS; mixed under an HKCU key
# path it is a warning.
# https://learn.microsoft.com/en-us/windows/win32/msi/ice57
def ice57(package: Package) -> Iterator[Finding]:
    by_root = {"1": "user", "-1": "either", "0": "either"}
    for name, row in package.components.items():
        folder = package.scope_of_folder(row["Directory_"])
        data = {by_root.get(reg["Root"], "machine") for reg in package.registry.values() if reg["Component_"] == name}
        data |= {folder for file in package.files.values() if file["Component_"] == name}
        data |= {package.scope_of_folder(link["Directory_"]) for link in package.non_advertised_shortcuts(name)}
        registry = package.key_registry(row)
        key = by_root.get(registry["Root"], "machine") if registry else folder
        scopes = data | {key}
        if len(scopes) > 1:
            hkcu_keyed = registry is not None and registry["Root"] == "1" and scopes == {"user", "machine"}
            yield Finding("ICE57", hkcu_keyed, f"component {name} has {' and '.join(sorted(data))} data with "
                                               f"a {key} key path")


def version_of(text: str) -> tuple[int, ...] | None:
    """A ProductVersion: major.minor.build[.revision] within 255.255.65535."""
    if not re.fullmatch(r"[0-9]+(\.[0-9]+){2,3}", text):
        return None
    parts = tuple(int(part) for part in text.split("."))
    return parts if parts[0] <= 255 and parts[1] <= 255 and parts[2] <= 65535 else None


# ICE61: each upgrade row's property is public, secure, its own, not authored
# in the Property table; its versions are versions, the maximum not below the
# minimum; and no row removes the package's own version or a newer one.
# https://learn.microsoft.com/en-us/windows/win32/msi/ice61
def ice61(package: Package) -> Iterator[Finding]:
    secure = set(package.properties.get("SecureCustomProperties", "").split(";"))
    product = version_of(package.properties.get("ProductVersion", ""))
    seen: set[str] = set()
    for row in package.tables["Upgrade"]:
        action = row["ActionProperty"]
        said = [f"{action} is authored in the Property table" if action in package.properties else "",
                f"{action} holds lower-case letters" if action != action.upper() else "",
                f"{action} is not in SecureCustomProperties" if action not in secure else "",
                f"{action} is used by another row" if action in seen else ""]
        seen.add(action)
        low, high = (version_of(row[column]) if row[column] else () for column in ("VersionMin", "VersionMax"))
        said += ["a version is no product version" if low is None or high is None else "",
                 "VersionMax is below VersionMin" if low and high and high < low else ""]
        yield from (Finding("ICE61", False, f"upgrade row {action}: {text}") for text in said if text)
        attributes = int(row["Attributes"] or 0)
        if high and product and not attributes & ONLY_DETECT and (
                high > product or high == product and attributes & MAX_INCLUSIVE):
            # The release's own: another build of this version is removed (msi_tables.upgrade_same_version).
            yield Finding("ICE61", True, f"upgrade row {action} removes its own version or a newer one "
                                         f"({row['VersionMax']}, the product being {package.properties['ProductVersion']})",
                          known=high == product)


# ICE64: a folder made in a user's profile is removed (the RemoveFile table).
# https://learn.microsoft.com/en-us/windows/win32/msi/ice64
def ice64(package: Package) -> Iterator[Finding]:
    removed = {row["DirProperty"] for row in package.tables["RemoveFile"]}
    for folder in package.parent:
        if package.in_profile(folder) and folder not in FOLLOW_ALLUSERS | USER_ONLY and folder not in removed:
            yield Finding("ICE64", False, f"the folder {folder} is in the user profile but not in the RemoveFile table")


# ICE69: a formatted value names no other component ([$c]: a warning within
# one feature, else an error) and no file of another component ([#f], [!f]).
# https://learn.microsoft.com/en-us/windows/win32/msi/ice69
def ice69(package: Package) -> Iterator[Finding]:
    features: dict[str, set[str]] = {}
    for row in package.tables["FeatureComponents"]:
        features.setdefault(row["Component_"], set()).add(row["Feature_"])
    formatted = [("Registry", row["Registry"], row["Component_"], row[column]) for row in package.tables["Registry"]
                 for column in ("Key", "Name", "Value")]
    formatted += [("Shortcut", row["Shortcut"], row["Component_"], row[column]) for row in package.tables["Shortcut"]
                  for column in ("Target", "Arguments")]
    for table, key, owner, text in formatted:
        for sign, name in re.findall(r"\[([$#!])([^\]]+)\]", text or ""):
            other = name if sign == "$" else package.files.get(name, {}).get("Component_", "")
            if other == owner:
                continue
            shared = sign == "$" and bool(features.get(owner, set()) & features.get(other, set()))
            yield Finding("ICE69", shared, f"{table} {key} of component {owner} names [{sign}{name}], of "
                                           f"{other or 'no component'}")


# ICE90: a shortcut's folder in a user's profile is no public property.
# https://learn.microsoft.com/en-us/windows/win32/msi/ice90
def ice90(package: Package) -> Iterator[Finding]:
    for row in package.tables["Shortcut"]:
        folder = row["Directory_"]
        if folder == folder.upper() and package.in_profile(folder):
            yield Finding("ICE90", True, f"shortcut {row['Shortcut']} lies in {folder}, a public property in the "
                                         "user profile, which moves if ALLUSERS changes")


RULES = (ice03, ice09, ice18, ice38, ice43, ice57, ice61, ice64, ice69, ice90)


def check(tables: Tables) -> list[Finding]:
    package = Package(tables)
    return [finding for rule in RULES for finding in rule(package)]
