"""The MSI's codes, the tables the release completes, and the payload as wixl builds it."""

import copy
import dataclasses
import re
import shutil
import subprocess

import pytest
from conftest import example_product

from release import msi_ice, msi_identity, msi_tables, product as payload, wix

# Codes Tessalune 1.0.0's MSI was released with: kept where the component stays as it was, not where its
# key path moved or it lost a resource (the launcher's registry values, now components of their own).
TESSALUNE_UPGRADE = "655CAF59-8A28-4862-B7B1-29EE8A7A1FF5"
RELEASED = [("Launcher", "[INSTALLFOLDER]Tessalune.exe", "BEDBD4DE-0F27-828E-B9E5-7AEB346B1476"),
            ("Notices", "[INSTALLFOLDER]THIRD-PARTY-NOTICES.txt", "547D2125-4314-8D28-85FE-C0530B4307F4")]
RELEASED_MOVED = {"StartMenuShortcut": "4B6C8A83-79C3-87BD-BCA0-D24D016576A7",
                  "DesktopShortcut": "BC33428B-DAD4-827F-8A59-DFACC15D8A5A",
                  "Launcher": "BEDBD4DE-0F27-828E-B9E5-7AEB346B1476"}

needs_msitools = pytest.mark.skipif(not shutil.which("wixl"), reason="wixl and msitools: tools/setup.sh installs them")


@pytest.mark.parametrize("component, key_path, released", RELEASED)
def test_a_component_whose_key_path_stays_keeps_its_released_code_and_one_that_moves_gets_another(
        component, key_path, released):
    assert msi_identity.component_code(TESSALUNE_UPGRADE, component, key_path, key_path) == released
    moved = msi_identity.component_code(TESSALUNE_UPGRADE, component, key_path + ".moved", key_path)
    assert moved != released and re.fullmatch(r"[0-9A-F]{8}-[0-9A-F]{4}-8[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}",
                                              moved)


def test_packages_that_differ_in_one_byte_get_two_package_codes_and_one_package_one(tmp_path):
    one, other = tmp_path / "one.msi", tmp_path / "other.msi"
    one.write_bytes(b"package" * 100)
    other.write_bytes(b"package" * 99 + b"packagf")
    assert msi_identity.package_code(one) == msi_identity.package_code(one) != msi_identity.package_code(other)


def build_payload_msi(product, folder):
    """The product's .wxs and payload built by wixl, as the release builds it, before the tables are completed."""
    for name in [file.name for file in payload.files(product)] + ["product.ico"]:
        (folder / name).write_bytes(b"x")
    (folder / wix.INCLUDE).write_text(wix.render_payload(product), encoding="utf-8")
    defines = {"Version": product.version, "ProductCode": "11111111-1111-8111-8111-111111111111",
               "ProductName": product.name, "Manufacturer": product.manufacturer,
               "UpgradeCode": product.upgrade_code, "ReleasesAddress": product.releases_address,
               "SupportAddress": product.support_address, "Comments": "c"}
    subprocess.run(["wixl", "-a", "x86", *[a for k, v in defines.items() for a in ("-D", f"{k}={v}")], "-o",
                    "p.msi", str(wix.TEMPLATE)], cwd=folder, check=True, capture_output=True)
    return folder / "p.msi"


def test_components_that_moved_or_changed_have_codes_of_their_own_and_one_below_the_product_code_one_a_build(
        product):
    product = dataclasses.replace(product, upgrade_code=TESSALUNE_UPGRADE)
    components = {component.name: component for component in payload.components(product)}
    assert all(components[name].code() != released for name, released in RELEASED_MOVED.items())
    in_entry = [c for c in components.values() if "Uninstall" in c.key_path]
    assert [c.name for c in in_entry] == ["DisplayIcon"] and in_entry[0].code() == msi_identity.BLANK_CODE.strip("{}")
    assert in_entry[0].code("{A}") == in_entry[0].code("{A}") != in_entry[0].code("{B}")


