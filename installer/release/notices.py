"""THIRD-PARTY-NOTICES.txt of a product's launcher: its own licence and where
its source is published, the acknowledgements its components' licences ask
of a program's documentation, the list of those components, Debian's
copyright file of each (every notice and licence it carries), the
components' own licence files as their source ships them, and the full text
of the GNU GPL. CR LF line ends: it is read on Windows."""

from __future__ import annotations

import re
import textwrap
from collections.abc import Sequence

from .components import Component
from .description import Product
from .errors import read_text

RULE = "=" * 78
WIDTH = 78
ACKNOWLEDGEMENT = re.compile(r'documentation\s+must\s+state\s+that\s+"([^"]+)"')


def paragraph(text: str) -> str:
    return textwrap.fill(" ".join(text.split()), WIDTH)


def heading(title: str) -> str:
    return f"{RULE}\n{title}\n{RULE}"


def test_release_mark(product: Product, test_commit: str) -> str:
    return paragraph(f"Test release, made from changes not committed on top of commit {test_commit}: "
                     f"no release of {product.name} {product.version}.")


def own_licence(product: Product, year: int, test_commit: str | None) -> list[str]:
    name, version, executable = product.name, product.version, product.launcher_file
    lines = [f"{name} {version}: licence and third-party notices", ""]
    if test_commit:
        lines += [test_release_mark(product, test_commit), ""]
    return lines + [
        paragraph(f"{executable} is Copyright (C) {year} {product.manufacturer}. It is free software: you can "
                  "redistribute it and/or modify it under the terms of the GNU General Public License, version 3, "
                  "as published by the Free Software Foundation. It is distributed in the hope that it will be "
                  "useful, but WITHOUT ANY WARRANTY; without even the implied warranty of MERCHANTABILITY or "
                  "FITNESS FOR A PARTICULAR PURPOSE. The licence's full text closes this file."),
        "",
        paragraph(f"{name}'s own source files may be used under version 3 of the GNU GPL or any later version; "
                  f"{executable} is built with modules of JUCE that are offered under version 3 only, so the "
                  "program as a whole is under version 3."),
        "",
        paragraph(f"Its Corresponding Source, the source of {name} and Debian's source packages of the "
                  f"libraries built into it, is {name}-{version}-source.tar.xz, published at "
                  f"{product.releases_address}, the place {product.manufacturer} offers the installer "
                  f"and the ZIP from, beside them (section 6(d) of the GNU GPL):"),
        "",
        f"    {product.releases_address}{name}-{version}-source.tar.xz",
        "",
        paragraph(f"Whoever passes {executable} on passes that archive on with it, or offers it as section 6 of "
                  "the GNU GPL says."),
    ]


def acknowledgements(copyright_texts: Sequence[str]) -> list[str]:
    """The statements a licence requires a program's documentation to make, each once."""
    statements: list[str] = []
    for text in copyright_texts:
        for match in ACKNOWLEDGEMENT.finditer(text):
            statement = " ".join(match.group(1).split())
            statement = statement[0].upper() + statement[1:] + "."
            if statement not in statements:
                statements.append(statement)
    return statements


def component_table(components: Sequence[Component]) -> list[str]:
    lines = [f"  {'Component':<20}{'Version':<28}Debian source package"]
    for c in components:
        lines.append(f"  {c.name:<20}{c.packages[0].version:<28}{c.code_source} {c.code_version}")
    return lines


def system_libraries(components: Sequence[Component], name: str) -> list[str]:
    run_time = [c for c in components if c.system_library]
    if not run_time:
        return []
    names = ", ".join(c.name for c in run_time)
    sources = ", ".join(sorted({f"{c.code_source} {c.code_version}" for c in run_time}))
    return ["", paragraph(f"{names}: the compiler's run-time libraries, System Libraries in the sense of section 1 "
                          f"of the GNU GPL version 3, whose source is not part of {name}'s Corresponding Source. "
                          f"Their source is Debian's source packages {sources}.")]


def copyright_text(component: Component, of: str) -> str:
    return read_text(component.copyright, f"Debian's copyright file of {of}")


def copyright_sections(components: Sequence[Component]) -> list[str]:
    """Debian's copyright file of each source package, once, naming its components."""
    by_source: dict[tuple[str, str], list[Component]] = {}
    for c in components:
        by_source.setdefault((c.source, c.source_version), []).append(c)
    sections: list[str] = []
    for (source, version), group in by_source.items():
        names = ", ".join(c.name for c in group)
        sections += ["", heading(f"{names}: Debian's copyright file of the source package {source} {version}"), "",
                     copyright_text(group[0], names).rstrip()]
    return sections


def licence_file_sections(components: Sequence[Component]) -> list[str]:
    """Each component's own licence files, as its source package ships them."""
    sections: list[str] = []
    for c in components:
        for kept in c.licence_files:
            sections += ["", heading(f"{c.name}: its licence file {kept.path}, from Debian's source package "
                                     f"{c.code_source} {c.code_version}"), "",
                         read_text(kept.file, f"{c.name}'s licence file").rstrip()]
    return sections


def render(product: Product, components: Sequence[Component], licence_text: str, year: int,
           test_commit: str | None = None) -> bytes:
    """The notices of a product's launcher built with the components, under the GPL whose text is given,
    as of the year; with test_commit, marked as a test release of changes not committed on top of it."""
    lines = own_licence(product, year, test_commit)
    statements = acknowledgements([copyright_text(c, c.name) for c in components])
    if statements:
        lines += [""] + statements
    lines += ["", paragraph(f"{product.launcher_file} is built with the components below. The sections after "
                            "this list hold Debian's copyright file of each Debian source package, with the "
                            "copyright notices and licences of the components it names, and then the licence "
                            "files of components whose own source states their licence apart."), ""]
    lines += component_table(components)
    lines += system_libraries(components, product.name)
    lines += copyright_sections(components)
    lines += licence_file_sections(components)
    lines += ["", heading("GNU General Public License, version 3"), "", licence_text.rstrip(), ""]
    return "\n".join(lines).replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")
