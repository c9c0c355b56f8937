"""The release's ZIP and the product's Windows test kit, each from the
payload's list, and the ZIP's INSTALL.txt, which says what of the release is
signed."""

from __future__ import annotations

import calendar
import stat
import textwrap
import time
import zipfile
from collections.abc import Iterable
from io import BytesIO
from pathlib import Path
from typing import TYPE_CHECKING

from .errors import ReleaseError, read_text
from .product import PRODUCT_UNDER_TEST, Product
from .signing import Signatures, statement

if TYPE_CHECKING:
    from .model import Release

INSTALL_TEXT_TEMPLATE = Path(__file__).resolve().parent.parent.parent / "resources" / "INSTALL.txt.in"
# ZIP cannot date a file before 1980.
ZIP_EARLIEST = calendar.timegm((1980, 1, 1, 0, 0, 0))
# A regular file readable by all and written by its owner, as Unix's unzip
# restores it; Windows reads none of it.
ZIP_FILE_ATTRIBUTES = (stat.S_IFREG | 0o644) << 16
UNIX = 3


def pack_zip(entries: Iterable[tuple[str, bytes]], epoch: int) -> bytes:
    """A ZIP of the files, in the order given, each deflated by zlib at its
    default level and dated by the epoch in UTC (ZIP's times carry no zone),
    with fixed attributes and no extra fields: its bytes depend on the files,
    their order, the epoch and zlib alone."""
    moment = time.gmtime(max(epoch, ZIP_EARLIEST))[:6]
    packed = BytesIO()
    with zipfile.ZipFile(packed, "w") as archive:
        for name, content in entries:
            entry = zipfile.ZipInfo(name, date_time=moment)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = UNIX
            entry.external_attr = ZIP_FILE_ATTRIBUTES
            archive.writestr(entry, content)
    return packed.getvalue()


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


def zip_of(release: Release) -> bytes:
    """The ZIP of the payload's files. Its SHA-256 is in the sums beside it: a
    sum inside it could be changed along with the launcher it vouches for."""
    return pack_zip(((file.name, content) for file, content in release.shipped() if file.in_zip), release.epoch)


def kit_of(release: Release, kit_list: Path) -> bytes:
    """The test kit: the payload's files for it, a note of the product it
    tests, and the files the build's list names, flat, in the order of their
    names. The release's own launcher, signed when it is, stands for any
    build of it the list names."""
    product = release.product
    files = {file.name: content for file, content in release.shipped() if file.in_kit}
    files[PRODUCT_UNDER_TEST] = f"{product.launcher_file}\r\n{product.productname}\r\n".encode()
    for line in read_text(kit_list, "the list of the test kit's files").splitlines():
        if line and Path(line).name != product.launcher_file:
            try:
                files[Path(line).name] = Path(line).read_bytes()
            except OSError as error:
                raise ReleaseError(f"the test kit's file {line} is missing: build the tests first") from error
    return pack_zip(sorted(files.items(), key=lambda item: item[0].encode()), release.epoch)
