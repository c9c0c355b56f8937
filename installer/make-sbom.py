#!/usr/bin/env python3
"""Writes the SPDX 2.3 bill of materials of a built Tessalune.exe.

Every component comes from the list of files the launcher was linked with
(Tessalune.components, written by the build), and everything said about it
from where that file came from: Debian's package database for installed
packages, or, for a library tools/setup.sh built from Debian's source, its
record of the source package, the patches applied and Debian's copyright file.
Nothing here names a version.

Usage: make-sbom.py LAUNCHER VERSION COMPONENTS SOURCE_DATE_EPOCH > Tessalune-VERSION.spdx.json
"""

import hashlib
import json
import os
import re
import subprocess
import sys
import time
import urllib.parse
import uuid

# Debian's licence short names (copyright-format 1.0) as SPDX identifiers.
# A name missing here stops the bill of materials rather than mislabel a licence.
SPDX_LICENCES = {
    "apache-2.0": "Apache-2.0",
    "bsd-3-clause": "BSD-3-Clause",
    "bsd-by-lc-ne": "IJG",
    "expat": "MIT",
    "gpl-2+": "GPL-2.0-or-later",
    "gpl-3": "GPL-3.0-only",
    "gpl-3+": "GPL-3.0-or-later",
    "isc": "ISC",
    "libpng": "libpng-2.0",
    "ntp": "NTP",
    "zlib": "Zlib",
    "zpl-2.1": "ZPL-2.1",
}
GCC_RUNTIME_LICENCE = "GPL-3.0-or-later WITH GCC-exception-3.1"


def fail(message):
    sys.exit(f"make-sbom.py: {message}")


def spdx_licence(debian_name, where):
    try:
        return SPDX_LICENCES[debian_name.strip().lower()]
    except KeyError:
        fail(f"no SPDX identifier known for Debian's licence name '{debian_name}' ({where})")


def declared_licence(copyright_file):
    """The licence of a Debian copyright file's "Files: *" paragraph; without
    one, every licence the file names, joined with AND."""
    with open(copyright_file, encoding="utf-8") as f:
        text = f.read()
    if not text.startswith("Format:"):
        # gcc's copyright file is prose; its run-time libraries carry the exception.
        if "GCC RUNTIME LIBRARY EXCEPTION" in text:
            return GCC_RUNTIME_LICENCE
        fail(f"{copyright_file} is not in Debian's machine-readable format")
    paragraphs = [p for p in re.split(r"\n\s*\n", text) if re.match(r"Files:", p)]
    licences = [re.search(r"^License:\s*(.+)$", p, re.M) for p in paragraphs]
    for paragraph, licence in zip(paragraphs, licences):
        if licence and re.match(r"Files:\s*\*\s*$", paragraph, re.M):
            return spdx_licence(licence.group(1), copyright_file)
    names = sorted({spdx_licence(l.group(1), copyright_file) for l in licences if l})
    return " AND ".join(names)


def control_fields(text):
    return dict(re.findall(r"^([A-Za-z-]+): *(.*)$", text, re.M))


def supplier_of(maintainer):
    name, _, email = maintainer.partition("<")
    kind = "Organization" if re.search(r"maintainers|team|packages", name, re.I) else "Person"
    return f"{kind}: {name.strip()} ({email.rstrip('>').strip()})"


def purl(name, version, arch):
    return f"pkg:deb/debian/{urllib.parse.quote(name, safe='')}@{urllib.parse.quote(version, safe='')}?arch={arch}"


def built_from_source(path):
    """The record tools/setup.sh left for a library it built, or None."""
    folder = os.path.dirname(path)
    while folder != os.path.dirname(folder):
        record = os.path.join(folder, "debian-sources")
        if os.path.isfile(record):
            library = os.path.relpath(path, folder)
            with open(record) as f:
                sources = dict(line.split() for line in f if line.strip())
            if library not in sources:
                fail(f"{record} does not say what {library} was built from")
            return os.path.join(folder, "share", "doc", sources[library])
        folder = os.path.dirname(folder)
    return None


