import pytest

from release import notices

ACKNOWLEDGED = 'Its documentation must state that "this product\n includes Lib"\n'


@pytest.mark.parametrize("test_commit, mark", [
    (None, ""),
    ("abc123", "Test release, made from changes not committed on top of commit abc123: no release of Example 1.2.3. "),
])
def test_the_notices_carry_each_copyright_file_once_and_mark_a_test_release(product, component, test_commit, mark):
    lib = [component(name, "Lib's notice\n" + ACKNOWLEDGED) for name in ["A", "B"]]
    run_time = component("C", ACKNOWLEDGED, source="rt", system_library=True, licence_files=[("COPYING", "C's terms")])
    text = notices.render(product, lib + [run_time], "The GPL\r\nin full\n", 2023, test_commit)
    lines = text.decode("utf-8").split("\r\n")
    assert text.count(b"\n") == text.count(b"\r\n") and lines[-3:] == ["The GPL", "in full", ""]
    assert " ".join(filter(None, lines[2:])).startswith(mark + "Example.exe is Copyright (C) 2023 Maker.")
    assert lines.count("This product includes Lib.") == 1
    assert [line for line in lines if "Debian's copyright file of the source package" in line] == [
        "A, B: Debian's copyright file of the source package lib 1.0-1",
        "C: Debian's copyright file of the source package rt 1.0-1"]
    assert lines.count("Lib's notice") == 1
    assert "C: its licence file COPYING, from Debian's source package rt 1.0-1" in lines
