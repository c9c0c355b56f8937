"""One product's release as one value, computed once (make.py): the product,
its sources and the toolchain it is made with, how it is signed, what its
launcher is made of, and the bytes of every file it ships. Every file of
the release is rendered from it (wix.py, packing.py, winget.py, sbom.py,
source_archive.py), and none reads back what another wrote."""

from __future__ import annotations

import dataclasses
import time
from collections.abc import Mapping
from pathlib import Path

from .components import Component, SourcePackage
from .product import Made, Product, ShippedFile, files
from .signing import Plan
from .source_archive import Sources, Toolchain


@dataclasses.dataclass(frozen=True)
class Release:
    product: Product
    sources: Sources
    toolchain: Toolchain
    signing: Plan
    epoch: int  # SOURCE_DATE_EPOCH: the commit's time, which every file is dated by
    deps: Path  # where tools/setup.sh keeps Debian's source packages
    components: tuple[Component, ...]  # what the launcher is linked with
    carried: tuple[str, ...]  # the files of deps its source archive carries
    source_packages: tuple[SourcePackage, ...]  # the Debian source packages the components come from
    contents: Mapping[Made, bytes]  # each shipped file's bytes: the launcher signed when the release is
    icon: bytes  # the launcher's icon group, the MSI's Icon
    signatures: Mapping[str, bytes]  # the launcher's Authenticode signature apart, by its published name

    @property
    def base(self) -> str:
        return self.product.base

    @property
    def year(self) -> int:
        return time.gmtime(self.epoch).tm_year

    @property
    def test_commit(self) -> str | None:
        """The commit a test release's uncommitted changes lie on; None for a release."""
        return self.sources.commit if self.sources.uncommitted else None

    @property
    def launcher(self) -> bytes:
        return self.contents[Made.LAUNCHER]

    def shipped(self) -> list[tuple[ShippedFile, bytes]]:
        """Each file the product ships, with its bytes, in the payload's order."""
        return [(file, self.contents[file.made]) for file in files(self.product)]
