"""The product's MSI: installer/product.wxs, with the components and features
of the product's payload put in as payload.wxi, built by wixl in a folder of
its own, then its tables completed and its codes set (msi_tables,
msi_identity)."""

from __future__ import annotations

import dataclasses
import os
import sys
import tempfile
from pathlib import Path
from typing import TYPE_CHECKING
from xml.sax.saxutils import quoteattr

from . import msi_ice, msi_identity, msi_tables, product as payload, programs, version_resource
from .errors import ReleaseError
from .product import Product

if TYPE_CHECKING:
    from .model import Release

TEMPLATE = Path(__file__).resolve().parent.parent / "product.wxs"
INCLUDE = "payload.wxi"
ICON = "product.ico"
INSTALL_FOLDER = "INSTALLFOLDER"
# wixl's row that finds an earlier version of the product (MajorUpgrade).
UPGRADE_DETECTED = "WIX_UPGRADE_DETECTED"


def _element(name: str, **attributes: str) -> str:
    return f"<{name} " + " ".join(f"{key}={quoteattr(value)}" for key, value in attributes.items()) + " />"


def _component_lines(component: payload.Component, product: Product) -> list[str]:
    """A component's resources. The one that installs the launcher removes
    the install folder on uninstall. A shortcut names the launcher by its
    folder: [#LauncherExe] would refer to a file of another component, which
    Windows Installer may resolve to nothing in a repair (ICE69). The icon's
    value in the uninstall entry is one Windows writes from ARPPRODUCTICON
    itself (after it, so its own value wins) and Wine's installer does not."""
    lines = []
    if component.file and component.file.msi_id:
        lines.append(_element("File", Id=component.file.msi_id, Source=component.file.name, KeyPath="yes"))
    if component.file and component.file.made is payload.Made.LAUNCHER:
        lines.append(_element("RemoveFolder", Id="RemoveInstallFolder", On="uninstall"))
    if component.shortcut_in:
        text = f"Starts {product.host.removesuffix('.exe')} for {product.name}"
        lines.append(_element("Shortcut", Id=component.name, Directory=component.shortcut_in, Name=product.name,
                              Description=text, Target=f"[INSTALLFOLDER]{product.launcher_file}",
                              WorkingDirectory="INSTALLFOLDER", Icon=ICON))
    if component.kind is payload.KeyPath.REGISTRY:
        root, place = component.key_path.split("\\", 1)
        key, value = place.rsplit("\\", 1)
        kind, data = component.value
        lines.append(_element("RegistryValue", Root=root, Key=key, Name=value, Type=kind, Value=data, KeyPath="yes"))
    if component.kind is payload.KeyPath.FOLDER:
        lines.append("<CreateFolder />")
        lines.append(_element("RemoveFolder", Id=f"Remove{component.directory}", On="uninstall"))
    return lines


def _feature_lines(feature: payload.Feature, features: list[payload.Feature],
                   components: list[payload.Component]) -> list[str]:
    attributes = {"Id": feature.name, "Title": feature.title, "Level": str(feature.level)}
    if feature.parent is None:
        # The product itself cannot be left out; its parts can.
        attributes["Absent"] = "disallow"
    lines = [_element("Feature", **attributes)[:-3] + ">"]
    lines += [f"  {_element('ComponentRef', Id=c.name)}" for c in components if c.feature == feature.name]
    for child in (f for f in features if f.parent == feature.name):
        lines += [f"  {line}" for line in _feature_lines(child, features, components)]
    return lines + ["</Feature>"]


def render_payload(product: Product) -> str:
    """payload.wxi: each component in its folder, with its code, then the features."""
    components = payload.components(product)
    lines = []
    for directory in dict.fromkeys(c.directory for c in components):
        lines.append(f"<DirectoryRef Id={quoteattr(directory)}>")
        for component in (c for c in components if c.directory == directory):
            lines.append(f"  <Component Id={quoteattr(component.name)} Guid={quoteattr(component.code())}>")
            lines += [f"    {line}" for line in _component_lines(component, product)]
            lines.append("  </Component>")
        lines.append("</DirectoryRef>")
    features = payload.features(product)
    for feature in (f for f in features if f.parent is None):
        lines += _feature_lines(feature, features, components)
    body = "".join(f"  {line}\n" for line in lines)
    return ('<?xml version="1.0" encoding="utf-8"?>\n'
            f'<Include xmlns="http://schemas.microsoft.com/wix/2006/wi">\n{body}</Include>\n')


def msi_comments(release: Release) -> str:
    """What the product is, for Add/Remove Programs."""
    product = release.product
    if release.sources.uncommitted:
        return f"{release.sources.test_release_mark()}: starts {product.host} for {product.name}."
    return f"Starts {product.host} for {product.name}."


@dataclasses.dataclass(frozen=True)
class BuiltMsi:
    content: bytes
    product_code: str  # in braces, as its Property table holds it


