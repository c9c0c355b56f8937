import dataclasses
import json
import zipfile
from pathlib import Path

import pytest

from release import copyright, purl, sbom
from release.errors import ReleaseError

HEADER = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n\n"
LIB = HEADER + "Files: *\nCopyright: A\nLicense: Expat and Custom\n\nLicense: Custom\n Custom terms.\n"


def parsed(text: str, package: str) -> copyright.CopyrightFile:
    return copyright.parse(HEADER + text, Path(f"/usr/share/doc/{package}/copyright"))


# Each expression is read in one of three files: 0 and 2 give Custom one text, 1 another.
@pytest.mark.parametrize("expressions, spdx, texts", [
    ([("GPL-3+ or Expat", 0)], ["(GPL-3.0-or-later OR MIT)"], {}),
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
    licences = sbom.Licences()
    if isinstance(spdx, str):
        with pytest.raises(ReleaseError, match=spdx):
            licences.expression(expressions[0][0], files[0])
        return
    assert [licences.expression(expression, files[file]) for expression, file in expressions] == spdx
    assert {ref: info["extractedText"] for ref, info in licences.extracted.items()} == texts


@pytest.fixture
def render(tmp_path, product, component):
    """The bill of materials, as a document, of a release of tmp_path's launcher and files."""
    for name in ["Example.exe", "x.msi", "x.tar.xz", "THIRD-PARTY-NOTICES.txt", "product.ico"]:
        (tmp_path / name).write_text(name)
    with zipfile.ZipFile(tmp_path / "x.zip", "w") as packed:
        for name in ["INSTALL.txt", "THIRD-PARTY-NOTICES.txt", "Example.exe"]:
            packed.writestr(name, name)
    files = {"msi": tmp_path / "x.msi", "zip": tmp_path / "x.zip", "source": tmp_path / "x.tar.xz"}

    def make(test_commit=None, launcher_in=("msi", "zip"), release_files=files):
        text = sbom.render(product, tmp_path / "Example.exe", [component("Lib", LIB, folders=("src/",))], 1700000000,
                           release_files, test_commit, launcher_in)
        return json.loads(text)
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
    assert document["packages"][-1]["licenseConcluded"] == "MIT AND LicenseRef-Custom"
    assert relations(render(launcher_in=("zip",)), "CONTAINS")[0] == ("SPDXRef-Package-Example-zip",
                                                                       "SPDXRef-Package-Example")
    with pytest.raises(ReleaseError, match="no kind of release file is deb"):
        render(release_files={"deb": Path("x.deb")})
    with pytest.raises(ReleaseError, match="the launcher is said to be in the release's msi, which it lacks"):
        render(release_files={"zip": Path("x.zip")})


def test_a_test_release_is_marked_and_its_namespace_follows_the_content(render, tmp_path):
    release, again, test = render(), render(), render(test_commit="abc123")
    assert ("comment" in release, test["comment"]) == (
        False, "Test release, made from changes not committed on top of commit abc123.")
    (tmp_path / "Example.exe").write_text("another launcher")
    other = render()
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
