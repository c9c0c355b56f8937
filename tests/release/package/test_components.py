import hashlib
import struct
from pathlib import Path

import pytest
from conftest import fake_database, package_fields

from release import components, debian, licences, linked as linking
from release.components import Entry
from release.licences import OwnLicence
from release.errors import ReleaseError

MODULES = "/usr/share/juce/modules/"
STL = "/usr/lib/gcc/i686-w64-mingw32/12-posix/include/c++/"
PACKAGES = {"mingw-w64-i686-dev": package_fields("mingw-w64-i686-dev", "mingw-w64"),
            "juce-modules-source-data": package_fields("juce-modules-source-data", "juce"),
            "g++-mingw-w64-i686-posix": package_fields("g++-mingw-w64-i686-posix", "gcc-mingw-w64"),
            "zlib1g-dev": package_fields("zlib1g-dev", "zlib")}


def deps_log(records: dict[str, list[str]]) -> bytes:
    """A Ninja dependency log (format 4) of {object: its source and includes}, as Ninja writes one."""
    ids: dict[str, int] = {}
    data = b"# ninjadeps\n" + struct.pack("<i", 4)
    for output, files in records.items():
        for path in [output, *files]:
            if path not in ids:
                name = path.encode() + b"\0" * (-len(path) % 4)
                data += struct.pack("<I", len(name) + 4) + name + struct.pack("<I", ~len(ids) & 0xFFFFFFFF)
                ids[path] = len(ids)
        data += struct.pack("<Iiq", (12 + 4 * len(files)) | 0x80000000, ids[output], 1) + b"".join(
            struct.pack("<i", ids[path]) for path in files)
    return data + struct.pack("<I", 40)  # a record Ninja is still writing


def placement(file: str) -> str:
    return f" .text          0x00401000       0x20 {file}\n"


@pytest.fixture
def linked(tmp_path):
    """A build below tmp_path/build and Debian's files below tmp_path/deb, a map of them, and a database."""
    build, deb = tmp_path / "build", tmp_path / "deb"
    for file in ["build/liblogic.a", "build/obj/main.o", "build/libjuce.a", "build/libfoo_delayed.a", "build/stray.o",
                 "build/obj/unlogged.o", "deb/crt2.o", "deb/libfoo.a", "deb/libpthread.a", "deb/libz.a", "deb/libnone.a", "deb/notes.txt",
                 "deb/libmingwex.a"]:
        (tmp_path / file).parent.mkdir(exist_ok=True)
        (tmp_path / file).write_bytes(b"")
    (tmp_path / "own").write_text(f"{build}/liblogic.a\town\n{build}/obj/\town\n{build}/libjuce.a\t{MODULES}\n"
                                  f"{build}/libfoo_delayed.a\t{deb}/libfoo.a\n")
    owners = {f"{deb}/{name}": "mingw-w64-i686-dev" for name in ["crt2.o", "libfoo.a", "libpthread.a", "notes.txt",
                                                                 "libmingwex.a"]}
    owners |= {f"{MODULES}{m}/{m}.h": "juce-modules-source-data" for m in ["juce_core", "juce_gui_basics"]}
    owners[f"{deb}/libz.a"] = "zlib1g-dev"
    owners[f"{STL}bits/stl_tree.h"] = "g++-mingw-w64-i686-posix"
    (build / ".ninja_deps").write_bytes(deps_log({
        "CMakeFiles/logic.dir/logic.cpp.obj": ["../logic.cpp", f"{STL}bits/stl_tree.h", f"{MODULES}juce_core/x.h"],
        "obj/main.o": ["../main.cpp"], "CMakeFiles/juce.dir/juce_core.cpp.obj": [f"{MODULES}juce_core/juce_core.cpp"],
        "CMakeFiles/juce.dir/juce_gui_basics_mingw.cpp.obj": [f"{tmp_path}/juce_gui_basics_mingw.cpp"]}))
    the_map = "Linker script and memory map\n" + "".join(placement(file) for file in [
        "liblogic.a(logic.cpp.obj)", "obj/main.o", "libjuce.a(juce_core.cpp.obj)",
        "libjuce.a(juce_gui_basics_mingw.cpp.obj)", "libfoo_delayed.a(d000001.o)",
        f"{deb}/crt2.o", f"{deb}/libpthread.a(thread.o)"])
    return build, deb, the_map, fake_database(tmp_path, owners, PACKAGES)


def components_list(tmp_path, linked, extra=""):
    build, _, the_map, database = linked
    (tmp_path / "x.map").write_text(the_map + extra)
    return linking.components_list(tmp_path / "x.map", tmp_path / "own", build, database)


def test_each_kept_input_is_listed_as_its_component_and_where_its_code_lies(tmp_path, linked):
    deb = linked[1]
    assert components_list(tmp_path, linked).splitlines() == [
        f"JUCE\t{MODULES}juce_core/juce_core.h\tmodules/juce_core/",
        f"JUCE\t{MODULES}juce_gui_basics/juce_gui_basics.h\tmodules/juce_gui_basics/\t{tmp_path}/"
        "juce_gui_basics_mingw.cpp", f"libstdc++\t{STL}bits/stl_tree.h\tlibstdc++-v3/include/",
        f"MinGW-w64 run-time\t{deb}/crt2.o\tmingw-w64-crt/", f"MinGW-w64 run-time\t{deb}/libfoo.a\tmingw-w64-crt/",
        f"winpthreads\t{deb}/libpthread.a\tmingw-w64-libraries/winpthreads/include/",
        f"winpthreads\t{deb}/libpthread.a\tmingw-w64-libraries/winpthreads/src/"]


