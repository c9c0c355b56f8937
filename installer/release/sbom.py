"""The SPDX 2.3 bill of materials of a product's release: its files (the MSI,
the ZIP and the source archive, and the files that describe the MSI, its
winget manifest) with their SHA-256; the launcher and the other files those
that ship it contain (the payload's: the notices, INSTALL.txt, the icon),
the launcher generated from the source archive; and every component the
launcher is statically linked with. It is rendered from the release's
model and the bytes of its other files, none of them read back.

Everything said about a component comes from where its files came from
(components.py): Debian's package database (the package that built its
files: its version, its maintainer as supplier, its one purl, purl.py), its
licence from the component's own licence files where its source states it
apart and else from Debian's copyright file, its copyright from its own
files' notices, licence files and Debian's copyright file, and its SHA-256
from the .dsc of the Debian source package its code was built from, which
the set-up keeps. Nothing here names a version."""

from __future__ import annotations

import hashlib
import json
import os
import re
import time
import uuid
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any

from . import file_notices, purl
from .components import Component, SourcePackage
from .debian import dsc_field
from .errors import ReleaseError, read_text
from .licences import Licences, header_licences, read_copyright, sha256_of
from .product import OWN_FILES_LICENCE, PROGRAM_LICENCE, Made, Product, launcher_in
from .wix import ICON

if TYPE_CHECKING:
    from .model import Release

GCC_RUNTIME_LICENCE = "GPL-3.0-or-later WITH GCC-exception-3.1"
# The tool the document's creators name: the release package, installer/release.
TOOL = "release"

# What each kind of file of the release is: its purpose and its licence, for its package in the document.
RELEASE_FILES = {"msi": ("INSTALL", PROGRAM_LICENCE), "zip": ("ARCHIVE", PROGRAM_LICENCE),
                 "source": ("SOURCE", "NOASSERTION")}
SOURCE_KIND = "source"
# What the files that describe the MSI are said to be of.
DESCRIBED_KIND = "msi"

Document = dict[str, Any]


def licence_of(component: Component, licences: Licences) -> str:
    """The licences Debian's copyright file states for the parts of the source the component's code lies in;
    of headers whose licences are each their own, every one of those."""
    copyright_file = read_copyright(component.copyright)
    if component.licence_per_file:
        root = os.path.commonpath([file.parent for file in component.notice_files])
        return " AND ".join(sorted({licences.expression(name, copyright_file) for file in component.notice_files
                                    for name in header_licences(file, [folder + os.path.relpath(file, root)
                                                                       for folder in component.folders],
                                                                copyright_file)}))
    if not copyright_file.parsed:
        # gcc's copyright file is prose; its run-time libraries carry the exception.
        if "GCC RUNTIME LIBRARY EXCEPTION" in copyright_file.text:
            return GCC_RUNTIME_LICENCE
        raise ReleaseError(f"{component.copyright} is not in Debian's machine-readable format")
    names = [name for folder in component.folders for name in copyright_file.licences_for(folder)]
    expressions = sorted({licences.expression(name, copyright_file) for name in names})
    if not expressions:
        raise ReleaseError(f"{component.copyright} names no licence for {component.name}")
    return " AND ".join(expressions)


def supplier_of(maintainer: str) -> str:
    name, _, email = maintainer.partition("<")
    kind = "Organization" if re.search(r"maintainers|team|packages", name, re.I) else "Person"
    return f"{kind}: {name.strip()} ({email.rstrip('>').strip()})"


def copyright_text(component: Component) -> str:
    """The copyright lines of the component's own files (the notices of those compiled in, its licence files),
    then those Debian's copyright file gives the code linked, each once."""
    found = [line for file in component.notice_files
             for line in file_notices.copyright_lines(read_text(file, f"a file of {component.name}"))]
    found += [line for kept in component.licence_files for line in kept.text.splitlines()
              if file_notices.COPYRIGHT_LINE.match(line)]
    found += read_copyright(component.copyright).copyrights_for(list(component.folders))
    return "\n".join(dict.fromkeys(" ".join(line.split()) for line in found)) or "NOASSERTION"