@needs_msitools
def test_the_msi_holds_each_component_of_the_payload_with_its_code_feature_and_key_path(product, tmp_path):
    product = dataclasses.replace(product, upgrade_code=TESSALUNE_UPGRADE)
    msi = build_payload_msi(product, tmp_path)
    rows = {row[0]: row for row in msi_tables.export(msi, "Component").rows}
    files = {row[0]: row[2] for row in msi_tables.export(msi, "File").rows}
    registry = {row[0]: row for row in msi_tables.export(msi, "Registry").rows}
    features = {(row[1], row[0]) for row in msi_tables.export(msi, "FeatureComponents").rows}
    for component in payload.components(product):
        code, key = rows[component.name][1], rows[component.name][5]
        assert code == "{" + component.code() + "}"
        assert (component.name, component.feature) in features
        if component.kind is payload.KeyPath.FILE:
            assert files[key].endswith(component.file.name)
        elif component.kind is payload.KeyPath.REGISTRY:
            assert component.key_path.endswith("\\".join(registry[key][2:4]))
        else:
            assert key == "" and component.directory == rows[component.name][2]


@pytest.fixture(scope="module")
def completed(tmp_path_factory):
    """The example's MSI as wixl builds it, its tables completed as the release completes them."""
    product = example_product()
    msi = build_payload_msi(product, tmp_path_factory.mktemp("msi"))
    msi_tables.set_file_version(msi, payload.shipped(product, payload.Made.LAUNCHER).msi_id, "1.2.3.0", "1033")
    wix.complete_tables(product, msi)
    msi_tables.pin_summary(msi, "{" + msi_identity.package_code(msi) + "}", 86400 * 365)
    return product, msi


@needs_msitools
def test_the_release_completes_what_wixl_leaves_out(completed):
    product, msi = completed
    launcher = payload.shipped(product, payload.Made.LAUNCHER).msi_id
    file = msi_tables.export(msi, "File").rows_where("File", launcher)[0]
    assert file[4:6] == ["1.2.3.0", "1033"]
    assert launcher not in {row[0] for row in msi_tables.export(msi, "MsiFileHash").rows}
    roots = {row[3]: row[1] for row in msi_tables.export(msi, "Registry").rows}
    assert roots["StartMenuShortcut"] == "-1" and roots["DisplayIcon"] == "2"
    conditions = {row[0]: row[4] for row in msi_tables.export(msi, "Component").rows}
    assert conditions["ManufacturerFolder"] == "INSTALLFOLDER ~<< ManufacturerFolder" and conditions["Launcher"] == ""
    locator = msi_tables.export(msi, "RegLocator").rows[0]
    assert locator[2:5] == [r"Software\Maker\Example", "InstallFolder", "2"]
    features = {row[0]: int(row[7]) for row in msi_tables.export(msi, "Feature").rows}
    assert features == {"Launcher": 16, "StartMenuShortcut": 0, "DesktopShortcut": 0}
    assert msi_tables.export(msi, "CustomAction").rows_where("Action", "RequireLauncher")[0][1] == "19"
    for sequence in ("InstallUISequence", "InstallExecuteSequence"):
        at = {row[0]: (row[1], int(row[2])) for row in msi_tables.export(msi, sequence).rows}
        assert at["AppSearch"][1] < at["RememberINSTALLFOLDER"][1] < at["CostFinalize"][1]
        assert at["RememberINSTALLFOLDER"][0] == "REMEMBEREDINSTALLFOLDER AND NOT INSTALLFOLDER"
    at = {row[0]: int(row[2]) for row in msi_tables.export(msi, "InstallExecuteSequence").rows}
    assert at["MigrateFeatureStates"] < at["RequireLauncher"] < at["InstallValidate"] < at["RemoveExistingProducts"]
    upgrade = msi_tables.export(msi, "Upgrade").rows_where("ActionProperty", wix.UPGRADE_DETECTED)[0]
    assert int(upgrade[4]) & 0x200 and upgrade[2] == product.version
    summary = dict(row[:2] for row in msi_tables.export(msi, "_SummaryInformation").rows)
    assert summary["12"] == summary["13"] == "1971/01/01 00:00:00"
    assert re.fullmatch(r"\{[0-9A-F-]{36}\}", summary["9"])


