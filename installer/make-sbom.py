#!/usr/bin/env python3
"""Writes the SPDX 2.3 bill of materials of a product's release: the MSI, the
ZIP and the source archive, with their SHA-256; the launcher the MSI and the
ZIP contain, generated from the source archive; and every component the
launcher is statically linked with.

Every component comes from the list of what the launcher was linked with
(NAME.components, which the build reads from the link map and the product's
description names), and
everything said about it from where its files came from (components.py):
Debian's package database, its licence from the component's own licence
files where its source states it apart and else from Debian's copyright file,
and its SHA-256 from the .dsc of the Debian source package its code was
built from, which the set-up keeps. Nothing here names a version.

Usage: make-sbom.py LAUNCHER PRODUCT DEPS SOURCE_DATE_EPOCH MSI ZIP SOURCE_ARCHIVE [--test-release COMMIT]
  --test-release  marks the document as that of a test release, made from
                  changes not committed on top of COMMIT
"""

import hashlib
import json
import os
import re
import sys
import time
import urllib.parse
import uuid

# The build writes nothing into the source tree, compiled modules included.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import components as linked  # noqa: E402

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


def fail(message):
    sys.exit(f"make-sbom.py: {message}")


class Licences:
    """Debian's licence expressions as SPDX ones, and the texts of those SPDX does not list."""

    def __init__(self):
        self.extracted = {}

    def identifier(self, name, copyright_file):
        key = name.strip().lower()
        if key in SPDX_LICENCES:
            return SPDX_LICENCES[key]
        ref = "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]+", "-", name.strip())
        if ref not in self.extracted:
            text = copyright_file.licence_text(name)
            if not text:
                fail(f"Debian's copyright file {copyright_file.path} gives no text for the licence '{name}'")
            self.extracted[ref] = {"licenseId": ref, "name": name.strip(), "extractedText": text}
        return ref

    def expression(self, debian_expression, copyright_file):
        words = re.split(r"\s+(and|or)\s+", debian_expression.strip(), flags=re.I)
        spdx = " ".join(word.upper() if i % 2 else self.identifier(word, copyright_file)
                        for i, word in enumerate(words))
        return f"({spdx})" if " OR " in spdx else spdx

    def of_folders(self, component, folders):
        copyright_file = linked.CopyrightFile(component["copyright"])
        if not copyright_file.machine_readable:
            # gcc's copyright file is prose; its run-time libraries carry the exception.
            if "GCC RUNTIME LIBRARY EXCEPTION" in copyright_file.text:
                return GCC_RUNTIME_LICENCE
            fail(f"{component['copyright']} is not in Debian's machine-readable format")
        names = [name for folder in folders for name in copyright_file.licences_for(folder)]
        expressions = sorted({self.expression(name, copyright_file) for name in names})
        if not expressions:
            fail(f"{component['copyright']} names no licence for {component['name']}")
        return " AND ".join(expressions)


def supplier_of(maintainer):
    name, _, email = maintainer.partition("<")
    kind = "Organization" if re.search(r"maintainers|team|packages", name, re.I) else "Person"
    return f"{kind}: {name.strip()} ({email.rstrip('>').strip()})"


def purl(name, version, arch):
    return (f"pkg:deb/debian/{urllib.parse.quote(name, safe='')}@{urllib.parse.quote(version, safe='')}"
            f"?arch={arch}&distro={DISTRO}")


def source_info(component):
    source = f"Debian's source package {component['source']} {component['source_version']}"
    packages = ", ".join(f"{p['Package']} {p['Version']}" for p in component["packages"])
    files = ", ".join(sorted({os.path.basename(f) for f in component["files"]}))
    info = f"{files} of Debian's package {packages}, from {source}"
    if component["code_source"] != component["source"]:
        info += (f", which builds it from Debian's source package {component['code_source']} "
                 f"{component['code_version']} (Built-Using)")
    if component["licence_files"]:
        info += "; its licence read from its own " + ", ".join(path for path, _ in component["licence_files"])
    if component["system_library"]:
        info += "; part of the compiler's run-time, a System Library in the GNU GPL's sense"
    return info


def spdx_id(name):
    return "SPDXRef-Package-" + re.sub(r"[^A-Za-z0-9.-]+", "-", name)


def as_spdx_package(component, licences):
    refs = [purl(p["Package"], p["Version"], p["Architecture"]) for p in component["packages"]]
    refs.append(purl(component["code_source"], component["code_version"], "source"))
    package = {
        "SPDXID": spdx_id(component["name"]),
        "name": component["name"],
        "versionInfo": component["code_version"],
        "supplier": supplier_of(component["maintainer"]),
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "sourceInfo": source_info(component),
        "licenseConcluded": component["licence"] or licences.of_folders(component, component["folders"]),
        "licenseDeclared": component["licence"] or licences.of_folders(component, [""]),
        "copyrightText": "NOASSERTION",
        "primaryPackagePurpose": "LIBRARY",
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl", "referenceLocator": ref}
                         for ref in refs],
    }
    if component["homepage"]:
        package["homepage"] = component["homepage"]
    if component["dsc"]:
        package["packageFileName"] = os.path.basename(component["dsc"])
        package["checksums"] = [{"algorithm": "SHA256", "checksumValue": linked.sha256_of(component["dsc"])}]
    return package


