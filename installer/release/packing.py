"""The release's ZIP and the product's Windows test kit, each from the
payload's list, and the ZIP's INSTALL.txt, which says what of the release is
signed."""

from __future__ import annotations

import os
import shutil
import subprocess
import textwrap
from pathlib import Path

from . import payload
from .description import Product
from .errors import ReleaseError, read_text
from .signing import Signatures, statement

INSTALL_TEXT_TEMPLATE = Path(__file__).resolve().parent.parent.parent / "resources" / "INSTALL.txt.in"


def pack_zip(zip_path: Path, folder: Path, names: list[str], epoch: int) -> None:
    """A ZIP of the folder's files, in the order given, with fixed times and modes."""
    for name in names:
        (folder / name).chmod(0o644)
        os.utime(folder / name, (epoch, epoch))
    subprocess.run(["cmake", "-E", "tar", "cf", str(zip_path), "--format=zip", "--", *names], cwd=folder, check=True)


# The keys of the product's description INSTALL.txt.in may name.
FILLED_IN = ("name", "productname", "executable", "version", "manufacturer", "releases_address", "host",
             "host_folder", "error_title")


def install_text(product: Product, test_mark: str | None, signatures: Signatures,
                 template: Path = INSTALL_TEXT_TEMPLATE) -> bytes:
    """INSTALL.txt: the template with @KEY@ in place of each value of the
    product's description, the key in capitals, and a line @SIGNATURES@ in
    place of what of the release is signed; a test release's mark first.
    CR LF line ends: older Notepad shows a text of LF line ends as one line."""
    text = read_text(template, "the ZIP's installation text")
    for key in FILLED_IN:
        text = text.replace(f"@{key.upper()}@", getattr(product, key))
    text = text.replace("@SIGNATURES@\n", textwrap.fill(statement(product, signatures), 78) + "\n")
    if test_mark:
        text = "\n".join(textwrap.wrap(test_mark + ".", 78)) + "\n\n" + text
    *lines, last = text.split("\n")
    return ("".join(line.rstrip("\r") + "\r\n" for line in lines) + (last.rstrip("\r") + "\r" if last else "")).encode()


def build_zip(product: Product, stage: Path, zip_path: Path, test_mark: str | None, signatures: Signatures,
              epoch: int) -> None:
    """The ZIP of the payload's files. Its SHA-256 is in the sums beside it: a
    sum inside it could be changed along with the launcher it vouches for."""
    folder = stage / "zip"
    folder.mkdir()
    for file in payload.files(product):
        if not file.in_zip:
            continue
        if file.made is payload.Made.INSTALL_TEXT:
            (folder / file.name).write_bytes(install_text(product, test_mark, signatures))
        else:
            shutil.copyfile(stage / file.name, folder / file.name)
    pack_zip(zip_path, folder, payload.zip_names(product), epoch)


def build_kit(product: Product, stage: Path, kit_zip: Path, kit_list: Path, epoch: int) -> None:
    """The test kit: the payload's files for it, a note of the product it
    tests, and the files the build's list names, flat. The release's own
    launcher, signed when it is, stands for any build of it the list names."""
    folder = stage / "kit"
    folder.mkdir()
    for file in payload.files(product):
        if file.in_kit:
            shutil.copyfile(stage / file.name, folder / file.name)
    (folder / payload.PRODUCT_UNDER_TEST).write_bytes(f"{product.launcher_file}\r\n{product.productname}\r\n".encode())
    names = set(payload.kit_names(product))
    for line in read_text(kit_list, "the list of the test kit's files").splitlines():
        if not line or Path(line).name == product.launcher_file:
            continue
        try:
            shutil.copyfile(line, folder / Path(line).name)
        except OSError as error:
            raise ReleaseError(f"the test kit's file {line} is missing: build the tests first") from error
        names.add(Path(line).name)
    pack_zip(kit_zip, folder, sorted(names, key=lambda name: name.encode()), epoch)
