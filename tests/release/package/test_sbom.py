import dataclasses
import json
from pathlib import Path

import pytest

from release import purl, sbom
from release.components import SourcePackage, sources_of
from release.errors import ReleaseError

HEADER = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n\n"
LIB = HEADER + "Files: *\nCopyright: A\nLicense: Expat and Custom\n\nLicense: Custom\n Custom terms.\n"
PURL_SPEC = Path(__file__).resolve().parent.parent / "purl-spec"


@pytest.fixture
def render(release, component, tmp_path):
    """The bill of materials, as a document, of a release and its files: its one component's code is
    gcc-12's, which gcc-mingw-w64 builds, as the compiler's run-time's is."""
    files = {"msi": ("x.msi", b"msi"), "zip": ("x.zip", b"zip"), "source": ("x.tar.xz", b"source")}
    lib = dataclasses.replace(component("Lib", LIB, source="gcc-mingw-w64", folders=("src/",)), code_source="gcc-12")
    (tmp_path / "x.dsc").write_text("Source: x\nMaintainer: Team <team@example.invalid>\n")
    built = tuple(SourcePackage(name, "1.0-1", tmp_path / "x.dsc", False, ("Lib",), "MIT")
                  for name, _ in sources_of(lib))

    def make(**change):
        made = release([lib], source_packages=built, **change)
        return json.loads(sbom.render(made, files, {"x.winget/x.yaml": b"manifest"}, {"x.cdx.json": b"{}"}))
    return make


def relations(document, kind):
    return [(r["spdxElementId"], r["relatedSpdxElement"]) for r in document["relationships"]
            if r["relationshipType"] == kind]


def test_the_bill_names_each_file_what_contains_the_launcher_and_its_components(render):
    document = render()
    assert relations(document, "CONTAINS") == [("SPDXRef-Package-Example-msi", "SPDXRef-Package-Example")] + [
        ("SPDXRef-Package-Example-zip", "SPDXRef-Package-Example")] + [
        ("SPDXRef-Package-Example-msi", "SPDXRef-File-THIRD-PARTY-NOTICES.txt"),
        ("SPDXRef-Package-Example-msi", "SPDXRef-File-product.ico"),
        ("SPDXRef-Package-Example-zip", "SPDXRef-File-INSTALL.txt"),
        ("SPDXRef-Package-Example-zip", "SPDXRef-File-THIRD-PARTY-NOTICES.txt")]
    assert relations(document, "STATIC_LINK") == [("SPDXRef-Package-Example", "SPDXRef-Package-Lib")]
    assert relations(document, "METAFILE_OF") == [("SPDXRef-File-x.winget-x.yaml", "SPDXRef-Package-Example-msi")]
    assert ("SPDXRef-File-x.cdx.json", "SPDXRef-Package-Example") in relations(document, "DESCRIBES")
    assert [p["licenseConcluded"] for p in document["packages"] if p["name"] == "Lib"] == ["MIT AND LicenseRef-Custom"]


def test_a_component_is_generated_from_each_source_package_it_comes_from_named_as_osv_reads_it(render):
    document = render()
    assert relations(document, "GENERATED_FROM")[1:] == [("SPDXRef-Package-Lib", "SPDXRef-Package-source-gcc-12"),
                                                         ("SPDXRef-Package-Lib", "SPDXRef-Package-source-gcc-mingw-w64")]
    assert [p["externalRefs"][0]["referenceLocator"] for p in document["packages"][-2:]] == [
        "pkg:deb/debian/gcc-12@1.0-1?arch=source&distro=debian-12",
        "pkg:deb/debian/gcc-mingw-w64@1.0-1?arch=source&distro=debian-12"]


def test_a_test_release_is_marked_and_its_namespace_follows_the_content(render):
    release, again, test = render(), render(), render(test_commit="abc123")
    assert ("comment" in release, test["comment"]) == (
        False, "Test release, made from changes not committed on top of commit abc123.")
    other = render(launcher=b"another launcher")
    namespaces = [document["documentNamespace"] for document in [release, again, test, other]]
    assert namespaces[0] == namespaces[1] and len(set(namespaces[1:])) == 3
    assert namespaces[0].startswith("https://spdx.org/spdxdocs/Example-1.2.3-")


@pytest.mark.parametrize("files, found", [
    # One binary package, two components: the subpath tells them apart, their source is upstream.
    ([("/usr/lib/libpthread.a",), ("/usr/lib/crt2.o", "/usr/lib/libmingwex.a")],
     ["pkg:deb/debian/lib-dev@1.0-1?arch=all&distro=debian-12&upstream=lib%401.0-1#usr/lib/libpthread.a",
      "pkg:deb/debian/lib-dev@1.0-1?arch=all&distro=debian-12&upstream=lib%401.0-1#usr/lib"]),
    ([("/usr/lib/libx.a",), ("/usr/lib/libx.a",)], "B and A would have one purl"),
])
def test_each_component_has_one_purl_a_scanner_matches_to_its_source_and_none_alike(component, files, found):
    made = [dataclasses.replace(component(name, LIB), files=tuple(map(Path, paths)))
            for name, paths in zip("AB", files)]
    if isinstance(found, str):
        with pytest.raises(ReleaseError, match=found):
            purl.of_components(made)
    else:
        assert list(purl.of_components(made).values()) == found


def spec_rows(kind):
    """The purl standard's own rows of a kind, from its type's file and its rows every purl must pass."""
    rows = [row for name in ("deb-test.json", "common-test.json")
            for row in json.loads((PURL_SPEC / name).read_text())["tests"] if row["test_type"] == kind]
    return pytest.mark.parametrize("row", rows, ids=[row["description"] for row in rows])


@spec_rows("build")
def test_a_purl_is_built_as_the_purl_standard_builds_it(row):
    given = row["input"]
    arguments = [given[key] for key in ("type", "namespace", "name", "version", "qualifiers", "subpath")]
    if row["expected_failure"]:
        with pytest.raises(ReleaseError):
            purl.build(*arguments)
    else:
        assert purl.build(*arguments) == row["expected_output"]


@pytest.mark.parametrize("version, written", [("1:2.4.47-2+b1", "1:2.4.47-2%2Bb1"), ("7.0.5~rc1+ds-1", "7.0.5~rc1%2Bds-1")])
def test_a_debian_version_keeps_its_epoch_and_tilde_in_a_purl(version, written):
    assert purl.build("deb", "debian", "attr", version) == f"pkg:deb/debian/attr@{written}"
