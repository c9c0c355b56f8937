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
subpath: where their files lie in the package."""

from __future__ import annotations

import os
import urllib.parse

from .components import Component
from .errors import ReleaseError

DISTRO = "debian-12"


def quoted(text: str) -> str:
    return urllib.parse.quote(text, safe="")


def subpath(component: Component) -> str:
    """Where the component's files lie in its package: the file, or the folder holding them all."""
    common = os.path.commonpath([str(file) for file in component.files]).strip("/")
    return "/".join(quoted(segment) for segment in common.split("/") if segment)


def of_component(component: Component) -> str:
    package = component.packages[0]
    qualifiers = {"arch": package.architecture, "distro": DISTRO,
                  "upstream": f"{component.code_source}@{component.code_version}"}
    query = "&".join(f"{key}={quoted(value)}" for key, value in sorted(qualifiers.items()))
    located = subpath(component)
    return (f"pkg:deb/debian/{quoted(package.name)}@{quoted(package.version)}?{query}"
            + (f"#{located}" if located else ""))


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
