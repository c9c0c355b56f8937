from pathlib import Path

import pytest

from release import copyright

HEADER = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n\n"
ALL = "Files: *\nCopyright: A\nLicense: GPL-3+\n\n"
PARTS = ("Files: lib/*\nCopyright: B\nLicense: Expat\n\n"
         "Files: lib/sub/special.c\n  lib/sub/other.c\nCopyright: C\nLicense: Custom\n Custom text.\n .\n Second.\n\n"
         "Files: debian/*\nCopyright: D\nLicense: GPL-2+\n")


@pytest.mark.parametrize("text, folder, licences", [
    # A folder's default is the last paragraph covering its files, then those of files within it.
    (ALL + PARTS, "lib/", ["Expat", "Expat", "Custom"]),
    (ALL + PARTS, "lib/sub/", ["Expat", "Custom"]),
    (ALL + PARTS, "src/", ["GPL-3+"]),
    (ALL + PARTS, "", ["GPL-3+"]),
    # The whole package without a default: every paragraph but Debian's packaging.
    (PARTS, "", ["Expat", "Custom"]),
    (PARTS, "src/", []),
])
def test_the_paragraphs_that_cover_a_folder_give_its_licences(text, folder, licences):
    assert copyright.parse(HEADER + text, Path("copyright")).licences_for(folder) == licences


def test_a_licence_text_is_read_as_written_and_prose_has_no_paragraphs():
    parsed = copyright.parse(HEADER + ALL + PARTS, Path("copyright"))
    assert (parsed.licence_text(" CUSTOM"), parsed.licence_text("Expat")) == ("Custom text.\n\nSecond.", "")
    prose = copyright.parse("This package was debianized by someone.\n\n" + ALL, Path("copyright"))
    assert (prose.machine_readable, prose.paragraphs, prose.licences_for("")) == (False, (), [])
