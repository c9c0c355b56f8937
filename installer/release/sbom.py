"""The SPDX 2.3 bill of materials of a product's release: its files (the MSI,
the ZIP and the source archive, and the files that describe the MSI, its
winget manifest) with their SHA-256; the launcher and the other files those
that ship it contain (the payload's: the notices, INSTALL.txt, the icon),
the launcher generated from the source archive; and every component the
launcher is statically linked with.

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
import re
import time
import uuid
import zipfile
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any

from . import copyright, file_notices, payload, purl
from .components import Component
from .description import Product
from .errors import ReleaseError, read_text
from .licence_files import sha256_of

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
OWN_FILES_LICENCE = "GPL-3.0-or-later"
# The launcher's icon group, which the MSI holds as its Icon (wix.py), beside the payload's files.
MSI_ICON = "product.ico"
# The licence of each file the MSI and the ZIP hold beside the launcher; the
# notices gather many licences' texts, and are under none of their own.
SHIPPED_LICENCES = {payload.Made.NOTICES: "NOASSERTION", payload.Made.INSTALL_TEXT: OWN_FILES_LICENCE}
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

    def __init__(self, prefix: str = "") -> None:
        self.extracted: dict[str, Document] = {}
        self.prefix = prefix  # of the references made, to tell one package's names from another's

    def identifier(self, name: str, copyright_file: copyright.CopyrightFile) -> str:
        key = name.strip().lower()
        if key in SPDX_LICENCES:
            return SPDX_LICENCES[key]
        text = copyright_file.licence_text(name)
        if not text:
            raise ReleaseError(f"Debian's copyright file {copyright_file.path} gives no text for the licence "
                               f"'{name}'")
        # Two copyright files may give one name two texts: each text its own reference.
        base = ref = licence_ref(self.prefix + name)
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


def copyright_text(component: Component) -> str:
    """The copyright lines of the component's own files (the notices of those compiled in, its licence files),
    then those Debian's copyright file gives the code linked, each once."""
    found = [line for file in component.notice_files
             for line in file_notices.copyright_lines(read_text(file, f"a file of {component.name}"))]
    found += [line for kept in component.licence_files for line in kept.text.splitlines()
              if file_notices.COPYRIGHT_LINE.match(line)]
    found += copyright.read(component.copyright).copyrights_for(list(component.folders))
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
    licence = component.licence or licences.of_folders(component, component.folders)
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


def metafile(name: str, path: Path, product: Product, year: int) -> Document:
    """A file of the release that describes another, named by its path in the release folder."""
    return file_document(name, name, path.read_bytes(), "NOASSERTION", f"Copyright (C) {year} {product.manufacturer}")


def shipped_files(product: Product, launcher: Path, release_files: Mapping[str, Path],
                  year: int) -> tuple[list[Document], list[tuple[str, str]]]:
    """The files the MSI and the ZIP hold beside the launcher, as the payload says, each once, and
    (kind, file's SPDXID) of each that holds one. The MSI is built from the folder the launcher is staged
    in, its icon there too; the ZIP is read."""
    held: dict[str, list[tuple[str, bytes, str]]] = {}
    made = {file.name: file.made for file in payload.files(product)}
    if "msi" in release_files:
        held["msi"] = [(f.name, (launcher.parent / f.name).read_bytes(), SHIPPED_LICENCES[f.made])
                       for f in payload.files(product) if f.msi_id and f.made in SHIPPED_LICENCES]
        held["msi"].append((MSI_ICON, (launcher.parent / MSI_ICON).read_bytes(), OWN_FILES_LICENCE))
    if "zip" in release_files:
        with zipfile.ZipFile(release_files["zip"]) as archive:
            held["zip"] = [(name, archive.read(name), SHIPPED_LICENCES[made[name]])
                           for name in payload.zip_names(product) if made[name] in SHIPPED_LICENCES]
    documents: dict[tuple[str, str], Document] = {}
    contains = []
    for kind, files in held.items():
        for name, content, licence in files:
            digest = hashlib.sha256(content).hexdigest()
            spdx = name if not any(n == name and d != digest for n, d in documents) else f"{kind}-{name}"
            document = documents.setdefault((name, digest), file_document(
                spdx, name, content, licence, f"Copyright (C) {year} {product.manufacturer}",
                "IMAGE" if name == MSI_ICON else "TEXT"))
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


def check_kinds(release_files: Mapping[str, Path], launcher_in: Sequence[str]) -> None:
    unknown = [kind for kind in release_files if kind not in RELEASE_FILES]
    if unknown:
        raise ReleaseError(f"no kind of release file is {', '.join(unknown)}: the bill of materials knows "
                           f"{', '.join(RELEASE_FILES)}")
    missing = [kind for kind in launcher_in if kind not in release_files]
    if missing:
        raise ReleaseError(f"the launcher is said to be in the release's {', '.join(missing)}, which it lacks")


def relationships(files: Mapping[str, Document], launcher: str, launcher_in: Sequence[str],
                  packages: Sequence[Document], metafiles: Sequence[Document] = (),
                  shipped: Sequence[tuple[str, str]] = ()) -> list[Document]:
    """The document describes the release's files; those of launcher_in contain the launcher, which is
    generated from the source archive and statically linked with each component, and the files shipped
    beside it; the metafiles are of the MSI."""
    described = [relationship("SPDXRef-DOCUMENT", "DESCRIBES", f["SPDXID"]) for f in [*files.values(), *metafiles]]
    described += [relationship(f["SPDXID"], "METAFILE_OF", files[DESCRIBED_KIND]["SPDXID"]) for f in metafiles]
    contains = [relationship(f["SPDXID"], "CONTAINS", launcher) for kind, f in files.items() if kind in launcher_in]
    contains += [relationship(files[kind]["SPDXID"], "CONTAINS", file) for kind, file in shipped]
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
    locators = purl.of_components(list(components))
    packages = [component_package(c, licences, locators[c.name]) for c in components]
    described = [metafile(name, path, product, year) for name, path in (metafiles or {}).items()]
    shipped, holders = shipped_files(product, launcher, release_files, year)
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
        "relationships": relationships(files, launcher_spdx["SPDXID"], launcher_in, packages, described, holders),
    }
    if described or shipped:
        document["files"] = shipped + described
    if test_commit:
        document["comment"] = f"Test release, made from changes not committed on top of commit {test_commit}."
    if licences.extracted:
        document["hasExtractedLicensingInfos"] = [licences.extracted[ref] for ref in sorted(licences.extracted)]
    return json.dumps(with_namespace(document, product.name, product.version), indent=2, ensure_ascii=False) + "\n"