def source_info(component: Component) -> str:
    source = f"Debian's source package {component.source} {component.source_version}"
    packages = ", ".join(f"{p.name} {p.version}" for p in component.packages)
    files = ", ".join(sorted({file.name for file in component.files}))
    info = f"{files} of Debian's package {packages}, from {source}"
    if component.code_source != component.source:
        info += (f", which builds it from Debian's source package {component.code_source} "
                 f"{component.code_version} (Built-Using)")
    included = [file for file in component.notice_files if file not in component.files]
    if included:
        info += f"; and {len(included)} of its headers, which the launcher's objects were compiled including"
    if component.licence_files:
        info += "; its licence read from its own " + ", ".join(kept.path for kept in component.licence_files)
    if component.system_library:
        info += "; part of the compiler's run-time, a System Library in the GNU GPL's sense"
    return info


def spdx_id(name: str) -> str:
    return "SPDXRef-Package-" + re.sub(r"[^A-Za-z0-9.-]+", "-", name)


def component_package(component: Component, licences: Licences, locator: str) -> Document:
    # What its authors declare of the code linked is what is concluded of it:
    # JUCE's modules are GPL-3.0-only or ISC each, as JUCE's own files say.
    licence = component.licence or licence_of(component, licences)
    package: Document = {
        "SPDXID": spdx_id(component.name),
        "name": component.name,
        "versionInfo": component.packages[0].version,
        "supplier": supplier_of(component.maintainer),
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "sourceInfo": source_info(component),
        "licenseConcluded": licence,
        "licenseDeclared": licence,
        "copyrightText": copyright_text(component),
        "primaryPackagePurpose": "LIBRARY",
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                          "referenceLocator": locator}],
    }
    if component.homepage:
        package["homepage"] = component.homepage
    if component.dsc:
        package["packageFileName"] = component.dsc.name
        package["checksums"] = [{"algorithm": "SHA256", "checksumValue": sha256_of(component.dsc)}]
    return package


def source_package(source: SourcePackage) -> Document:
    """A Debian source package the components come from, named by its source purl, as OSV matches
    Debian's advisories; its .dsc is in the release's source archive."""
    carried = "whole" if source.whole else "its .dsc"
    return {
        "SPDXID": spdx_id(f"source-{source.name}"),
        "name": source.name,
        "versionInfo": source.version,
        "supplier": supplier_of(dsc_field(source.dsc, "Maintainer")),
        "packageFileName": source.dsc.name,
        "checksums": [{"algorithm": "SHA256", "checksumValue": sha256_of(source.dsc)}],
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "sourceInfo": f"Debian's source package {source.name} {source.version}; the release's source archive "
                      f"carries {carried} (debian-source-packages/{source.name}/)",
        "licenseConcluded": source.licence,
        "licenseDeclared": source.licence,
        "copyrightText": "NOASSERTION",
        "primaryPackagePurpose": "SOURCE",
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                          "referenceLocator": purl.of_source(source.name, source.version)}],
    }


def launcher_package(launcher: bytes, product: Product, year: int) -> Document:
    return {
        "SPDXID": spdx_id(product.name),
        "name": product.name,
        "versionInfo": product.version,
        "supplier": f"Organization: {product.manufacturer}",
        "packageFileName": product.launcher_file,
        "checksums": [{"algorithm": "SHA256", "checksumValue": hashlib.sha256(launcher).hexdigest()}],
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "licenseConcluded": PROGRAM_LICENCE,
        "licenseDeclared": PROGRAM_LICENCE,
        "licenseComments": "The project's own source files are GPL-3.0-or-later; the program is built with JUCE "
                           "modules offered under the GPL version 3 only, and so is GPL-3.0-only as a whole.",
        "copyrightText": f"Copyright (C) {year} {product.manufacturer}",
        "primaryPackagePurpose": "APPLICATION",
    }


