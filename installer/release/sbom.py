"""The SPDX 2.3 bill of materials of a product's release: its files (the MSI,
the ZIP and the source archive, and the files that describe the MSI, its
winget manifest) with their SHA-256; the launcher those that ship it
contain, generated from the source archive; and every component the
launcher is statically linked with.

Everything said about a component comes from where its files came from
(components.py): Debian's package database, its licence from the
component's own licence files where its source states it apart and else
from Debian's copyright file, and its SHA-256 from the .dsc of the Debian
source package its code was built from, which the set-up keeps. Nothing
here names a version."""

from __future__ import annotations

import hashlib
import json
import re
import time
import urllib.parse
import uuid
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any

from . import copyright
from .components import Component, sha256_of
from .description import Product
from .errors import ReleaseError

# Debian's licence short names (copyright-format 1.0) as SPDX identifiers.
# Any other name becomes a LicenseRef carrying the text Debian's file gives
# it; a name without a text stops the bill of materials rather than leave
# a licence unsaid.
SPDX_LICENCES = {
    "apache-2.0": "Apache-2.0",
    "bsd-2-clause": "BSD-2-Clause",
    "bsd-3-clause": "BSD-3-Clause",
    "expat": "MIT",
    "gpl-2+": "GPL-2.0-or-later",
    "gpl-3": "GPL-3.0-only",
    "gpl-3+": "GPL-3.0-or-later",
    "isc": "ISC",
    "lgpl-2+": "LGPL-2.0-or-later",
    "lgpl-2.1+": "LGPL-2.1-or-later",
    "zpl-2.1": "ZPL-2.1",
}
GCC_RUNTIME_LICENCE = "GPL-3.0-or-later WITH GCC-exception-3.1"
# The project's own files are GPL-3.0-or-later, but the launcher is built with
# JUCE modules offered under the GPL version 3 only: the program, and what
# packs it, is GPL-3.0-only.
PROGRAM_LICENCE = "GPL-3.0-only"
DISTRO = "debian-12"
# The tool the document's creators name: the release package, installer/release.
TOOL = "release"

# What each kind of file of the release is: its purpose and its licence, for its package in the document.
RELEASE_FILES = {"msi": ("INSTALL", PROGRAM_LICENCE), "zip": ("ARCHIVE", PROGRAM_LICENCE),
                 "source": ("SOURCE", "NOASSERTION")}
SOURCE_KIND = "source"
# What the files that describe the MSI are said to be of.
DESCRIBED_KIND = "msi"

Document = dict[str, Any]


def licence_ref(name: str) -> str:
    return "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]+", "-", name.strip())


class Licences:
    """Debian's licence expressions as SPDX ones, and the texts of those SPDX does not list."""

    def __init__(self) -> None:
        self.extracted: dict[str, Document] = {}

    def identifier(self, name: str, copyright_file: copyright.CopyrightFile) -> str:
        key = name.strip().lower()
        if key in SPDX_LICENCES:
            return SPDX_LICENCES[key]
        text = copyright_file.licence_text(name)
        if not text:
            raise ReleaseError(f"Debian's copyright file {copyright_file.path} gives no text for the licence "
                               f"'{name}'")
        # Two copyright files may give one name two texts: each text its own reference.
        base = ref = licence_ref(name)
        count = 1
        while ref in self.extracted and self.extracted[ref]["extractedText"] != text:
            count += 1
            ref = f"{base}-{count}"
        self.extracted.setdefault(ref, {"licenseId": ref, "name": name.strip(), "extractedText": text})
        return ref

    def expression(self, debian_expression: str, copyright_file: copyright.CopyrightFile) -> str:
        words = re.split(r"\s+(and|or)\s+", debian_expression.strip(), flags=re.I)
        spdx = " ".join(word.upper() if i % 2 else self.identifier(word, copyright_file)
                        for i, word in enumerate(words))
        return f"({spdx})" if " OR " in spdx else spdx

    def of_folders(self, component: Component, folders: Sequence[str]) -> str:
        copyright_file = copyright.read(component.copyright)
        if not copyright_file.machine_readable:
            # gcc's copyright file is prose; its run-time libraries carry the exception.
            if "GCC RUNTIME LIBRARY EXCEPTION" in copyright_file.text:
                return GCC_RUNTIME_LICENCE
            raise ReleaseError(f"{component.copyright} is not in Debian's machine-readable format")
        names = [name for folder in folders for name in copyright_file.licences_for(folder)]
        expressions = sorted({self.expression(name, copyright_file) for name in names})
        if not expressions:
            raise ReleaseError(f"{component.copyright} names no licence for {component.name}")
        return " AND ".join(expressions)


