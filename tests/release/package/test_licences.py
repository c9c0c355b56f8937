from pathlib import Path

import pytest

from release import archive_licences, licences
from release.errors import ReleaseError

HEADER = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n\n"
ALL = "Files: *\nCopyright: A\nLicense: GPL-3+\n\n"
PARTS = ("Files: lib/*\nCopyright: B\nLicense: Expat\n\n"
         "Files: lib/sub/special.c\n  lib/sub/other.c\nCopyright: C\nLicense: Custom\n Custom text.\n .\n Second.\n\n"
         "Files: debian/*\nCopyright: D\nLicense: GPL-2+\n")


def parsed(text: str, package: str = "lib") -> licences.CopyrightFile:
    return licences.parse_copyright(HEADER + text, Path(f"/usr/share/doc/{package}/copyright"))


@pytest.mark.parametrize("text, folder, found", [
    # A folder's default is the last paragraph covering its files, then those of files within it.
    (ALL + PARTS, "lib/", ["Expat", "Expat", "Custom"]),
    (ALL + PARTS, "lib/sub/", ["Expat", "Custom"]),
    (ALL + PARTS, "src/", ["GPL-3+"]),
    (ALL + PARTS, "", ["GPL-3+"]),
    # The whole package without a default: every paragraph but Debian's packaging.
    (PARTS, "", ["Expat", "Custom"]),
    (PARTS, "src/", []),
    # Field names are any case (xz-utils writes "files:"); brackets are no wildcard (coreutils').
    (ALL + "files: lib/*\ncopyright: B\nlicense: Expat\n", "lib/", ["Expat", "Expat"]),
    (ALL + "Files: lib/[ab]*\nCopyright: B\nLicense: Expat\n", "lib/a", ["GPL-3+"]),
    (ALL + "Files: lib/[ab]*\nCopyright: B\nLicense: Expat\n", "lib/[ab]", ["Expat", "Expat"]),
])
def test_the_paragraphs_that_cover_a_folder_give_its_licences(text, folder, found):
    assert parsed(text).licences_for(folder) == found


def test_a_licence_text_is_read_as_written_and_prose_has_no_paragraphs():
    copyright_file = parsed(ALL + PARTS)
    assert (copyright_file.licence_text(" CUSTOM"), copyright_file.licence_text("Expat")) == ("Custom text.\n\nSecond.", "")
    prose = licences.parse_copyright("This package was debianized by someone.\n\n" + ALL, Path("copyright"))
    assert (prose.parsed, prose.paragraphs, prose.licences_for("")) == (None, [], [])


# Each expression is read in one of three files: 0 and 2 give Custom one text, 1 another.
@pytest.mark.parametrize("expressions, spdx, texts", [
    ([("GPL-3+ or Expat", 0)], ["(GPL-3.0-or-later OR MIT)"], {}),
    # The format's own example: its comma closes a group.
    ([("GPL-2+ or Artistic-2.0, and BSD-3-clause", 0)], ["(GPL-2.0-or-later OR Artistic-2.0) AND BSD-3-Clause"], {}),
    ([("BSD-3-clause and custom", 0)], ["BSD-3-Clause AND LicenseRef-custom"], {"LicenseRef-custom": "Custom terms."}),
    ([("Custom", 0), ("Custom", 2)], ["LicenseRef-Custom"] * 2, {"LicenseRef-Custom": "Custom terms."}),
    ([("Custom", 0), ("Custom", 1), ("Custom", 2)], ["LicenseRef-Custom", "LicenseRef-Custom-2", "LicenseRef-Custom"],
     {"LicenseRef-Custom": "Custom terms.", "LicenseRef-Custom-2": "Other terms."}),
    ([("Unknown", 0)], "Debian's copyright file /usr/share/doc/a-dev/copyright gives no text for the licence 'Unknown'",
     {}),
])
def test_debians_licence_expressions_become_spdx_ones_with_every_text(expressions, spdx, texts):
    files = [parsed("License: Custom\n Custom terms.\n", "a-dev"), parsed("License: Custom\n Other terms.\n", "b-dev"),
             parsed("License: Custom\n Custom terms.\n", "c-dev")]
    made = licences.Licences()
    if isinstance(spdx, str):
        with pytest.raises(ReleaseError, match=spdx):
            made.expression(expressions[0][0], files[0])
        return
    assert [made.expression(expression, files[file]) for expression, file in expressions] == spdx
    assert {ref: info["extractedText"] for ref, info in made.extracted.items()} == texts


def test_an_spdx_expression_names_its_licences_and_no_operator_whatever_its_case():
    assert licences.identifiers("GPL-3.0-or-later or MIT") == {"GPL-3.0-or-later", "MIT"}
    assert licences.identifiers("GPL-3.0-or-later WITH GCC-exception-3.1 and LicenseRef-x") == {
        "GPL-3.0-or-later", "GCC-exception-3.1", "LicenseRef-x"}


def test_a_licence_the_archive_has_no_text_of_stops_it_naming_the_licence():
    with pytest.raises(ReleaseError, match="no text of the licence LicenseRef-unknown, which .reuse/dep5 states"):
        archive_licences.text_of("LicenseRef-unknown", [], {})


LGPL = ("/*\n * Copyright 2012 Someone\n *\n * This library is free software; you can redistribute it and/or\n"
        " * modify it under the terms of the GNU Lesser General Public\n * License as published by the Free Software "
        "Foundation; either\n * version 2.1 of the License, or (at your option) any later version.\n */\n")
PD = "/**\n * This file is part of the mingw-w64 runtime package.\n * No warranty is given; refer to the file DISCLAIMER within this package.\n */\n"
HEADERS = ("Files: *\nCopyright: A\nLicense: ZPL-2.1\n\nFiles: h/include/*\nCopyright: B\nLicense: public-domain\n\n"
           "Files: h/include/x.idl h/crt/*\nCopyright: C\nLicense: LGPL-2.1+\n")


@pytest.mark.parametrize("text, found", [
    # What the header says, and what Debian's file says of it where its places agree.
    (LGPL, ["LGPL-2.1-or-later"]),
    (PD, ["public-domain"]),
    ("/* Autogenerated by WIDL 7.0 from include/x.idl - Do not edit */\n", ["LGPL-2.1+"]),
    # Installed from include/ or crt/, which Debian's file says differently of: no statement, no licence.
    ("#define X 1\n", "x.h, which the launcher's objects include, states no licence"),
])
def test_a_headers_licence_is_its_own_statement_or_debians_for_its_one_place(tmp_path, text, found):
    header = tmp_path / "x.h"
    header.write_text(text)
    read = lambda: licences.header_licences(header, ["h/include/x.h", "h/crt/x.h"], parsed(HEADERS))  # noqa: E731
    if isinstance(found, str):
        with pytest.raises(ReleaseError, match=found):
            read()
    else:
        assert read() == found
