"""A product's description: the "key=value" lines the build writes of a
product from the product table and the family
(build/windows-x86/products/NAME/NAME.product, installer/CMakeLists.txt
writes it). The one reader of it, for the release and, through `release.sh
describe`, for the scripts."""

from __future__ import annotations

import dataclasses
import shlex
from pathlib import Path

from .errors import ReleaseError


class DescriptionError(ReleaseError):
    """A description that cannot be read, or lacks a key."""


@dataclasses.dataclass(frozen=True)
class Product:
    name: str
    productname: str  # what its launcher gives the host as PRODUCTNAME
    executable: str  # the launcher's file name, without .exe
    version: str
    upgrade_code: str
    manufacturer: str
    releases_address: str  # where the family publishes each release and its source
    support_address: str  # where the family's support is
    host: str  # the host program's file name
    host_folder: str  # the host's folder below the shared application-data folder
    error_title: str
    launcher: Path  # the built launcher
    components: Path  # what the launcher is linked with (components.py writes it)
    release: Path  # the folder its release goes into
    kit: Path  # its Windows test kit
    path: Path  # the description itself

    @property
    def launcher_file(self) -> str:
        return self.executable + ".exe"

    def values(self) -> dict[str, str]:
        """Every key the build writes, and its value as written."""
        return {field.name: str(getattr(self, field.name)) for field in KEYS}


KEYS = [field for field in dataclasses.fields(Product) if field.name != "path"]
PATHS = {"launcher", "components", "release", "kit"}


def parse(text: str, path: Path) -> Product:
    values = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
    missing = [field.name for field in KEYS if field.name not in values]
    if missing:
        raise DescriptionError(f"{path} gives no {', '.join(key.replace('_', ' ') for key in missing)}")
    return Product(**{field.name: Path(values[field.name]) if field.name in PATHS else values[field.name]
                      for field in KEYS}, path=path)


def read(path: Path) -> Product:
    try:
        text = path.read_text(encoding="utf-8")
    except OSError as error:
        raise DescriptionError(f"no product description at {path}: build first "
                               "(cmake --build --preset windows-x86)") from error
    return parse(text, path)


def as_shell(product: Product) -> str:
    """product_KEY=value lines, quoted for a shell's eval."""
    return "".join(f"product_{key}={shlex.quote(value)}\n" for key, value in product.values().items())
