"""An MSI's tables as msitools reads and writes them (`msiinfo export`,
`msibuild -i`, `msibuild -q`), and what the release sets in them that wixl
leaves out or writes wrong."""

from __future__ import annotations

import dataclasses
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


def set_component_condition(msi: Path, component: str, condition: str) -> None:
    """wixl writes no component's condition."""
    table = export(msi, "Component")
    rows = table.rows_where("Component", component)
    if len(rows) != 1:
        raise ReleaseError(f"{msi} has no component {component}")
    rows[0][table.column("Condition")] = condition
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


def pin_summary(msi: Path, package_code: str, epoch: int) -> None:
    """wixl stamps each package with a random package code and the time it
    ran: both become values that depend only on what went in."""
    stamp = time.strftime("%Y/%m/%d %H:%M:%S", time.gmtime(epoch))
    table = export(msi, "_SummaryInformation")
    values = {REVISION_NUMBER: package_code, CREATE_TIME: stamp, LAST_SAVE_TIME: stamp}
    for row in table.rows:
        row[1] = values.get(row[0], row[1])
    write(msi, table)