def release_file_package(name: str, content: bytes, kind: str, product: Product, year: int) -> Document:
    """A file of the release as a package: its name, SHA-256 and where it is published."""
    purpose, licence = RELEASE_FILES[kind]
    package: Document = {
        "SPDXID": spdx_id(f"{product.name}-{kind}"),
        "name": name,
        "versionInfo": product.version,
        "supplier": f"Organization: {product.manufacturer}",
        "packageFileName": name,
        "checksums": [{"algorithm": "SHA256", "checksumValue": hashlib.sha256(content).hexdigest()}],
        "downloadLocation": product.releases_address + name,
        "filesAnalyzed": False,
        "licenseConcluded": licence,
        "licenseDeclared": licence,
        "copyrightText": f"Copyright (C) {year} {product.manufacturer}",
        "primaryPackagePurpose": purpose,
    }
    if kind == SOURCE_KIND:
        package["licenseComments"] = ("Each file's licence is in the archive's REUSE information (.reuse/dep5, "
                                      "LICENSES/); the Debian source packages it carries state theirs in their "
                                      "debian/copyright.")
    return package


def file_document(spdx: str, name: str, content: bytes, licence: str, copyright_text: str,
                  kind: str = "TEXT") -> Document:
    """A file, named by its path. SPDX 2.3 asks a file for its SHA-1 beside any other sum."""
    return {
        "SPDXID": "SPDXRef-File-" + re.sub(r"[^A-Za-z0-9.-]+", "-", spdx),
        "fileName": f"./{name}",
        "fileTypes": [kind],
        "checksums": [{"algorithm": "SHA1", "checksumValue": hashlib.sha1(content).hexdigest()},
                      {"algorithm": "SHA256", "checksumValue": hashlib.sha256(content).hexdigest()}],
        "licenseConcluded": licence,
        "copyrightText": copyright_text,
    }


def shipped_files(release: Release, kinds: Sequence[str]) -> tuple[list[Document], list[tuple[str, str]]]:
    """The files the MSI and the ZIP hold beside the launcher, as the payload says, each once, and
    (kind, file's SPDXID) of each that holds one."""
    copyright_text = f"Copyright (C) {release.year} {release.product.manufacturer}"
    beside = [(file, content) for file, content in release.shipped() if file.made is not Made.LAUNCHER]
    held = {"msi": [(f.name, content, f.licence, "TEXT") for f, content in beside if f.msi_id] +
            [(ICON, release.icon, OWN_FILES_LICENCE, "IMAGE")],
            "zip": [(f.name, content, f.licence, "TEXT") for f, content in beside if f.in_zip]}
    documents: dict[tuple[str, str], Document] = {}
    contains = []
    for kind in (kind for kind in held if kind in kinds):
        for name, content, licence, file_type in held[kind]:
            digest = hashlib.sha256(content).hexdigest()
            spdx = name if not any(n == name and d != digest for n, d in documents) else f"{kind}-{name}"
            document = documents.setdefault((name, digest), file_document(spdx, name, content, licence,
                                                                          copyright_text, file_type))
            contains.append((kind, document["SPDXID"]))
    return list(documents.values()), contains


def relationship(element: str, kind: str, related: str) -> Document:
    return {"spdxElementId": element, "relationshipType": kind, "relatedSpdxElement": related}


def with_namespace(document: Document, name: str, version: str) -> Document:
    """A namespace taken from the document's own content: another content
    gives another namespace, the same content the same one."""
    digest = hashlib.sha256(json.dumps(document, sort_keys=True, ensure_ascii=False).encode()).hexdigest()
    namespace = f"https://spdx.org/spdxdocs/{name}-{version}-" + str(uuid.uuid5(uuid.NAMESPACE_URL, digest))
    return {**document, "documentNamespace": namespace}