def from_debian_source(name, doc):
    with open(os.path.join(doc, "source.dsc"), encoding="utf-8") as f:
        dsc = control_fields(f.read())
    with open(os.path.join(doc, "applied-patches")) as f:
        patches = f.read().split()
    return {
        "name": name,
        "versionInfo": dsc["Version"],
        "supplier": supplier_of(dsc["Maintainer"]),
        "homepage": dsc.get("Homepage"),
        "sourceInfo": f"built with this launcher's cross compiler from Debian's source package {dsc['Source']} "
                      f"{dsc['Version']}, unpacked by dpkg-source with Debian's {len(patches)} patches applied: "
                      + ", ".join(patches),
        "licenseDeclared": declared_licence(os.path.join(doc, "copyright")),
        "externalRefs": [purl(dsc["Source"], dsc["Version"], "source")],
    }


def from_debian_package(name, path):
    owner = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
    if owner.returncode != 0:
        fail(f"no installed Debian package holds {path} ({name})")
    package = owner.stdout.split(":")[0]
    fields = ["Package", "Version", "Architecture", "source:Package", "source:Version", "Maintainer", "Homepage"]
    query = subprocess.run(["dpkg-query", "-W", "-f", "\t".join(f"${{{f}}}" for f in fields), package],
                           capture_output=True, text=True, check=True)
    info = dict(zip(fields, query.stdout.split("\t")))
    return {
        "name": name,
        "versionInfo": info["Version"],
        "supplier": supplier_of(info["Maintainer"]),
        "homepage": info["Homepage"] or None,
        "sourceInfo": f"{path} of Debian's package {package} {info['Version']}, "
                      f"from Debian's source package {info['source:Package']} {info['source:Version']}",
        "licenseDeclared": declared_licence(f"/usr/share/doc/{package}/copyright"),
        "externalRefs": [purl(package, info["Version"], info["Architecture"]),
                         purl(info["source:Package"], info["source:Version"], "source")],
    }


def spdx_id(name):
    return "SPDXRef-Package-" + re.sub(r"[^A-Za-z0-9.-]+", "-", name)


def as_spdx_package(component):
    package = {
        "SPDXID": spdx_id(component["name"]),
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "licenseConcluded": "NOASSERTION",
        "copyrightText": "NOASSERTION",
        "primaryPackagePurpose": "LIBRARY",
        **{k: v for k, v in component.items() if v is not None and k != "externalRefs"},
        "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl", "referenceLocator": ref}
                         for ref in component["externalRefs"]],
    }
    return package


def main():
    if len(sys.argv) != 5:
        fail("usage: make-sbom.py LAUNCHER VERSION COMPONENTS SOURCE_DATE_EPOCH")
    launcher, version, components_file, epoch = sys.argv[1:]
    with open(launcher, "rb") as f:
        launcher_sha256 = hashlib.sha256(f.read()).hexdigest()

    components = []
    with open(components_file, encoding="utf-8") as f:
        for line in f:
            if line.strip():
                name, path = line.rstrip("\n").split("\t")
                path = os.path.realpath(path)
                doc = built_from_source(path)
                components.append(from_debian_source(name, doc) if doc else from_debian_package(name, path))

    product = {
        "SPDXID": spdx_id("Tessalune"),
        "name": "Tessalune",
        "versionInfo": version,
        "supplier": "Organization: Orvanel",
        "packageFileName": "Tessalune.exe",
        "checksums": [{"algorithm": "SHA256", "checksumValue": launcher_sha256}],
        "downloadLocation": "NOASSERTION",
        "filesAnalyzed": False,
        "licenseConcluded": "NOASSERTION",
        "licenseDeclared": "NOASSERTION",
        "copyrightText": "NOASSERTION",
        "primaryPackagePurpose": "APPLICATION",
    }
    document = {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": f"Tessalune-{version}",
        # Unique for each launcher, and the same for the same launcher.
        "documentNamespace": f"https://spdx.org/spdxdocs/Tessalune-{version}-"
                             + str(uuid.uuid5(uuid.NAMESPACE_OID, launcher_sha256)),
        "creationInfo": {
            "created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(int(epoch))),
            "creators": ["Organization: Orvanel", "Tool: make-release.sh"],
        },
        "packages": [product] + [as_spdx_package(c) for c in components],
        "relationships": [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                           "relatedSpdxElement": product["SPDXID"]}]
                         + [{"spdxElementId": product["SPDXID"], "relationshipType": "STATIC_LINK",
                             "relatedSpdxElement": spdx_id(c["name"])} for c in components],
    }
    json.dump(document, sys.stdout, indent=2, ensure_ascii=False)
    sys.stdout.write("\n")


main()
