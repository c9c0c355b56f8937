"""A release's two bills of materials read as the common scanners read them,
from the documents alone: every problem a line, nothing when all is well.

- Syft (and grype after it) takes each SPDX package's first purl, a Debian
  binary package whose source and its version are the `upstream` qualifier's,
  on the distribution `distro` names, and matches Debian's advisories to
  that source.
- OSV-Scanner (osv-scalibr) takes a purl's own name and version, in the
  ecosystem "Debian:<release>": only a source package's purl (arch=source)
  names what osv.dev keys Debian's records by.
- Dependency-Track takes each CycloneDX component's purl, as OSV does.
A source that Debian does not publish at that version (neither kept by the
set-up nor listed by apt) matches nothing. Two packages of one document with
one purl are one package to a scanner. Each component must be GENERATED_FROM
the source package its first purl names upstream, so that both readings
find the same source.

Usage: read-as-scanners.py SPDX_JSON CYCLONEDX_JSON CYCLONEDX_SCHEMA_FOLDER DEPS_FOLDER
"""

import json
import subprocess
import sys
import urllib.parse
from pathlib import Path

import jsonschema


def parsed(purl):
    """(name, version, qualifiers) of a Debian purl, percent-decoded; None for another."""
    head, _, query = purl.partition("#")[0].partition("?")
    if not head.startswith("pkg:deb/debian/"):
        return None
    name, _, version = head.removeprefix("pkg:deb/debian/").partition("@")
    return urllib.parse.unquote(name), urllib.parse.unquote(version), dict(urllib.parse.parse_qsl(query))


def published(deps, source, version):
    return (deps / source / f"{source}_{version.split(':', 1)[-1]}.dsc").is_file() or f"Version: {version}" in \
        subprocess.run(["apt-cache", "showsrc", source], capture_output=True, text=True).stdout.splitlines()


def syft(purl, deps):
    """What Syft's reading of a binary package's purl misses, if anything."""
    name, version, qualifiers = parsed(purl) or ("", "", {})
    source, _, at = qualifiers.get("upstream", "").partition("@")
    if qualifiers.get("distro") != "debian-12" or not source:
        return f"{purl}: Syft reads no Debian 12 source from it"
    return None if published(deps, source, at or version) else f"{purl}: Syft looks up {source} {at or version}"


def osv(purl, deps):
    """What OSV's reading of a source package's purl misses, if anything."""
    name, version, qualifiers = parsed(purl) or ("", "", {})
    if qualifiers.get("arch") != "source" or qualifiers.get("distro") != "debian-12":
        return f"{purl}: OSV reads a Debian binary package, or no Debian:12 package, from it"
    return None if published(deps, name, version) else f"{purl}: OSV looks up Debian:12/{name}@{version}"


def spdx_problems(document, deps):
    purls = {p["SPDXID"]: next((r["referenceLocator"] for r in p.get("externalRefs", [])
                                if r["referenceType"] == "purl"), None) for p in document["packages"]}
    generated = {(r["spdxElementId"], r["relatedSpdxElement"]) for r in document["relationships"]
                 if r["relationshipType"] == "GENERATED_FROM"}
    for spdx, purl in purls.items():
        if purl is None:
            continue
        if parsed(purl) and parsed(purl)[2].get("arch") == "source":
            yield osv(purl, deps)
            continue
        yield syft(purl, deps)
        upstream = parsed(purl)[2].get("upstream", "").partition("@")[0] if parsed(purl) else ""
        sources = [parsed(purls[to])[0] for by, to in generated if by == spdx and purls.get(to) and parsed(purls[to])]
        if upstream not in sources:
            yield f"{purl}: generated from no source package named {upstream}, but from {sources}"
    named = [purl for purl in purls.values() if purl]
    yield from (f"{purl}: the purl of two SPDX packages" for purl in set(named) if named.count(purl) > 1)


def cyclonedx_problems(document, schemas, deps):
    store = {schema["$id"]: schema for schema in map(json.loads, map(Path.read_text, schemas.glob("*.json")))}
    bom = store["http://cyclonedx.org/schema/bom-1.6.schema.json"]
    validator = jsonschema.Draft7Validator(bom, resolver=jsonschema.RefResolver.from_schema(bom, store=store))
    yield from (f"CycloneDX: {error.message}" for error in validator.iter_errors(document))
    purls = [component.get("purl", "") for component in document.get("components", [])]
    for component, purl in zip(document.get("components", []), purls):
        yield osv(purl, deps)
        binary = [p["value"] for p in component.get("properties", []) if p["name"] == "debian:binary-purl"]
        yield syft(binary[0], deps) if binary else f"{purl}: no Debian binary package's purl beside it"
    yield from (f"{purl}: the purl of two CycloneDX components" for purl in set(purls) if purls.count(purl) > 1)


def main(spdx, cyclonedx, schemas, deps):
    problems = [*spdx_problems(json.loads(Path(spdx).read_text()), Path(deps)),
                *cyclonedx_problems(json.loads(Path(cyclonedx).read_text()), Path(schemas), Path(deps))]
    print("".join(f"{problem}\n" for problem in problems if problem), end="")


if __name__ == "__main__":
    main(*sys.argv[1:])