def build(release: Release) -> BuiltMsi:
    """The MSI of the release's payload and icon, which go into the stage
    under the names the payload gives them."""
    product = release.product
    name = f"{release.base}.msi"
    with tempfile.TemporaryDirectory() as folder:
        stage = Path(folder)
        (stage / INCLUDE).write_text(render_payload(product), encoding="utf-8")
        installed = {file.name: content for file, content in release.shipped() if file.msi_id}
        for file, content in [*installed.items(), (ICON, release.icon)]:
            (stage / file).write_bytes(content)
            # The cabinet keeps each file's time.
            os.utime(stage / file, (release.epoch, release.epoch))
        variables = {"Version": product.version, "ProductCode": msi_identity.BLANK_CODE.strip("{}"),
                     "ProductName": product.name, "Manufacturer": product.manufacturer,
                     "UpgradeCode": product.upgrade_code, "ReleasesAddress": product.releases_address,
                     "SupportAddress": product.support_address, "Comments": msi_comments(release)}
        # wixl finds the files the .wxs names only relative to where it runs.
        defines = [argument for key, value in variables.items() for argument in ("-D", f"{key}={value}")]
        built = programs.run(["wixl", "-a", "x86", *defines, "-o", name, TEMPLATE], cwd=stage)
        sys.stderr.write("".join(line + "\n" for line in built.stderr.splitlines() if line))
        code = complete(product, stage / name, stage / product.launcher_file, release.epoch)
        return BuiltMsi((stage / name).read_bytes(), code)


def complete(product: Product, msi: Path, launcher: Path, epoch: int) -> str:
    """What wixl leaves out or writes wrong, then the product's and the
    package's own codes, drawn from its bytes with the codes left blank, and
    the code of each component keyed below the product code, drawn from it;
    the tables held to Windows Installer's table rules (msi_ice). The product
    code."""
    resource = version_resource.read(launcher)
    launcher_id = payload.shipped(product, payload.Made.LAUNCHER).msi_id or ""
    msi_tables.set_file_version(msi, launcher_id, resource["file-version"], resource["language"])
    complete_tables(product, msi)
    msi_tables.pin_summary(msi, msi_identity.BLANK_CODE, epoch)
    code = "{" + msi_identity.product_code(product.upgrade_code, product.version, msi) + "}"
    for component in payload.components(product):
        if msi_identity.PRODUCT_CODE_PLACE in component.key_path:
            msi_tables.set_component(msi, component.name, "ComponentId", "{" + component.code(code) + "}")
    msi_tables.set_property(msi, "ProductCode", code)
    msi_tables.pin_summary(msi, "{" + msi_identity.package_code(msi) + "}", epoch)
    findings = [finding for finding in msi_ice.check(msi_ice.read(msi)) if not finding.known]
    if findings:
        raise ReleaseError(f"{product.name}'s MSI breaks Windows Installer's table rules:\n  "
                           + "\n  ".join(map(str, findings)))
    return code


def complete_tables(product: Product, msi: Path) -> None:
    """The tables wixl leaves incomplete: HKMU's root, the components'
    conditions, the remembered folder, the upgrade of another build of the
    version, the feature no installation may leave out, and short names."""
    msi_tables.read_hkmu_as_hkmu(msi)
    for component in payload.components(product):
        if component.condition:
            msi_tables.set_component(msi, component.name, "Condition", component.condition)
    msi_tables.remember_folder(msi, INSTALL_FOLDER, payload.product_key(product), payload.REMEMBERED_FOLDER)
    msi_tables.upgrade_same_version(msi, UPGRADE_DETECTED)
    required = next(feature for feature in payload.features(product) if feature.parent is None)
    optional = " or ".join(f"REMOVE={feature.name}" for feature in payload.features(product) if feature.parent)
    msi_tables.require_feature(msi, required.name, f"{product.name} cannot be installed without its launcher, the "
                               f"feature {required.name}: name it in ADDLOCAL with the shortcuts wanted (ADDLOCAL=ALL "
                               f"installs them all), and leave a shortcut out with {optional}.")
    msi_tables.set_short_names(msi)


def icon_of(launcher: bytes, name: str) -> bytes:
    """The launcher's own icon group as an .ico: the executable itself would be stored twice."""
    with tempfile.TemporaryDirectory() as folder:
        program, icon = Path(folder) / name, Path(folder) / ICON
        program.write_bytes(launcher)
        # wrestool's status says nothing: an icon group it did not find is no file.
        programs.run(["wrestool", "-x", "-t14", "-n", "IDI_ICON1", "-o", icon, program], answers=range(256))
        if not icon.is_file() or icon.stat().st_size == 0:
            raise ReleaseError(f"no icon group IDI_ICON1 in {name}")
        return icon.read_bytes()
