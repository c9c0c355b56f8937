"""The package URL (purl) each component of a launcher is named by in the
bill of materials: the one a scanner reads.

A scanner takes the first purl of a package and nothing else: Syft's SPDX
reader, which grype uses, makes a dpkg entry of it, named as the package is
named in the document ("libstdc++"), whose source package and its version are
those of the purl's `upstream` qualifier, and Debian's advisories are matched
against that source, as Debian's Security Tracker names them. So each
component has one purl: the Debian binary package its files are of, at its
version, with the source package its code was built from (for the compiler's
run-time, gcc-mingw-w64's Built-Using: gcc-12) as `upstream=SOURCE@VERSION`,
the form Syft itself writes for a Debian package. Two components of one
binary package (winpthreads and the MinGW-w64 run-time) differ in the purl's
subpath: where their files lie in the package.

The purl is written as the purl standard (package-url's purl-spec) builds one: each component
percent-encoded but for its unreserved characters and ':' (so a Debian
epoch stays "1:2.4" and "+" becomes "%2B"), qualifiers sorted, empty ones
left out."""

from __future__ import annotations

import os
import posixpath
import re
import urllib.parse
from collections.abc import Mapping

from .components import Component
from .errors import ReleaseError

DISTRO = "debian-12"
TYPE = re.compile(r"[A-Za-z.+-][A-Za-z0-9.+-]*")
QUALIFIER_KEY = re.compile(r"[A-Za-z.\-_][A-Za-z0-9.\-_]*")
# Types whose namespace and name are case-insensitive, and so written in lower case.
LOWER_CASE = {"deb", "apk", "bitbucket", "github", "pypi", "rpm"}


def encoded(text: str) -> str:
    return urllib.parse.quote(text, safe=":")


def build(kind: str | None, namespace: str | None, name: str | None, version: str | None = None,
          qualifiers: Mapping[str, str] | None = None, subpath: str | None = None) -> str:
    """The canonical purl of its components."""
    if not kind or not TYPE.fullmatch(kind) or not name:
        raise ReleaseError(f"no purl has the type {kind!r} and the name {name!r}")
    kind = kind.lower()
    if kind in LOWER_CASE:
        namespace, name = namespace and namespace.lower(), name.lower()
    purl = f"pkg:{kind}/"
    purl += "".join(encoded(segment) + "/" for segment in (namespace or "").split("/") if segment)
    purl += encoded(name) + (f"@{encoded(version)}" if version else "")
    given = {key.lower(): value for key, value in (qualifiers or {}).items() if value}
    wrong = [key for key in given if not QUALIFIER_KEY.fullmatch(key)]
    if wrong:
        raise ReleaseError(f"{wrong[0]!r} cannot be a purl's qualifier")
    if given:
        purl += "?" + "&".join(f"{key}={encoded(value)}" for key, value in sorted(given.items()))
    located = [segment for segment in (subpath or "").split("/") if segment not in ("", ".", "..")]
    return purl + ("#" + "/".join(map(encoded, located)) if located else "")


def of_source(name: str, version: str, subpath: str | None = None) -> str:
    """A Debian source package's purl, which OSV and Dependency-Track match Debian's advisories against: the
    source's own name and version, arch=source; with a subpath, a part of it (where a component's code lies)."""
    return build("deb", "debian", name, version, {"arch": "source", "distro": DISTRO}, subpath)


def of_component_source(component: Component) -> str:
    """The purl of the part of its source package a component's code lies in."""
    return of_source(component.code_source, component.code_version,
                     posixpath.commonpath([folder.rstrip("/") for folder in component.folders]))


def of_component(component: Component) -> str:
    package = component.packages[0]
    # Where the component's files lie in its package: the file, or the folder holding them all.
    common = os.path.commonpath([str(file) for file in component.files]).strip("/")
    return build("deb", "debian", package.name, package.version,
                 {"arch": package.architecture, "distro": DISTRO,
                  "upstream": f"{component.code_source}@{component.code_version}"}, common)


def of_components(components: list[Component]) -> dict[str, str]:
    """{component: purl}; two components one purl would name are one to a scanner, and stop the release."""
    purls: dict[str, str] = {}
    for component in components:
        purl = of_component(component)
        alike = [name for name, other in purls.items() if other == purl]
        if alike:
            raise ReleaseError(f"{component.name} and {alike[0]} would have one purl, {purl}: a scanner could not "
                               "tell them apart")
        purls[component.name] = purl
    return purls
