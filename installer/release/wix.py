"""The product's MSI: installer/product.wxs, with the components and features
of the product's payload put in as payload.wxi, built by wixl, then its
tables completed and its codes set (msi_tables, msi_identity)."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path
from xml.sax.saxutils import quoteattr

from . import msi_identity, msi_tables, payload, version_resource
from .description import Product
from .errors import ReleaseError

TEMPLATE = Path(__file__).resolve().parent.parent / "product.wxs"
INCLUDE = "payload.wxi"
INSTALL_FOLDER = "INSTALLFOLDER"
# wixl's row that finds an earlier version of the product (MajorUpgrade).
UPGRADE_DETECTED = "WIX_UPGRADE_DETECTED"


def _element(name: str, **attributes: str) -> str:
    return f"<{name} " + " ".join(f"{key}={quoteattr(value)}" for key, value in attributes.items()) + " />"


def _component_lines(component: payload.Component, product: Product) -> list[str]:
    """A component's resources. The one that installs the launcher also writes
    DisplayIcon, which Windows writes from ARPPRODUCTICON itself (after it, so
    its own value wins) and Wine's installer does not; remembers the install
    folder under the product's key; and removes the install folder on
    uninstall. A shortcut names the launcher by its folder:
    [#LauncherExe] would refer to a file of another component, which Windows
    Installer may resolve to nothing in a repair (ICE69)."""
    lines = []
    if component.file:
        lines.append(_element("File", Id=component.file.msi_id, Source=component.file.name, KeyPath="yes"))
    if component.file and component.file.made is payload.Made.LAUNCHER:
        lines.append(_element("RegistryValue", Root="HKLM", Key=payload.UNINSTALL_ENTRY, Name="DisplayIcon",
                              Type="string", Value=f"[#{component.file.msi_id}],0"))
        lines.append(_element("RegistryValue", Root="HKMU", Key=payload.product_key(product),
                              Name=payload.REMEMBERED_FOLDER, Type="string", Value=f"[{INSTALL_FOLDER}]"))
        lines.append(_element("RemoveFolder", Id="RemoveInstallFolder", On="uninstall"))
    if component.shortcut_in:
        text = f"Starts {product.host.removesuffix('.exe')} for {product.name}"
        lines.append(_element("Shortcut", Id=component.name, Directory=component.shortcut_in, Name=product.name,
                              Description=text, Target=f"[INSTALLFOLDER]{product.launcher_file}",
                              WorkingDirectory="INSTALLFOLDER", Icon="product.ico"))
        root, key, value = component.key_path.split("\\", 1)[0], *component.key_path.split("\\", 1)[1].rsplit("\\", 1)
        lines.append(_element("RegistryValue", Root=root, Key=key, Name=value, Type="integer", Value="1",
                              KeyPath="yes"))
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


def build(product: Product, stage: Path, msi: str, comments: str, epoch: int) -> None:
    """Builds the MSI in the stage, which holds the launcher, the notices and
    the icon as product.ico under the names the payload gives them."""
    (stage / INCLUDE).write_text(render_payload(product), encoding="utf-8")
    # The cabinet keeps each file's time.
    for name in [f.name for f in payload.files(product) if f.msi_id] + ["product.ico"]:
        os.utime(stage / name, (epoch, epoch))
    variables = {"Version": product.version, "ProductCode": msi_identity.BLANK_CODE.strip("{}"),
                 "ProductName": product.name, "Manufacturer": product.manufacturer,
                 "UpgradeCode": product.upgrade_code,
                 "ReleasesAddress": product.releases_address, "SupportAddress": product.support_address,
                 "Comments": comments}
    # wixl finds the files the .wxs names only relative to where it runs.
    defines = [argument for key, value in variables.items() for argument in ("-D", f"{key}={value}")]
    built = subprocess.run(["wixl", "-a", "x86", *defines, "-o", msi, str(TEMPLATE)], cwd=stage,
                           capture_output=True, text=True)
    if built.returncode != 0:
        raise ReleaseError(f"wixl could not build {msi}:\n{built.stderr}")
    sys.stderr.write("".join(line + "\n" for line in built.stderr.splitlines() if line))
    complete(product, stage / msi, stage / product.launcher_file, epoch)


def complete(product: Product, msi: Path, launcher: Path, epoch: int) -> None:
    """What wixl leaves out or writes wrong, then the product's and the
    package's own codes, drawn from its bytes with the codes left blank."""
    resource = version_resource.read(launcher)
    launcher_id = payload.shipped(product, payload.Made.LAUNCHER).msi_id
    msi_tables.set_file_version(msi, launcher_id, resource["file-version"], resource["language"])
    msi_tables.read_hkmu_as_hkmu(msi)
    for component in payload.components(product):
        if component.condition:
            msi_tables.set_component_condition(msi, component.name, component.condition)
    msi_tables.remember_folder(msi, INSTALL_FOLDER, payload.product_key(product), payload.REMEMBERED_FOLDER)
    msi_tables.upgrade_same_version(msi, UPGRADE_DETECTED)
    msi_tables.pin_summary(msi, msi_identity.BLANK_CODE, epoch)
    code = msi_identity.product_code(product.upgrade_code, product.version, msi)
    msi_tables.set_property(msi, "ProductCode", "{" + code + "}")
    msi_tables.pin_summary(msi, "{" + msi_identity.package_code(msi) + "}", epoch)


def extract_icon(launcher: Path, icon: Path) -> None:
    """The launcher's own icon group as an .ico: the executable itself would be stored twice."""
    subprocess.run(["wrestool", "-x", "-t14", "-n", "IDI_ICON1", "-o", str(icon), str(launcher)],
                   capture_output=True)
    if not icon.is_file() or icon.stat().st_size == 0:
        raise ReleaseError(f"no icon group IDI_ICON1 in {launcher}")

