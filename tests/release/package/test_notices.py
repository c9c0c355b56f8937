import pytest

from release import file_notices, notices

ACKNOWLEDGED = 'Its documentation must state that "this product\n includes Lib"\n'
# A header as libstdc++'s are: its own notice, then another's, and its code.
HEADER = """// Copyright (C) 2001-2022 Free Software Foundation, Inc.
//
// This file is part of the GNU ISO C++ Library.

/*
 * Copyright (c) 1994
 * Hewlett-Packard Company
 *
 * Permission to use, copy, modify, distribute and sell this software
 * is hereby granted.  Hewlett-Packard Company makes no representations.
 *
 *
 * Copyright (c) 1996
 * Silicon Graphics Computer Systems, Inc.
 *
 * Permission to use.  Silicon Graphics makes no representations.
 */

/** @file bits/stl_tree.h
 *  Its notices stop at the first line of code.
 */
#ifndef _STL_TREE_H
// Copyright (c) 2099 Nobody
"""
HP = "Copyright (c) 1994\nHewlett-Packard Company\n\nPermission to use, copy, modify, distribute and sell this software"


@pytest.mark.parametrize("own, found", [
    ("Free Software Foundation", [HP, "Copyright (c) 1996\nSilicon Graphics Computer Systems, Inc."]),
    (None, ["Copyright (C) 2001-2022 Free Software Foundation, Inc.", HP]),
])
def test_a_files_notices_are_its_opening_comments_copyright_paragraphs_and_what_follows(own, found):
    texts = file_notices.notices(HEADER, own)
    assert [text[:len(start)] for text, start in zip(texts, found)] == found and len(texts) == 2 + (own is None)
    assert "Nobody" not in "".join(texts) and "@file" not in "".join(texts)


@pytest.mark.parametrize("test_commit, mark", [
    (None, ""),
    ("abc123", "Test release, made from changes not committed on top of commit abc123: no release of Example 1.2.3. "),
])
def test_the_notices_carry_each_copyright_file_once_and_mark_a_test_release(product, component, tmp_path,
                                                                             test_commit, mark):
    lib = [component(name, "Lib's notice\n" + ACKNOWLEDGED) for name in ["A", "B"]]
    run_time = component("C", ACKNOWLEDGED, source="rt", system_library=True, licence_files=[("COPYING", "C's terms")])
    (tmp_path / "inc").mkdir()
    for name in ["stl_tree.h", "stl_map.h"]:
        (tmp_path / "inc" / name).write_text(HEADER)
    stl = component("D", "", source="gcc", system_library=True, notice_files=tuple((tmp_path / "inc").iterdir()),
                    own_notices="Free Software Foundation", modified=("juce_graphics",))
    text = notices.render(product, lib + [run_time, stl], "The GPL\r\nin full\n", 1700000000, test_commit)
    lines = text.decode("utf-8").split("\r\n")
    assert text.count(b"\n") == text.count(b"\r\n") and lines[-3:] == ["The GPL", "in full", ""]
    opening = " ".join(filter(None, lines[2:]))
    assert opening.startswith(mark + "Example.exe is Copyright (C) 2023 Maker.")
    assert "Its Corresponding Source is Example-1.2.3-source.tar.xz, published at " in opening
    assert ("It holds the source of Example and Debian's whole source package lib 1.0-1; of the compiler's run-time, "
            "System Libraries whose source it need not hold, only the .dsc of Debian's source packages gcc 1.0-1, "
            "rt 1.0-1 and the licence files of C. Whoever passes") in opening
    assert "Modified: D's module juce_graphics, as built into Example.exe, is modified from Debian's gcc 1.0-1 by " \
           "Maker (as of 2023-11-14): compiled from JUCE's module file juce_graphics.cpp less its PNG" in opening
    assert lines.count("This product includes Lib.") == 1
    assert [line for line in lines if "Debian's copyright file of the source package" in line] == [
        "A, B: Debian's copyright file of the source package lib 1.0-1",
        "C: Debian's copyright file of the source package rt 1.0-1", "D: Debian's copyright file of the source "
        "package gcc 1.0-1"]
    assert lines.count("Lib's notice") == 1
    assert "C: its licence file COPYING, from Debian's source package rt 1.0-1" in lines
    assert [lines.count(line) for line in ["In stl_map.h, stl_tree.h:", "Hewlett-Packard Company",
                                           "Silicon Graphics Computer Systems, Inc."]] == [2, 1, 1]
