"""An MSI's tables as msitools reads and writes them (`msiinfo export`,
`msibuild -i`, `msibuild -q`), and what the release sets in them that wixl
leaves out or writes wrong."""

from __future__ import annotations

import dataclasses
import hashlib
import itertools
import tempfile
import time
from pathlib import Path

from . import programs
from .errors import ReleaseError

# The Summary Information's properties the release sets.
# https://learn.microsoft.com/en-us/windows/win32/msi/summary-information-stream-property-set
REVISION_NUMBER = "9"  # the package code
CREATE_TIME = "12"
LAST_SAVE_TIME = "13"


@dataclasses.dataclass
class Table:
    """A table in msitools' text form: its column names, their types, the
    table's name with its key columns, then a row for each record."""

    columns: list[str]
    types: list[str]
    name_and_keys: list[str]
    rows: list[list[str]]

    @property
    def name(self) -> str:
        return self.name_and_keys[0]

    def column(self, name: str) -> int:
        return self.columns.index(name)

    def rows_where(self, column: str, value: str) -> list[list[str]]:
        at = self.column(column)
        return [row for row in self.rows if row[at] == value]

    def text(self) -> str:
        lines = [self.columns, self.types, self.name_and_keys, *self.rows]
        return "".join("\t".join(fields) + "\r\n" for fields in lines)


def parse(text: str) -> Table:
    lines = [line.split("\t") for line in text.replace("\r\n", "\n").split("\n") if line != ""]
    if len(lines) < 3:
        raise ReleaseError("an MSI table without its three header lines")
    return Table(lines[0], lines[1], lines[2], lines[3:])


def export(msi: Path, table: str) -> Table:
    return parse(programs.run(["msiinfo", "export", msi, table]).stdout)


def write(msi: Path, table: Table) -> None:
    """Puts the table into the MSI in place of its own."""
    with tempfile.TemporaryDirectory() as folder:
        (Path(folder) / f"{table.name}.idt").write_bytes(table.text().encode("utf-8"))
        programs.run(["msibuild", msi.resolve(), "-i", f"{table.name}.idt"], cwd=Path(folder))


def query(msi: Path, sql: str) -> None:
    programs.run(["msibuild", msi, "-q", sql])


def set_file_version(msi: Path, file_id: str, version: str, language: str) -> None:
    """A versioned file's row carries the version and language of its version
    resource, which wixl does not read: without them Windows Installer takes
    it for an unversioned file in repairs and upgrades. It loses the hash wixl
    gave it: Windows Installer compares a versioned file by its version, and
    its validation (ICE60) refuses a hash for one."""
    table = export(msi, "File")
    rows = table.rows_where("File", file_id)
    if len(rows) != 1:
        raise ReleaseError(f"{msi} has no File row {file_id}")
    rows[0][table.column("Version")] = version
    rows[0][table.column("Language")] = language
    write(msi, table)
    query(msi, f"DELETE FROM `MsiFileHash` WHERE `File_` = '{file_id}'")


def read_hkmu_as_hkmu(msi: Path) -> None:
    """wixl writes the registry root HKMU as 4; Windows Installer reads HKMU as -1."""
    table = export(msi, "Registry")
    for row in table.rows_where("Root", "4"):
        row[table.column("Root")] = "-1"
    write(msi, table)


def set_property(msi: Path, name: str, value: str) -> None:
    table = export(msi, "Property")
    rows = table.rows_where("Property", name)
    if rows:
        rows[0][1] = value
    else:
        table.rows.append([name, value])
    write(msi, table)


def set_component(msi: Path, component: str, column: str, value: str) -> None:
    """A column of a component's row: wixl writes no component's condition, and
    a code drawn from the product code is known only once the package is built."""
    table = export(msi, "Component")
    rows = table.rows_where("Component", component)
    if len(rows) != 1:
        raise ReleaseError(f"{msi} has no component {component}")
    rows[0][table.column(column)] = value
    write(msi, table)


def _add_rows(msi: Path, header: Table, rows: list[list[str]]) -> None:
    """Rows added to a table, which is made as `header` says if the MSI lacks it."""
    try:
        table = export(msi, header.name)
    except ReleaseError:
        table = header
    table.rows += rows
    write(msi, table)


