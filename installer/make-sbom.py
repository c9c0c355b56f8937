#!/usr/bin/env python3
"""Writes the SPDX 2.3 bill of materials of a product's built launcher.

Every component comes from the list of what the launcher was linked with
(NAME.components, which the build reads from the link map and the product's
description names), and
everything said about it from where its files came from (components.py):
Debian's package database, or the set-up's record of the source package a
library was built from; its licence from Debian's copyright file, and its
SHA-256 from the .dsc of its Debian source package that the set-up
downloaded. Nothing here names a version.

Usage: make-sbom.py LAUNCHER PRODUCT DEPS SOURCE_DATE_EPOCH > NAME-VERSION.spdx.json
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
    "bsd-by-lc-ne": "IJG",
    "expat": "MIT",
    "gpl-2+": "GPL-2.0-or-later",
    "gpl-3": "GPL-3.0-only",
    "gpl-3+": "GPL-3.0-or-later",
    "isc": "ISC",
    "lgpl-2+": "LGPL-2.0-or-later",
    "lgpl-2.1+": "LGPL-2.1-or-later",
    "libpng": "libpng-2.0",
    "ntp": "NTP",
    "zlib": "Zlib",
    "zpl-2.1": "ZPL-2.1",
}
GCC_RUNTIME_LICENCE = "GPL-3.0-or-later WITH GCC-exception-3.1"
PROJECT_LICENCE = "GPL-3.0-or-later"
DISTRO = "debian-12"


def fail(message):
    sys.exit(f"make-sbom.py: {message}")


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


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
    if component["patches"] is not None:
        patches = component["patches"]
        return (f"built with this launcher's cross compiler from {source}, unpacked by dpkg-source with "
                f"Debian's {len(patches)} patches applied: " + ", ".join(patches))
    packages = ", ".join(f"{p['Package']} {p['Version']}" for p in component["packages"])
    files = ", ".join(sorted({os.path.basename(f) for f in component["files"]}))
    info = f"{files} of Debian's package {packages}, from {source}"
    if component["system_library"]:
        info += "; part of the compiler's run-time, a System Library in the GNU GPL's sense"
    return info


def spdx_id(name):
    return "SPDXRef-Package-" + re.sub(r"[^A-Za-z0-9.-]+", "-", name)


def as_spdx_package(component, licences):
    refs = [purl(p["Package"], p["Version"], p["Architecture"]) for p in component["packages"]]
    refs.append(purl(component["source"], component["source_version"], "source"))
    package = {
        "SPDXID": spdx_id(component["name"]),
        "name": component["name"],
        "versionInfo": component["packages"][0]["Version"] if component["packages"] else component["source_version"],
        "supplier": supplier_of(component["maintainer"]),
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "sourceInfo": source_info(component),
        "licenseConcluded": licences.of_folders(component, component["folders"]),
        "licenseDeclared": licences.of_folders(component, [""]),
        "copyrightText": "NOASSERTION",
        "primaryPackagePurpose": "LIBRARY",
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl", "referenceLocator": ref}
                         for ref in refs],
    }
    if component["homepage"]:
        package["homepage"] = component["homepage"]
    if component["dsc"]:
        package["packageFileName"] = os.path.basename(component["dsc"])
        package["checksums"] = [{"algorithm": "SHA256", "checksumValue": sha256_of(component["dsc"])}]
    return package


def launcher_package(launcher, product, epoch):
    year = time.gmtime(int(epoch)).tm_year
    return {
        "SPDXID": spdx_id(product["name"]),
        "name": product["name"],
        "versionInfo": product["version"],
        "supplier": f"Organization: {product['manufacturer']}",
        "packageFileName": product["executable"] + ".exe",
        "checksums": [{"algorithm": "SHA256", "checksumValue": sha256_of(launcher)}],
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "licenseConcluded": PROJECT_LICENCE,
        "licenseDeclared": PROJECT_LICENCE,
        "copyrightText": f"Copyright (C) {year} {product['manufacturer']}",
        "primaryPackagePurpose": "APPLICATION",
    }


def with_namespace(document, name, version):
    """A namespace taken from the document's own content: another content
    gives another namespace, the same content the same one."""
    digest = hashlib.sha256(json.dumps(document, sort_keys=True, ensure_ascii=False).encode()).hexdigest()
    namespace = f"https://spdx.org/spdxdocs/{name}-{version}-" + str(uuid.uuid5(uuid.NAMESPACE_URL, digest))
    return {**document, "documentNamespace": namespace}


def main():
    if len(sys.argv) != 5:
        fail("usage: make-sbom.py LAUNCHER PRODUCT DEPS SOURCE_DATE_EPOCH")
    launcher, product_file, deps, epoch = sys.argv[1:]
    product = linked.read_product(product_file)
    name, version = product["name"], product["version"]
    components = linked.describe_all(product["components"], deps)
    licences = Licences()
    launcher_spdx = launcher_package(launcher, product, epoch)
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
        "packages": [launcher_spdx] + packages,
        "relationships": [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                           "relatedSpdxElement": launcher_spdx["SPDXID"]}]
                         + [{"spdxElementId": launcher_spdx["SPDXID"], "relationshipType": "STATIC_LINK",
                             "relatedSpdxElement": p["SPDXID"]} for p in packages],
    }
    if licences.extracted:
        document["hasExtractedLicensingInfos"] = [licences.extracted[ref] for ref in sorted(licences.extracted)]
    json.dump(with_namespace(document, name, version), sys.stdout, indent=2, ensure_ascii=False)
    sys.stdout.write("\n")


main()
