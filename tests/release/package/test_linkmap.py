import pytest

from release import linked as linkmap
from release.errors import ReleaseError

MAP = "Archive member included\n\nLinker script and memory map\n\n"


@pytest.mark.parametrize("lines, found", [
    ([" .text          0x00401000       0x20 obj/main.o"], [("obj/main.o", None)]),
    ([" .text          0x00401000       0x20 /usr/lib/libx.a(member one.o)"], [("/usr/lib/libx.a", "member one.o")]),
    ([" .text          0x00401000       0x20 a folder/with spaces.o"], [("a folder/with spaces.o", None)]),
    # A section name too long for its line puts the rest on the next.
    ([" .text.a_very_long_section_name", "                0x00401000       0x20 obj/long.o"], [("obj/long.o", None)]),
    # Nothing kept of it, what the linker made, a fill and data statements name no input.
    ([" .text          0x00401000        0x0 obj/empty.o", " .text          0x00401000       0x20 linker stubs",
      " *fill*         0x00401000        0x4 ", " .data          0x00401000        0x4 LONG 0x0"], []),
    ([".text           0x00401000    0x1000", "                0x00401000                main",
      "LOAD obj/main.o", "OUTPUT(bin/x.exe pei-i386)", "START GROUP", " *(.text)", "/DISCARD/"], []),
])
def test_a_map_names_the_inputs_the_linker_kept_a_section_of(lines, found):
    placements = linkmap.placements(MAP + "\n".join(lines) + "\n", "x.map")
    assert [(placement.file, placement.member) for placement in placements] == found


@pytest.mark.parametrize("text, message", [
    ("Memory Configuration\n", "x.map is no GNU ld link map"),
    (MAP + "LOAD obj/main.o\nGARBAGE IN THE MAP\n",
     "line 6 of x.map is nothing this reader knows: 'GARBAGE IN THE MAP'"),
    (MAP + "0x00401000 a symbol without its indent\n", "line 5 of x.map is nothing this reader knows"),
])
def test_a_map_it_cannot_read_whole_stops_it_naming_the_line(text, message):
    with pytest.raises(ReleaseError, match=message):
        linkmap.placements(text, "x.map")


def test_kept_inputs_are_real_files_below_the_build(tmp_path):
    (tmp_path / "obj").mkdir()
    (tmp_path / "obj" / "main.o").write_bytes(b"")
    (tmp_path / "x.map").write_text(MAP + " .text          0x00401000       0x20 obj/main.o\n"
                                          " .text          0x00401020       0x20 obj/gone.o\n")
    with pytest.raises(ReleaseError, match="line 6 of .* names obj/gone.o, which is no file here"):
        linkmap.kept_inputs(tmp_path / "x.map", tmp_path)
    (tmp_path / "obj" / "gone.o").write_bytes(b"")
    assert linkmap.kept_inputs(tmp_path / "x.map", tmp_path) == {tmp_path / "obj/main.o": set(),
                                                                 tmp_path / "obj/gone.o": set()}