@pytest.mark.parametrize("file, message", [
    ("{deb}/libz.a", r"libz.a, which the launcher is linked with, is of Debian's package zlib1g-dev \(source zlib\)"),
    ("libjuce.a(stray.cpp.obj)", f"stray.cpp.obj is no JUCE module of {MODULES}"),
    ("stray.o", "the build's list of its own libraries does not say what .*/build/stray.o is made from"),
    ("{deb}/libnone.a", "no installed Debian package holds .*/deb/libnone.a"),
    ("{deb}/notes.txt", "notes.txt of Debian's mingw-w64 is no file of a component known here"),
    # Cephes' math, whose licence mingw-w64 calls unclear.
    ("{deb}/libmingwex.a(lib32_libmingwex_a-erfl.o)", "erfl.o of .*/deb/libmingwex.a, code whose licence its source "
                                                       "calls unclear"),
    # Its headers, whose code it holds, cannot be said.
    ("obj/unlogged.o", "dependency log .* does not say what .*/build/obj/unlogged.o is compiled from"),
    ("libjuce.a(juce_events.cpp.obj)", "names no object juce_events.cpp.obj below .*/build/CMakeFiles/juce.dir"),
])
def test_an_input_nobody_can_account_for_stops_the_list(tmp_path, linked, file, message):
    build, deb = linked[0], linked[1]
    with pytest.raises(ReleaseError, match=message):
        components_list(tmp_path, linked, placement(file.format(build=build, deb=deb)))


def test_a_juce_module_compiled_from_the_builds_own_file_is_said_to_be_modified():
    entry = Entry(Path(f"{MODULES}juce_video/juce_video.h"), "modules/juce_video/", "/build/juce_video_mingw.cpp")
    with pytest.raises(ReleaseError, match="JUCE's juce_video is compiled from this build's own files"):
        components.modified_modules("JUCE", [entry])
    graphics = Entry(Path(f"{MODULES}juce_graphics/juce_graphics.h"), "modules/juce_graphics/", "/build/g.cpp")
    assert components.modified_modules("JUCE", [graphics, Entry(Path(f"{MODULES}juce_core/juce_core.h"), "")]) == (
        "juce_graphics",)


@pytest.fixture
def winpthreads(tmp_path, monkeypatch):
    """winpthreads' licence file as the set-up keeps it in tmp_path/deps, read as "the text"."""
    monkeypatch.setitem(licences.LICENCE_FILES, "winpthreads", OwnLicence(
        "mingw-w64", (("COPYING", hashlib.sha256(b"the text").hexdigest()),), "MIT"))
    kept = tmp_path / "deps/mingw-w64/licence-files/COPYING"
    kept.parent.mkdir(parents=True)
    (tmp_path / "mingw-w64-i686-dev").mkdir()
    (tmp_path / "mingw-w64-i686-dev/copyright").write_text("Format: x\n")
    database = fake_database(tmp_path, {"/lib/libpthread.a": "mingw-w64-i686-dev"}, PACKAGES)
    return kept, lambda: components.describe("winpthreads", [Entry(Path("/lib/libpthread.a"), "src/")],
                                             tmp_path / "deps", database)


@pytest.mark.parametrize("text, message", [
    (None, "winpthreads's licence file COPYING from Debian's source package mingw-w64 is missing"),
    ("the text, changed", "winpthreads's licence file COPYING in Debian's source package mingw-w64 is not the text"),
])
def test_a_licence_file_not_as_it_was_read_stops_the_release(winpthreads, text, message):
    kept, describe = winpthreads
    if text is not None:
        kept.write_text(text)
    with pytest.raises(ReleaseError, match=message):
        describe()


def test_a_component_is_described_from_its_package_and_its_own_licence(winpthreads):
    kept, describe = winpthreads
    kept.write_text("the text")
    component = describe()
    assert (component.source, component.licence, component.licence_files[0].text, component.dsc) == (
        "mingw-w64", "MIT", "the text", None)


@pytest.mark.parametrize("files, wanted", [
    (" 0123 10 x_1.0.orig.tar.xz\n 4567 20 x_1.0-1.debian.tar.xz\n", ["x_1.0-1.dsc", "x_1.0.orig.tar.xz",
                                                                      "x_1.0-1.debian.tar.xz"]),
    (" 0123 10 ../../secret\n", "names ../../secret, which is no file beside it"),
    ("", "names no files"),
])
def test_a_dsc_names_only_files_beside_it(tmp_path, files, wanted):
    (tmp_path / "x_1.0-1.dsc").write_text(f"Source: x\nFiles:\n{files}")
    if isinstance(wanted, str):
        with pytest.raises(ReleaseError, match=wanted):
            debian.dsc_files(tmp_path / "x_1.0-1.dsc")
    else:
        assert debian.dsc_files(tmp_path / "x_1.0-1.dsc") == [tmp_path / name for name in wanted]


@pytest.mark.parametrize("listed, lines", [
    ("Package: mingw-w64-i686-dev\nVersion: 1.0-0\n\nPackage: mingw-w64-i686-dev\nVersion: 1.0-1\n", []),
    ("Package: mingw-w64-i686-dev\nVersion: 1.0-2\n\nPackage: other\nVersion: 9\n",
     ["winpthreads: Debian's package lists name mingw-w64-i686-dev 1.0-2, newer than 1.0-1, which the launcher "
      "was built with"]),
])
def test_a_newer_revision_in_debians_lists_is_named(tmp_path, listed, lines):
    (tmp_path / "x.components").write_text("winpthreads\t/lib/libpthread.a\tsrc/\n")
    database = fake_database(tmp_path, {"/lib/libpthread.a": "mingw-w64-i686-dev"}, PACKAGES, listed)
    assert components.newer_revisions(tmp_path / "x.components", database) == lines