# Windows Installer's own tables and actions that wixl does not write.
# https://learn.microsoft.com/en-us/windows/win32/msi/appsearch-table
# https://learn.microsoft.com/en-us/windows/win32/msi/reglocator-table
APP_SEARCH = Table(["Property", "Signature_"], ["s72", "s72"], ["AppSearch", "Property", "Signature_"], [])
REG_LOCATOR = Table(["Signature_", "Root", "Key", "Name", "Type"], ["s72", "i2", "s255", "S255", "I2"],
                    ["RegLocator", "Signature_"], [])
LOCAL_MACHINE = "2"
RAW_VALUE = "2"
SET_PROPERTY = "51"  # a custom action that sets a property, here a folder's, to a formatted text
APP_SEARCH_AT = "50"


def remember_folder(msi: Path, folder: str, key: str, value: str) -> None:
    """The folder's property is read back from the registry value that the
    installed product wrote (HKLM in this per-machine package, in the 32-bit
    view as every value a 32-bit package writes), before the folders are
    costed, in both sequences, unless it was given on the command line: an
    upgrade or repair stays where the administrator installed the product."""
    remembered = f"REMEMBERED{folder}"
    _add_rows(msi, APP_SEARCH, [[remembered, remembered]])
    _add_rows(msi, REG_LOCATOR, [[remembered, LOCAL_MACHINE, key, value, RAW_VALUE]])
    action = f"Remember{folder}"
    _add_rows(msi, export(msi, "CustomAction"), [[action, SET_PROPERTY, folder, f"[{remembered}]", ""]])
    for sequence in ("InstallUISequence", "InstallExecuteSequence"):
        table = export(msi, sequence)
        if not table.rows_where("Action", "AppSearch"):
            table.rows.append(["AppSearch", "", APP_SEARCH_AT])
        table.rows.append([action, f"{remembered} AND NOT {folder}", str(int(APP_SEARCH_AT) + 1)])
        write(msi, table)
    secure = export(msi, "Property").rows_where("Property", "SecureCustomProperties")
    set_property(msi, "SecureCustomProperties", ";".join(([secure[0][1]] if secure else []) + [folder]))


# The upgrade row's maximum version counts as well: another build of this
# version (another ProductCode, msi_identity) removes the one installed.
# Windows Installer's validation warns of it (ICE61), as it would of a
# product removing itself; the product code differs from every build's that
# differs, so it removes only another build.
# https://learn.microsoft.com/en-us/windows/win32/msi/upgrade-table
VERSION_MAX_INCLUSIVE = 0x200


def upgrade_same_version(msi: Path, action_property: str) -> None:
    table = export(msi, "Upgrade")
    rows = table.rows_where("ActionProperty", action_property)
    if len(rows) != 1:
        raise ReleaseError(f"{msi} has no upgrade row {action_property}")
    at = table.column("Attributes")
    rows[0][at] = str(int(rows[0][at]) | VERSION_MAX_INCLUSIVE)
    write(msi, table)


# The feature no installation may leave out: its row says so to a user
# interface (msidbFeatureAttributesUIDisallowAbsent), which wixl does not
# write for Absent="disallow"; a command line is no user interface, so an
# installation that would leave the product installed without it is ended
# by an error action (type 19) once the features' states are settled
# (CostFinalize, MigrateFeatureStates) and before anything is removed or
# written (InstallValidate, then RemoveExistingProducts).
# https://learn.microsoft.com/en-us/windows/win32/msi/feature-table
# https://learn.microsoft.com/en-us/windows/win32/msi/custom-action-type-19
# https://learn.microsoft.com/en-us/windows/win32/msi/conditional-statement-syntax
UI_DISALLOW_ABSENT = 16
ERROR_ACTION = "19"
REQUIRED_FEATURE_CHECK_AT = "1390"


def require_feature(msi: Path, feature: str, refusal: str) -> None:
    table = export(msi, "Feature")
    rows = table.rows_where("Feature", feature)
    if len(rows) != 1:
        raise ReleaseError(f"{msi} has no feature {feature}")
    at = table.column("Attributes")
    rows[0][at] = str(int(rows[0][at] or "0") | UI_DISALLOW_ABSENT)
    write(msi, table)
    action = f"Require{feature}"
    _add_rows(msi, export(msi, "CustomAction"), [[action, ERROR_ACTION, "", refusal, ""]])
    # Unless the product is removed, its action state (&) is to be advertised
    # (1) or absent (2), or it is given no state and not installed (!), local
    # (3) or from source (4): Wine's msiexec reads an installed feature with
    # components keyed by registry values as installed from source.
    leaves_it_out = (f'NOT (REMOVE ~= "ALL") AND (&{feature} = 1 OR &{feature} = 2 OR (&{feature} <> 3 AND '
                     f'&{feature} <> 4 AND !{feature} <> 3 AND !{feature} <> 4))')
    sequence = export(msi, "InstallExecuteSequence")
    sequence.rows.append([action, leaves_it_out, REQUIRED_FEATURE_CHECK_AT])
    write(msi, sequence)


