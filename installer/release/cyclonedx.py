"""The CycloneDX 1.6 bill of materials of a product's release, beside the
SPDX one, for the tools that read CycloneDX alone (Dependency-Track): the
launcher as the bill's own component, with its SHA-256, its licence and the
addresses its MSI, its ZIP and its Corresponding Source are published at;
each component it is statically linked with, named by the purl of the part
of the Debian source package its code lies in (osv.dev and Dependency-Track
key Debian's advisories by source package), with the purl of the Debian
binary package its files are of as a property (which the SPDX document
gives first, for Syft and grype), its licence as an SPDX expression, its
copyright, and the SHA-256 of its source's .dsc; and the launcher's
dependency on each. Rendered from the release's model and the bytes of its
other files, as the SPDX document is, with the same licences, and numbered
for its own content."""

from __future__ import annotations

import hashlib
import json
import time
import uuid
from collections.abc import Mapping
from typing import TYPE_CHECKING, Any

from . import purl
from .components import Component
from .licences import Licences, sha256_of
from .product import PROGRAM_LICENCE
from .sbom import SOURCE_KIND, TOOL, copyright_text, licence_of, source_info

if TYPE_CHECKING:
    from .model import Release

SPEC_VERSION = "1.6"
LAUNCHER = "launcher"
# What each kind of the release's files is, as an external reference of the launcher.
REFERENCES = {"msi": "distribution", "zip": "distribution", SOURCE_KIND: "source-distribution"}

Document = dict[str, Any]


def sha256(content: bytes) -> list[Document]:
    return [{"alg": "SHA-256", "content": hashlib.sha256(content).hexdigest()}]


def supplier(maintainer: str) -> Document:
    name, _, email = maintainer.partition("<")
    found: Document = {"name": name.strip()}
    if email.strip():
        found["contact"] = [{"email": email.rstrip(">").strip()}]
    return found


def launcher(release: Release, files: Mapping[str, tuple[str, bytes]]) -> Document:
    """The bill's own component: the launcher, and where the files holding it and its source are published."""
    product = release.product
    return {
        "type": "application",
        "bom-ref": LAUNCHER,
        "supplier": {"name": product.manufacturer, "url": [product.releases_address]},
        "publisher": product.manufacturer,
        "name": product.name,
        "version": product.version,
        "description": f"{product.launcher_file}, which starts {product.host} for {product.name}",
        "hashes": sha256(release.launcher),
        "licenses": [{"expression": PROGRAM_LICENCE}],
        "copyright": f"Copyright (C) {release.year} {product.manufacturer}",
        "externalReferences": [{"type": REFERENCES[kind], "url": product.releases_address + name,
                                "hashes": sha256(content)} for kind, (name, content) in files.items()],
    }


def component(linked: Component, licences: Licences) -> Document:
    """A component the launcher is linked with, named by its source's purl."""
    found: Document = {
        "type": "library",
        "bom-ref": purl.of_component_source(linked),
        "supplier": supplier(linked.maintainer),
        "name": linked.name,
        "version": linked.code_version,
        "description": source_info(linked),
        "licenses": [{"expression": linked.licence or licence_of(linked, licences)}],
        "copyright": copyright_text(linked),
        "purl": purl.of_component_source(linked),
        "properties": [{"name": "debian:binary-purl", "value": purl.of_component(linked)},
                       {"name": "debian:binary-version", "value": linked.packages[0].version}],
    }
    if linked.dsc:
        found["hashes"] = [{"alg": "SHA-256", "content": sha256_of(linked.dsc)}]
    return found


def render(release: Release, files: Mapping[str, tuple[str, bytes]]) -> bytes:
    """The bill of materials, as JSON, of the release whose files (kind: (name, bytes)) are given."""
    product = release.product
    licences = Licences()
    components = [component(linked, licences) for linked in release.components]
    metadata: Document = {
        "timestamp": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(release.epoch)),
        "tools": {"components": [{"type": "application", "name": f"{product.name}-{TOOL}",
                                  "version": product.version}]},
        "component": launcher(release, files),
        "supplier": {"name": product.manufacturer},
    }
    if release.test_commit:
        metadata["properties"] = [{"name": "test-release", "value": "made from changes not committed on top of "
                                   f"commit {release.test_commit}"}]
    document: Document = {
        "bomFormat": "CycloneDX",
        "specVersion": SPEC_VERSION,
        "version": 1,
        "metadata": metadata,
        "components": components,
        "dependencies": [{"ref": LAUNCHER, "dependsOn": [c["bom-ref"] for c in components]}]
        + [{"ref": c["bom-ref"]} for c in components],
    }
    # A serial number taken from the bill's own content: another content gives another number.
    digest = hashlib.sha256(json.dumps(document, sort_keys=True, ensure_ascii=False).encode()).hexdigest()
    serial = f"urn:uuid:{uuid.uuid5(uuid.NAMESPACE_URL, f'cyclonedx:{digest}')}"
    text = json.dumps({"bomFormat": "CycloneDX", "specVersion": SPEC_VERSION, "serialNumber": serial,
                       **document}, indent=2, ensure_ascii=False)
    return (text + "\n").encode("utf-8")
