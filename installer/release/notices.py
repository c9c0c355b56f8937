"""THIRD-PARTY-NOTICES.txt of a product's launcher: its own licence and where
its source is published (and what that source holds), the acknowledgements
its components' licences ask of a program's documentation, the list of those
components, what of them this build modifies and when, Debian's copyright
file of each (every notice and licence it carries), the notices of the
components' files compiled into the launcher (JUCE's module headers,
libstdc++'s headers) as they are installed, the components' own licence
files as their source ships them, and the full text of the GNU GPL. CR LF
line ends: it is read on Windows."""

from __future__ import annotations

import os
import re
import textwrap
import time
from collections.abc import Sequence
from pathlib import Path

from . import file_notices
from .components import MODIFIED_JUCE_MODULES, Component, sources_of
from .product import Product
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


def corresponding_source(product: Product, components: Sequence[Component]) -> str:
    """What the source archive holds, in words: the project's source, the whole Debian source package of
    each component that is no System Library, and of the run-time only what the notices and the bill read."""
    whole = sorted({f"{c.code_source} {c.code_version}" for c in components if not c.system_library})
    dscs = sorted({f"{source} {version}" for c in components if c.system_library for source, version in sources_of(c)})
    kept = [c.name for c in components if c.system_library and c.licence_files]
    held = f"It holds the source of {product.name}"
    if whole:
        held += f" and Debian's whole source package{'s' * (len(whole) > 1)} {', '.join(whole)}"
    if dscs:
        held += (f"; of the compiler's run-time, System Libraries whose source it need not hold, only the .dsc "
                 f"of Debian's source packages {', '.join(dscs)}")
        held += f" and the licence files of {', '.join(kept)}" if kept else ""
    return held + "."


def own_licence(product: Product, components: Sequence[Component], year: int,
                test_commit: str | None) -> list[str]:
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
        paragraph(f"Its Corresponding Source is {name}-{version}-source.tar.xz, published at "
                  f"{product.releases_address}, the place {product.manufacturer} offers the installer "
                  f"and the ZIP from, beside them (section 6(d) of the GNU GPL):"),
        "",
        f"    {product.releases_address}{name}-{version}-source.tar.xz",
        "",
        paragraph(f"{corresponding_source(product, components)} Whoever passes {executable} on passes that "
                  "archive on with it, or offers it as section 6 of the GNU GPL says."),
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


def modifications(product: Product, components: Sequence[Component], date: str) -> list[str]:
    """What of each component this build modifies, and the date: the commit's, which the release is made from."""
    lines = []
    for c in components:
        for module in c.modified:
            lines += ["", paragraph(f"Modified: {c.name}'s module {module}, as built into {product.launcher_file}, "
                                   f"is modified from Debian's {c.code_source} {c.code_version} by {product.manufacturer}"
                                   f" (as of {date}): {MODIFIED_JUCE_MODULES[module]}. The files named are part of "
                                   "the Corresponding Source.")]
    return lines


def file_notice_sections(components: Sequence[Component]) -> list[str]:
    """The notices of each component's files compiled into the launcher, each once, naming its files."""
    sections: list[str] = []
    for c in components:
        found = file_notices.collect(c.notice_files, c.own_notices)
        if not found:
            continue
        root = Path(os.path.commonpath([file.parent for file in c.notice_files]))
        sections += ["", heading(f"{c.name}: the notices of its files compiled into the program"), "",
                     paragraph(f"As its files carry them, installed below {root}/ by Debian's {c.packages[0].name} "
                               f"{c.packages[0].version}.")]
        for notice in found:
            names = ", ".join(str(file.relative_to(root)) for file in notice.files)
            sections += ["", paragraph(f"In {names}:"), "", notice.text.rstrip()]
    return sections


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
                                     f"{c.code_source} {c.code_version}")]
            sections += ["", paragraph(kept.received_under)] if kept.received_under else []
            sections += ["", kept.text.rstrip()]
    return sections


def render(product: Product, components: Sequence[Component], licence_text: str, epoch: int,
           test_commit: str | None = None) -> bytes:
    """The notices of a product's launcher built with the components, under the GPL whose text is given,
    as of SOURCE_DATE_EPOCH; with test_commit, marked as a test release of changes not committed on top of it."""
    lines = own_licence(product, components, time.gmtime(epoch).tm_year, test_commit)
    statements = acknowledgements([copyright_text(c, c.name) for c in components])
    if statements:
        lines += [""] + statements
    lines += ["", paragraph(f"{product.launcher_file} is built with the components below. The sections after "
                            "this list hold Debian's copyright file of each Debian source package, with the "
                            "copyright notices and licences of the components it names, the notices of the "
                            "components' files compiled into the program, as those files carry them, and then the "
                            "licence files of components whose own source states their licence apart."), ""]
    lines += component_table(components)
    lines += system_libraries(components, product.name)
    lines += modifications(product, components, time.strftime("%Y-%m-%d", time.gmtime(epoch)))
    lines += copyright_sections(components)
    lines += file_notice_sections(components)
    lines += licence_file_sections(components)
    lines += ["", heading("GNU General Public License, version 3"), "", licence_text.rstrip(), ""]
    return "\n".join(lines).replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")