def launcher_package(launcher, product, epoch):
    year = time.gmtime(int(epoch)).tm_year
    return {
        "SPDXID": spdx_id(product["name"]),
        "name": product["name"],
        "versionInfo": product["version"],
        "supplier": f"Organization: {product['manufacturer']}",
        "packageFileName": product["executable"] + ".exe",
        "checksums": [{"algorithm": "SHA256", "checksumValue": linked.sha256_of(launcher)}],
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "licenseConcluded": PROGRAM_LICENCE,
        "licenseDeclared": PROGRAM_LICENCE,
        "licenseComments": "The project's own source files are GPL-3.0-or-later; the program is built with JUCE "
                           "modules offered under the GPL version 3 only, and so is GPL-3.0-only as a whole.",
        "copyrightText": f"Copyright (C) {year} {product['manufacturer']}",
        "primaryPackagePurpose": "APPLICATION",
    }


# What each file of the release is, in the order the command line gives
# them: its purpose and its licence, for its package in the document.
RELEASE_FILES = {"msi": ("INSTALL", PROGRAM_LICENCE), "zip": ("ARCHIVE", PROGRAM_LICENCE),
                 "source": ("SOURCE", "NOASSERTION")}


def release_file_package(path, kind, product, epoch):
    """A file of the release as a package: its name, SHA-256 and where it is published."""
    purpose, licence = RELEASE_FILES[kind]
    name = os.path.basename(path)
    package = {
        "SPDXID": spdx_id(f"{product['name']}-{kind}"),
        "name": name,
        "versionInfo": product["version"],
        "supplier": f"Organization: {product['manufacturer']}",
        "packageFileName": name,
        "checksums": [{"algorithm": "SHA256", "checksumValue": linked.sha256_of(path)}],
        "downloadLocation": product["releases_address"] + name,
        "filesAnalyzed": False,
        "licenseConcluded": licence,
        "licenseDeclared": licence,
        "copyrightText": f"Copyright (C) {time.gmtime(int(epoch)).tm_year} {product['manufacturer']}",
        "primaryPackagePurpose": purpose,
    }
    if kind == "source":
        package["licenseComments"] = ("Each file's licence is in the archive's REUSE information (.reuse/dep5, "
                                      "LICENSES/); the Debian source packages it carries state theirs in their "
                                      "debian/copyright.")
    return package


def relationship(element, kind, related):
    return {"spdxElementId": element, "relationshipType": kind, "relatedSpdxElement": related}


def with_namespace(document, name, version):
    """A namespace taken from the document's own content: another content
    gives another namespace, the same content the same one."""
    digest = hashlib.sha256(json.dumps(document, sort_keys=True, ensure_ascii=False).encode()).hexdigest()
    namespace = f"https://spdx.org/spdxdocs/{name}-{version}-" + str(uuid.uuid5(uuid.NAMESPACE_URL, digest))
    return {**document, "documentNamespace": namespace}


def main():
    arguments = sys.argv[1:]
    test_commit = None
    if len(arguments) == 9 and arguments[7] == "--test-release":
        test_commit = arguments[8]
        arguments = arguments[:7]
    if len(arguments) != 7:
        fail("usage: make-sbom.py LAUNCHER PRODUCT DEPS SOURCE_DATE_EPOCH MSI ZIP SOURCE_ARCHIVE "
             "[--test-release COMMIT]")
    launcher, product_file, deps, epoch = arguments[:4]
    product = linked.read_product(product_file)
    name, version = product["name"], product["version"]
    components = linked.describe_all(product["components"], deps)
    licences = Licences()
    launcher_spdx = launcher_package(launcher, product, epoch)
    files = [release_file_package(path, kind, product, epoch) for path, kind in zip(arguments[4:], RELEASE_FILES)]
    msi, zip_file, source = (f["SPDXID"] for f in files)
    packages = [as_spdx_package(c, licences) for c in components]
    document = {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": f"{name}-{version}",
        "creationInfo": {
            "created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(int(epoch))),
            "creators": [f"Organization: {product['manufacturer']}", f"Tool: {name}-make-sbom.py-{version}"],
        },
        "packages": files + [launcher_spdx] + packages,
        "relationships": [relationship("SPDXRef-DOCUMENT", "DESCRIBES", f["SPDXID"]) for f in files]
                         + [relationship(msi, "CONTAINS", launcher_spdx["SPDXID"]),
                            relationship(zip_file, "CONTAINS", launcher_spdx["SPDXID"]),
                            relationship(launcher_spdx["SPDXID"], "GENERATED_FROM", source)]
                         + [relationship(launcher_spdx["SPDXID"], "STATIC_LINK", p["SPDXID"]) for p in packages],
    }
    if test_commit:
        document["comment"] = f"Test release, made from changes not committed on top of commit {test_commit}."
    if licences.extracted:
        document["hasExtractedLicensingInfos"] = [licences.extracted[ref] for ref in sorted(licences.extracted)]
    json.dump(with_namespace(document, name, version), sys.stdout, indent=2, ensure_ascii=False)
    sys.stdout.write("\n")


main()
