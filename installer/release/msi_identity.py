"""Windows Installer's codes of a product's MSI, and the rules they keep.

Every code is a version-8 (custom) UUID made from the SHA-256 of a text, so
the same inputs give the same code in every build and in a rebuild from the
source archive, and no code is ever drawn at random.

- UpgradeCode: the product's, from the product table; it never changes, and
  is how a later version, or a later build of one, finds an earlier one.
- ProductCode: from the upgrade code, the version and every byte of the
  package, read with this code and the package's own left blank: one for each
  build that differs in anything, the same for a build made again to the bit
  (from the source archive, say). A build of a higher version, or another
  build of the same version (signed later, or built with newer Debian
  packages), is a major upgrade of what is installed, which it removes
  (RemoveExistingProducts after InstallValidate; the upgrade row's maximum
  version is inclusive); a lower version is refused. Were a rebuild to keep
  the first build's ProductCode with another PackageCode, Windows would refuse
  to install it over the first (1638, "Another version of this product is
  already installed"); Wine accepts it, so no test here could show it.
- PackageCode: from every byte of the package it names, read with the code
  itself left blank: two packages that differ in any byte (a notice, a text,
  the launcher, a table) never share one, as Windows Installer requires, and
  one package built twice gets the same one. Signing adds a stream after it
  is set; a signed package keeps the code of what was signed.
- Component codes: from the product (its upgrade code; the family's folder,
  which every product shares, from the manufacturer), the component and its
  key path. Windows Installer's component rules ("Changing the Component
  Code") ask for a new code where a key path moves, or a resource is added to
  a component or taken from it; a component that stays as it is keeps its
  code from release to release. A key path that moves changes the code by
  itself. The components whose codes were first made before key paths
  counted keep them for the key path they had then, for as long as they hold
  what they held then (FIRST_KEY_PATHS); one that moves or changes leaves
  that table and gets a code of the new kind (the launcher's, when its
  registry values became components of their own). A key path in the
  uninstall entry, below [ProductCode], moves with every build: its code is
  drawn from the product code, which is drawn from the package with that
  code left blank.
"""

from __future__ import annotations

import hashlib
from pathlib import Path

# The key path each component's code was first made for, when codes came
# from the product and the component alone, of the components that still
# hold what they held then.
FIRST_KEY_PATHS = {
    "Notices": "[INSTALLFOLDER]THIRD-PARTY-NOTICES.txt",
    "ManufacturerFolder": "[ProgramFilesFolder]{manufacturer}",
}

# What a product's and a package's code read as while the package is hashed for them.
BLANK_CODE = "{00000000-0000-0000-0000-000000000000}"


def uuid_of(text: str) -> str:
    """A version-8 UUID, in capitals, from the SHA-256 of the text."""
    digest = hashlib.sha256(text.encode()).hexdigest()[:32]
    variant = f"{(int(digest[16], 16) & 0x3) | 0x8:x}"
    return (f"{digest[0:8]}-{digest[8:12]}-8{digest[13:16]}-{variant}{digest[17:20]}-{digest[20:32]}").upper()


def product_code(upgrade_code: str, version: str, blank_package: Path) -> str:
    """The code of the product whose package's bytes, both codes left blank, are these."""
    return uuid_of(f"product {upgrade_code} {version} {hashlib.sha256(blank_package.read_bytes()).hexdigest()}")


def package_code(blank_package: Path) -> str:
    """The code of the package whose bytes, its own code left BLANK_CODE, are these."""
    return uuid_of(f"package {hashlib.sha256(blank_package.read_bytes()).hexdigest()}")


# Where a key path lies below the product's own code, which differs in every build.
PRODUCT_CODE_PLACE = "[ProductCode]"


def component_code(owner: str, component: str, key_path: str, first_key_path: str | None = None,
                   product_code: str | None = None) -> str:
    """The code of a component of `owner` (the upgrade code, or the manufacturer
    for what every product shares) with this key path. `first_key_path` is the
    key path its code was first made for, if it was made before key paths
    counted. A key path below [ProductCode] is resolved with `product_code`;
    without it, the code reads blank, as the package is hashed for its product
    code."""
    if PRODUCT_CODE_PLACE in key_path:
        if product_code is None:
            return BLANK_CODE.strip("{}")
        key_path = key_path.replace(PRODUCT_CODE_PLACE, product_code)
    if key_path == first_key_path:
        return uuid_of(f"component {owner} {component}")
    return uuid_of(f"component {owner} {component} {key_path}")