# Windows Installer's Filename type: "A short file name must always be
# provided", the long name after it (SHORT|long); wixl writes the long name
# alone, in the File, Directory and Shortcut tables.
# https://learn.microsoft.com/en-us/windows/win32/msi/filename
NOT_IN_NAMES = set('\\/?|><:*"')
NOT_IN_SHORT_NAMES = NOT_IN_NAMES | set("+,;=[] .")


def is_short_name(name: str) -> bool:
    """An 8.3 name: one to eight characters, an extension of at most three."""
    stem, dot, extension = name.partition(".")
    return (1 <= len(stem) <= 8 and len(extension) <= 3 and bool(extension) == bool(dot)
            and all(character.isascii() and character > " " and character not in NOT_IN_SHORT_NAMES
                    for character in stem + extension))


def short_name(name: str, taken: set[str]) -> str:
    """A short name for `name`, none of those `taken` in its folder (in capitals):
    the name itself where it is one; else the first letters of its stem, a
    tilde and three hexadecimal digits of its hash, and its extension, so
    that a name gets the same short name in every package whatever else its
    folder holds, and the products that share a folder rarely collide."""
    if is_short_name(name) and name.upper() not in taken:
        return name.upper()
    head, dot, tail = name.rpartition(".")
    stem, extension = (head, tail) if dot and head else (name, "")

    def kept(text: str) -> str:
        return "".join(c for c in text.upper() if c.isascii() and c > " " and c not in NOT_IN_SHORT_NAMES)
    letters, suffix = kept(stem)[:4] or "F", kept(extension)[:3]
    for attempt in itertools.count():
        digest = hashlib.sha256(f"{name}\0{attempt}".encode()).hexdigest()[:3].upper()
        candidate = f"{letters}~{digest}" + (f".{suffix}" if suffix else "")
        if candidate not in taken:
            return candidate
    raise AssertionError("unreachable")


def set_short_names(msi: Path) -> None:
    """Each name of the File, Directory and Shortcut tables as SHORT|long,
    its short name unique in its folder: a file in its component's folder, a
    shortcut in its own, a folder in its parent (a Directory row's target
    name, before any ':'; "." and a root's are no names)."""
    tables = {name: export(msi, name) for name in ("Directory", "File", "Shortcut", "Component")}
    folder_of = {row[0]: row[tables["Component"].column("Directory_")] for row in tables["Component"].rows}
    directory, file, shortcut = tables["Directory"], tables["File"], tables["Shortcut"]
    named = [(row, directory.column("DefaultDir"), row[1]) for row in directory.rows if row[1] and row[2] != "."]
    named += [(row, file.column("FileName"), folder_of[row[file.column("Component_")]]) for row in file.rows]
    named += [(row, shortcut.column("Name"), row[shortcut.column("Directory_")]) for row in shortcut.rows]
    taken: dict[str, set[str]] = {}
    # The names that are short names already keep themselves before others are made.
    for row, at, folder in sorted(named, key=lambda entry: not is_short_name(entry[0][entry[1]].split(":")[0])):
        target, colon, source = row[at].partition(":")
        if "|" in target:
            raise ReleaseError(f"{msi}: {target} has a short name already")
        short = short_name(target, taken.setdefault(folder, set()))
        taken[folder].add(short)
        row[at] = f"{short}|{target}{colon}{source}"
    for table in (directory, file, shortcut):
        write(msi, table)


def pin_summary(msi: Path, package_code: str, epoch: int) -> None:
    """wixl stamps each package with a random package code and the time it
    ran: both become values that depend only on what went in."""
    stamp = time.strftime("%Y/%m/%d %H:%M:%S", time.gmtime(epoch))
    table = export(msi, "_SummaryInformation")
    values = {REVISION_NUMBER: package_code, CREATE_TIME: stamp, LAST_SAVE_TIME: stamp}
    for row in table.rows:
        row[1] = values.get(row[0], row[1])
    write(msi, table)