def supplier_of(maintainer: str) -> str:
    name, _, email = maintainer.partition("<")
    kind = "Organization" if re.search(r"maintainers|team|packages", name, re.I) else "Person"
    return f"{kind}: {name.strip()} ({email.rstrip('>').strip()})"


def purl(name: str, version: str, arch: str) -> str:
    return (f"pkg:deb/debian/{urllib.parse.quote(name, safe='')}@{urllib.parse.quote(version, safe='')}"
            f"?arch={arch}&distro={DISTRO}")


def source_info(component: Component) -> str:
    source = f"Debian's source package {component.source} {component.source_version}"
    packages = ", ".join(f"{p.name} {p.version}" for p in component.packages)
    files = ", ".join(sorted({file.name for file in component.files}))
    info = f"{files} of Debian's package {packages}, from {source}"
    if component.code_source != component.source:
        info += (f", which builds it from Debian's source package {component.code_source} "
                 f"{component.code_version} (Built-Using)")
    if component.licence_files:
        info += "; its licence read from its own " + ", ".join(kept.path for kept in component.licence_files)
    if component.system_library:
        info += "; part of the compiler's run-time, a System Library in the GNU GPL's sense"
    return info


def spdx_id(name: str) -> str:
    return "SPDXRef-Package-" + re.sub(r"[^A-Za-z0-9.-]+", "-", name)


def component_package(component: Component, licences: Licences) -> Document:
    refs = [purl(p.name, p.version, p.architecture) for p in component.packages]
    refs.append(purl(component.code_source, component.code_version, "source"))
    package: Document = {
        "SPDXID": spdx_id(component.name),
        "name": component.name,
        "versionInfo": component.code_version,
        "supplier": supplier_of(component.maintainer),
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "sourceInfo": source_info(component),
        "licenseConcluded": component.licence or licences.of_folders(component, component.folders),
        "licenseDeclared": component.licence or licences.of_folders(component, [""]),
        "copyrightText": "NOASSERTION",
        "primaryPackagePurpose": "LIBRARY",
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl", "referenceLocator": ref}
                         for ref in refs],
    }
    if component.homepage:
        package["homepage"] = component.homepage
    if component.dsc:
        package["packageFileName"] = component.dsc.name
        package["checksums"] = [{"algorithm": "SHA256", "checksumValue": sha256_of(component.dsc)}]
    return package


def launcher_package(launcher: Path, product: Product, year: int) -> Document:
    return {
        "SPDXID": spdx_id(product.name),
        "name": product.name,
        "versionInfo": product.version,
        "supplier": f"Organization: {product.manufacturer}",
        "packageFileName": product.launcher_file,
        "checksums": [{"algorithm": "SHA256", "checksumValue": sha256_of(launcher)}],
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "licenseConcluded": PROGRAM_LICENCE,
        "licenseDeclared": PROGRAM_LICENCE,
        "licenseComments": "The project's own source files are GPL-3.0-or-later; the program is built with JUCE "
                           "modules offered under the GPL version 3 only, and so is GPL-3.0-only as a whole.",
        "copyrightText": f"Copyright (C) {year} {product.manufacturer}",
        "primaryPackagePurpose": "APPLICATION",
    }


