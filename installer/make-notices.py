#!/usr/bin/env python3
"""Writes THIRD-PARTY-NOTICES.txt of a product's built launcher: its own licence
and where its source is published, the acknowledgements its components'
licences ask of a program's documentation, the list of those components,
Debian's copyright file of each (every notice and licence it carries), the
components' own licence files as their source ships them, and the full text
of the GNU GPL.

The components are those of the list of what the launcher was linked with
(NAME.components, read from the link map, which the product's description
names); everything said about them
comes from Debian (components.py). CR LF line ends: it is read on Windows.

Usage: make-notices.py PRODUCT DEPS LICENSE SOURCE_DATE_EPOCH [--test-release COMMIT]
  --test-release  marks the notices as those of a test release, made from
                  changes not committed on top of COMMIT
"""

import os
import re
import sys
import textwrap
import time

# The build writes nothing into the source tree, compiled modules included.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import components as linked  # noqa: E402

RULE = "=" * 78


def fail(message):
    sys.exit(f"make-notices.py: {message}")


def paragraph(text):
    return textwrap.fill(" ".join(text.split()), 78)


def heading(title):
    return f"{RULE}\n{title}\n{RULE}"


def own_licence(product, year, test_commit):
    name, version, executable = product["name"], product["version"], product["executable"] + ".exe"
    lines = [f"{name} {version}: licence and third-party notices", ""]
    if test_commit:
        lines += [paragraph(f"Test release, made from changes not committed on top of commit {test_commit}: "
                            f"no release of {name} {version}."), ""]
    return lines + [
        paragraph(f"{executable} is Copyright (C) {year} {product['manufacturer']}. It is free software: you can "
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
                  f"{product['releases_address']}, the place {product['manufacturer']} offers the installer "
                  f"and the ZIP from, beside them (section 6(d) of the GNU GPL):"),
        "",
        f"    {product['releases_address']}{name}-{version}-source.tar.xz",
        "",
        paragraph(f"Whoever passes {executable} on passes that archive on with it, or offers it as section 6 of "
                  "the GNU GPL says."),
    ]


def acknowledgements(copyright_texts):
    """The statements a licence requires a program's documentation to make."""
    statements = []
    for text in copyright_texts:
        for match in re.finditer(r'documentation\s+must\s+state\s+that\s+"([^"]+)"', text):
            statement = " ".join(match.group(1).split())
            statement = statement[0].upper() + statement[1:] + "."
            if statement not in statements:
                statements.append(statement)
    return statements


def component_table(components):
    lines = [f"  {'Component':<20}{'Version':<28}Debian source package"]
    for c in components:
        lines.append(f"  {c['name']:<20}{c['packages'][0]['Version']:<28}{c['code_source']} {c['code_version']}")
    return lines


def system_libraries(components, name):
    run_time = [c for c in components if c["system_library"]]
    if not run_time:
        return []
    names = ", ".join(c["name"] for c in run_time)
    sources = ", ".join(sorted({f"{c['code_source']} {c['code_version']}" for c in run_time}))
    return ["", paragraph(f"{names}: the compiler's run-time libraries, System Libraries in the sense of section 1 "
                          f"of the GNU GPL version 3, whose source is not part of {name}'s Corresponding Source. "
                          f"Their source is Debian's source packages {sources}.")]


def copyright_sections(components):
    """Debian's copyright file of each source package, once, naming its components."""
    by_source = {}
    for c in components:
        by_source.setdefault((c["source"], c["source_version"]), []).append(c)
    sections = []
    for (source, version), group in by_source.items():
        names = ", ".join(c["name"] for c in group)
        sections += ["", heading(f"{names}: Debian's copyright file of the source package {source} {version}"), "",
                     linked.read_text(group[0]["copyright"], f"Debian's copyright file of {names}").rstrip()]
    return sections


def licence_file_sections(components):
    """Each component's own licence files, as its source package ships them."""
    sections = []
    for c in components:
        for path, file in c["licence_files"]:
            sections += ["", heading(f"{c['name']}: its licence file {path}, from Debian's source package "
                                     f"{c['code_source']} {c['code_version']}"), "",
                         linked.read_text(file, f"{c['name']}'s licence file").rstrip()]
    return sections


def main():
    if len(sys.argv) == 7 and sys.argv[5] == "--test-release":
        test_commit = sys.argv[6]
    elif len(sys.argv) == 5:
        test_commit = None
    else:
        fail("usage: make-notices.py PRODUCT DEPS LICENSE SOURCE_DATE_EPOCH [--test-release COMMIT]")
    product_file, deps, licence, epoch = sys.argv[1:5]
    product = linked.read_product(product_file)
    components = linked.describe_all(product["components"], deps)
    copyright_texts = [linked.read_text(c["copyright"], f"Debian's copyright file of {c['name']}")
                       for c in components]
    lines = own_licence(product, time.gmtime(int(epoch)).tm_year, test_commit)
    statements = acknowledgements(copyright_texts)
    if statements:
        lines += [""] + statements
    lines += ["", paragraph(f"{product['executable']}.exe is built with the components below. The sections after "
                            "this list hold Debian's copyright file of each Debian source package, with the "
                            "copyright notices and licences of the components it names, and then the licence "
                            "files of components whose own source states their licence apart."), ""]
    lines += component_table(components)
    lines += system_libraries(components, product["name"])
    lines += copyright_sections(components)
    lines += licence_file_sections(components)
    lines += ["", heading("GNU General Public License, version 3"), "",
              linked.read_text(licence, "the GNU GPL's text").rstrip(), ""]
    sys.stdout.buffer.write("\n".join(lines).replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8"))


main()