@pytest.mark.parametrize("name, taken, short", [
    ("Maker", set(), "MAKER"), ("read.me", set(), "READ.ME"), ("Exemplary.exe", set(), r"EXEM~[0-9A-F]{3}\.EXE"),
    ("MAKER", {"MAKER"}, r"MAKE~[0-9A-F]{3}"), ("a b+c.text", set(), r"ABC~[0-9A-F]{3}\.TEX"),
])
def test_a_short_name_is_the_name_where_it_is_one_else_made_from_it_and_none_its_folder_has(name, taken, short):
    made = msi_tables.short_name(name, taken)
    assert re.fullmatch(short, made) and made not in taken and made == msi_tables.short_name(name, taken)
    assert msi_tables.short_name(name, taken | {made}) != made


def broken(tables, table, key, column, value):
    """The tables with one value of one row changed (a row added where none has the key)."""
    tables = copy.deepcopy(tables)
    rows = [row for row in tables[table] if next(iter(row.values())) == key]
    if not rows:
        rows = [dict.fromkeys(tables[table][0], "") | {next(iter(tables[table][0])): key}]
        tables[table].append(rows[0])
    rows[0][column] = value
    return tables


# One mistake a rule exists for, each in one table of the completed package.
BREAKAGES = {
    "ICE03": ("File", "NoticesTxt", "FileName", "THIRD-PARTY-NOTICES.txt"),
    "ICE09": ("Component", "Notices", "Directory_", "SystemFolder"),
    "ICE18": ("CreateFolder", "ManufacturerFolder", "Component_", "Launcher"),
    "ICE38": ("Component", "Notices", "Directory_", "DesktopFolder"),
    "ICE43": ("Registry", "reg" + "StartMenuShortcut", "Root", "2"),
    "ICE57": ("Registry", "reg" + "InstallFolder", "Component_", "Launcher"),
    "ICE61": ("Property", "SecureCustomProperties", "Value", "INSTALLFOLDER"),
    "ICE64": ("RemoveFile", "RemovePrograms", "DirProperty", "INSTALLFOLDER"),
    "ICE69": ("Registry", "reg" + "DisplayIcon", "Value", "[#LauncherExe],0"),
    "ICE90": ("Shortcut", "StartMenuShortcut", "Directory_", "PROGRAMS"),
}


@needs_msitools
def test_the_complete_package_keeps_every_table_rule_and_one_mistake_in_a_table_breaks_its_rule(completed):
    tables = msi_ice.read(completed[1])
    # The registry rows by the value they write, as the breakages name them.
    for row in tables["Registry"]:
        row["Registry"] = "reg" + row["Name"]
    for row in tables["Component"]:
        row["KeyPath"] = "reg" + row["Component"] if int(row["Attributes"]) & 4 else row["KeyPath"]
    # A folder of its own in the Start menu, removed on uninstall, for the shortcut rules to have one.
    tables["Directory"].append({"Directory": "PROGRAMS", "Directory_Parent": "ProgramMenuFolder",
                                "DefaultDir": "PROGRAMS|Programs"})
    tables["RemoveFile"].append({"FileKey": "RemovePrograms", "Component_": "StartMenuShortcut", "FileName": "",
                                 "DirProperty": "PROGRAMS", "InstallMode": "2"})
    found = msi_ice.check(tables)
    assert [(f.ice, f.warning, f.known) for f in found] == [("ICE61", True, True)]
    for ice, breakage in BREAKAGES.items():
        assert ice in {f.ice for f in msi_ice.check(broken(tables, *breakage)) if not f.known}, ice