def relationships(files: Mapping[str, Document], launcher: str, launcher_in: Sequence[str],
                  packages: Sequence[Document], metafiles: Sequence[Document] = (),
                  shipped: Sequence[tuple[str, str]] = (), built: Sequence[tuple[str, str]] = ()) -> list[Document]:
    """The document describes the release's files; those of launcher_in contain the launcher, which is
    generated from the source archive and statically linked with each component, and the files shipped
    beside it; the metafiles are of the MSI; each component is generated from each source package it
    comes from (built: (component, source package))."""
    described = [relationship("SPDXRef-DOCUMENT", "DESCRIBES", f["SPDXID"]) for f in [*files.values(), *metafiles]]
    described += [relationship(f["SPDXID"], "METAFILE_OF", files[DESCRIBED_KIND]["SPDXID"]) for f in metafiles]
    contains = [relationship(f["SPDXID"], "CONTAINS", launcher) for kind, f in files.items() if kind in launcher_in]
    contains += [relationship(files[kind]["SPDXID"], "CONTAINS", file) for kind, file in shipped]
    generated = [relationship(launcher, "GENERATED_FROM", files[SOURCE_KIND]["SPDXID"])] if SOURCE_KIND in files else []
    linked = [relationship(launcher, "STATIC_LINK", p["SPDXID"]) for p in packages]
    return described + contains + generated + linked + [relationship(a, "GENERATED_FROM", b) for a, b in built]


def render(release: Release, files: Mapping[str, tuple[str, bytes]], metafiles: Mapping[str, bytes],
           bills: Mapping[str, bytes]) -> bytes:
    """The bill of materials, as JSON, of the release whose files (kind: (name, bytes), in the document's
    order) are given, whose metafiles (path in the release folder: bytes) describe its MSI, and whose other
    bills of materials (name: bytes) describe the launcher as this one does."""
    product, year = release.product, release.year
    licences = Licences()
    launcher = launcher_package(release.launcher, product, year)
    packages = {kind: release_file_package(name, content, kind, product, year)
                for kind, (name, content) in files.items()}
    locators = purl.of_components(list(release.components))
    linked = [component_package(c, licences, locators[c.name]) for c in release.components]
    sources = [source_package(source) for source in release.source_packages]
    built = [(spdx_id(name), spdx_id(f"source-{source.name}")) for source in release.source_packages
             for name in source.components]
    owner = f"Copyright (C) {year} {product.manufacturer}"
    described = [file_document(name, name, content, "NOASSERTION", owner) for name, content in metafiles.items()]
    companions = [file_document(name, name, content, "NOASSERTION", owner) for name, content in bills.items()]
    shipped, holders = shipped_files(release, list(files))
    document: Document = {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": release.base,
        "creationInfo": {
            "created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(release.epoch)),
            "creators": [f"Organization: {product.manufacturer}", f"Tool: {product.name}-{TOOL}-{product.version}"],
        },
        "packages": list(packages.values()) + [launcher] + linked + sources,
        "relationships": relationships(packages, launcher["SPDXID"], launcher_in(product), linked, described,
                                       holders, built)
        + [relationship("SPDXRef-DOCUMENT", "DESCRIBES", f["SPDXID"]) for f in companions]
        + [relationship(f["SPDXID"], "DESCRIBES", launcher["SPDXID"]) for f in companions],
    }
    if described or shipped or companions:
        document["files"] = shipped + described + companions
    if release.test_commit:
        document["comment"] = f"Test release, made from changes not committed on top of commit {release.test_commit}."
    if licences.extracted:
        document["hasExtractedLicensingInfos"] = [licences.extracted[ref] for ref in sorted(licences.extracted)]
    text = json.dumps(with_namespace(document, product.name, product.version), indent=2, ensure_ascii=False)
    return (text + "\n").encode("utf-8")