def release_file_package(path: Path, kind: str, product: Product, year: int) -> Document:
    """A file of the release as a package: its name, SHA-256 and where it is published."""
    purpose, licence = RELEASE_FILES[kind]
    package: Document = {
        "SPDXID": spdx_id(f"{product.name}-{kind}"),
        "name": path.name,
        "versionInfo": product.version,
        "supplier": f"Organization: {product.manufacturer}",
        "packageFileName": path.name,
        "checksums": [{"algorithm": "SHA256", "checksumValue": sha256_of(path)}],
        "downloadLocation": product.releases_address + path.name,
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


def metafile(name: str, path: Path, product: Product, year: int) -> Document:
    """A file of the release that describes another, named by its path in the
    release folder. SPDX 2.3 asks a file for its SHA-1 beside any other sum."""
    content = path.read_bytes()
    return {
        "SPDXID": "SPDXRef-File-" + re.sub(r"[^A-Za-z0-9.-]+", "-", name),
        "fileName": f"./{name}",
        "fileTypes": ["TEXT"],
        "checksums": [{"algorithm": "SHA1", "checksumValue": hashlib.sha1(content).hexdigest()},
                      {"algorithm": "SHA256", "checksumValue": hashlib.sha256(content).hexdigest()}],
        "licenseConcluded": "NOASSERTION",
        "copyrightText": f"Copyright (C) {year} {product.manufacturer}",
    }


def relationship(element: str, kind: str, related: str) -> Document:
    return {"spdxElementId": element, "relationshipType": kind, "relatedSpdxElement": related}


def with_namespace(document: Document, name: str, version: str) -> Document:
    """A namespace taken from the document's own content: another content
    gives another namespace, the same content the same one."""
    digest = hashlib.sha256(json.dumps(document, sort_keys=True, ensure_ascii=False).encode()).hexdigest()
    namespace = f"https://spdx.org/spdxdocs/{name}-{version}-" + str(uuid.uuid5(uuid.NAMESPACE_URL, digest))
    return {**document, "documentNamespace": namespace}


def check_kinds(release_files: Mapping[str, Path], launcher_in: Sequence[str]) -> None:
    unknown = [kind for kind in release_files if kind not in RELEASE_FILES]
    if unknown:
        raise ReleaseError(f"no kind of release file is {', '.join(unknown)}: the bill of materials knows "
                           f"{', '.join(RELEASE_FILES)}")
    missing = [kind for kind in launcher_in if kind not in release_files]
    if missing:
        raise ReleaseError(f"the launcher is said to be in the release's {', '.join(missing)}, which it lacks")


def relationships(files: Mapping[str, Document], launcher: str, launcher_in: Sequence[str],
                  packages: Sequence[Document], metafiles: Sequence[Document] = ()) -> list[Document]:
    """The document describes the release's files; those of launcher_in contain the launcher, which is
    generated from the source archive and statically linked with each component; the metafiles are
    of the MSI."""
    described = [relationship("SPDXRef-DOCUMENT", "DESCRIBES", f["SPDXID"]) for f in [*files.values(), *metafiles]]
    described += [relationship(f["SPDXID"], "METAFILE_OF", files[DESCRIBED_KIND]["SPDXID"]) for f in metafiles]
    contains = [relationship(f["SPDXID"], "CONTAINS", launcher) for kind, f in files.items() if kind in launcher_in]
    generated = [relationship(launcher, "GENERATED_FROM", files[SOURCE_KIND]["SPDXID"])] if SOURCE_KIND in files else []
    linked = [relationship(launcher, "STATIC_LINK", p["SPDXID"]) for p in packages]
    return described + contains + generated + linked


def render(product: Product, launcher: Path, components: Sequence[Component], epoch: int,
           release_files: Mapping[str, Path], test_commit: str | None = None,
           launcher_in: Sequence[str] = ("msi", "zip"), metafiles: Mapping[str, Path] | None = None) -> str:
    """The bill of materials, as JSON, of the release whose files (kind: path, in the document's order)
    are given, those of the kinds in launcher_in containing the launcher, built with the components and
    dated SOURCE_DATE_EPOCH, and whose metafiles (path in the release folder: path) describe its MSI;
    with test_commit, marked as a test release of changes not committed on top of it."""
    check_kinds(release_files, launcher_in)
    if metafiles and DESCRIBED_KIND not in release_files:
        raise ReleaseError(f"the release's {', '.join(metafiles)} describe its {DESCRIBED_KIND}, which it lacks")
    year = time.gmtime(epoch).tm_year
    licences = Licences()
    launcher_spdx = launcher_package(launcher, product, year)
    files = {kind: release_file_package(path, kind, product, year) for kind, path in release_files.items()}
    packages = [component_package(c, licences) for c in components]
    described = [metafile(name, path, product, year) for name, path in (metafiles or {}).items()]
    document: Document = {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": f"{product.name}-{product.version}",
        "creationInfo": {
            "created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)),
            "creators": [f"Organization: {product.manufacturer}", f"Tool: {product.name}-{TOOL}-{product.version}"],
        },
        "packages": list(files.values()) + [launcher_spdx] + packages,
        "relationships": relationships(files, launcher_spdx["SPDXID"], launcher_in, packages, described),
    }
    if described:
        document["files"] = described
    if test_commit:
        document["comment"] = f"Test release, made from changes not committed on top of commit {test_commit}."
    if licences.extracted:
        document["hasExtractedLicensingInfos"] = [licences.extracted[ref] for ref in sorted(licences.extracted)]
    return json.dumps(with_namespace(document, product.name, product.version), indent=2, ensure_ascii=False) + "\n"
