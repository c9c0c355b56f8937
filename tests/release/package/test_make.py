"""The release's options, its sources, the toolchain lock and the texts it fills in."""

import subprocess

import pytest

from release import cli, make, packing, signing, source_archive, toolchain
from release.errors import ReleaseError, UsageError


@pytest.mark.parametrize("arguments, refusal", [
    (["--out", "o"], "missing --product"),
    (["--product", "p", "--out", "o", "--kit", "k"], "missing --kit-out"),
    (["--product", "p", "--out", "o", "--sign", "-ts", "u", "--prune"], "--sign must come last: --prune"),
    (["--product", "p", "--out", "o", "--bogus"], "unrecognized arguments: --bogus"),
])
def test_options_that_cannot_be_are_refused_before_anything_is_read(arguments, refusal):
    with pytest.raises(UsageError, match=refusal):
        cli.parse_make(arguments)


def test_everything_after_sign_goes_to_osslsigncode():
    options = cli.parse_make(["--product", "a", "--product", "b", "--out", "o", "--sign", "-pkcs12", "k", "-ts", "u"])
    assert [str(p) for p in options.products] == ["a", "b"] and options.sign == ["-pkcs12", "k", "-ts", "u"]


@pytest.mark.parametrize("name, is_release_file", [("Tessalune-1.0.0.msi", True), ("SHA256SUMS", True),
                                                   ("Tessalune-1.0.0.SHA256SUMS.minisig", True),
                                                   ("Tessalune-1.0.0.winget", True),
                                                   ("notes.txt", False), ("Tessalune-1.0.0-windows-tests.zip", False)])
def test_a_release_folder_holds_release_files_and_nothing_else(name, is_release_file):
    assert make.is_release_file(name) == is_release_file


@pytest.mark.parametrize("files, foreign", [
    (["T-1.0.msi", "T-1.0.winget/M.T.yaml", "T-1.0.winget/M.T.installer.yaml"], None),
    (["T-1.0.msi", "T-0.9.winget/M.T.yaml", "T-0.9.winget/notes.txt"], "T-0.9.winget/notes.txt"),
    (["T-0.9.winget/kept/M.T.yaml"], "T-0.9.winget/kept"),
    (["T-0.9.msi/kept"], "T-0.9.msi"),
])
def test_a_folder_whose_manifest_folder_holds_anything_else_is_no_release(tmp_path, files, foreign):
    for name in files:
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text("")
    assert make.foreign_file_in(tmp_path) == foreign


def test_install_text_fills_in_the_product_and_marks_a_test_release(product, tmp_path):
    template = tmp_path / "INSTALL.txt.in"
    template.write_text("@EXECUTABLE@.exe of @NAME@ @VERSION@\n@UNKNOWN@\n", encoding="utf-8")
    mark = "Test release, made from changes not committed on top of commit " + "f" * 40
    text = packing.install_text(product, mark, signing.Signatures(sums=True, authenticode=True), template).decode()
    assert text.endswith("\r\n\r\nExample.exe of Example 1.2.3\r\n@UNKNOWN@\r\n")
    assert all(len(line) <= 78 and line == line.rstrip() for line in text.split("\r\n"))
    assert text.count("\n") == text.count("\r\n") == 5


@pytest.mark.parametrize("sums, authenticode", [(False, False), (True, False), (False, True), (True, True)])
def test_a_release_points_to_no_signature_it_lacks_and_says_what_it_lacks(product, sums, authenticode):
    signatures = signing.Signatures(sums, authenticode)
    said = signing.statement(product, signatures)
    assert ("Example-1.2.3.SHA256SUMS.minisig, beside the sums" in said, "carry the publisher's" in said) == \
        (sums, authenticode)
    assert (not signing.unsigned_note(product, signatures)) == (sums and authenticode)


CITED = "Released unsigned: Example-1.2.3.UNSIGNED.txt says so."


@pytest.mark.parametrize("sums, authenticode, unsigned_allowed, section, refusal", [
    (False, False, False, None, "is tagged"),
    (True, False, False, CITED, "is tagged"),
    (False, False, True, CITED, None),
    (False, False, True, None, None),
    (False, False, True, "Signed.", "says the release is wholly signed"),
    (True, True, False, CITED, "says the release is not wholly signed"),
    (True, True, False, "Signed.", None),
])
def test_a_tagged_version_is_released_as_signed_as_its_changelog_says(product, sums, authenticode, unsigned_allowed,
                                                                       section, refusal):
    said = signing.tagged_refusal(product, signing.Signatures(sums, authenticode), unsigned_allowed, section)
    assert (said is None) if refusal is None else (refusal in said)


def test_the_toolchain_lock_reads_its_lines_and_names_each_difference(tmp_path):
    lock = tmp_path / "toolchain.lock"
    lock.write_text("# the toolchain\ncmake 3.25.1-1  # the build\nwixl 0.101-1\n", encoding="utf-8")
    entries = toolchain.read_lock(lock)
    assert entries == [("cmake", "3.25.1-1"), ("wixl", "0.101-1")]
    assert toolchain.one_line(toolchain.differences(entries, {"cmake": "3.25.1-1", "wixl": "0.102-1"}.get)) == \
        "wixl 0.102-1 (locked: 0.101-1)"
    lock.write_text("cmake\n", encoding="utf-8")
    with pytest.raises(ReleaseError, match="line 1"):
        toolchain.read_lock(lock)


def test_a_lock_bump_moves_versions_forward_keeping_comments_order_and_what_the_machine_lacks(tmp_path):
    lock = tmp_path / "toolchain.lock"
    lock.write_text("# The build.\ncmake 3.25.1-1\n  dpkg-dev\t1.21.22  # its stamp\nzlib1g:amd64 1:1.2.13-1+deb12u1\n"
                    "# The end.", encoding="utf-8")
    installed = {"cmake": "3.25.1-1", "dpkg-dev": "1.21.23", "zlib1g:amd64": "1:1.2.13-1"}
    report = toolchain.bump_lock([], lock, installed.get)
    assert lock.read_text(encoding="utf-8") == ("# The build.\ncmake 3.25.1-1\n  dpkg-dev\t1.21.23  # its stamp\n"
                                                "zlib1g:amd64 1:1.2.13-1+deb12u1\n# The end.")
    assert "dpkg-dev 1.21.22 -> 1.21.23" in report and "kept zlib1g:amd64 1:1.2.13-1+deb12u1" in report
    toolchain.bump_lock(["--downgrade"], lock, installed.get)
    assert "zlib1g:amd64 1:1.2.13-1\n" in lock.read_text(encoding="utf-8")
    with pytest.raises(ReleaseError, match="cmake, which toolchain.lock names, is not installed"):
        toolchain.bump_lock([], lock, {}.get)


def test_a_lock_bump_names_the_workarounds_citing_a_package_that_moved(tmp_path):
    git(tmp_path, "init", "-q")
    (tmp_path / "juce.cmake").write_text("# See JUCE (toolchain.lock: juce-modules-source-data) x.cpp\n"
                                         "# GCC (toolchain.lock: g++-mingw-w64-i686-posix)\n")
    git(tmp_path, "add", "juce.cmake")
    assert toolchain.citations(["juce-modules-source-data", "g++-mingw-w64-i686"], tmp_path) == \
        ["juce.cmake:1:# See JUCE (toolchain.lock: juce-modules-source-data) x.cpp"]


def git(repo, *arguments):
    subprocess.run(["git", "-C", str(repo), "-c", "user.name=t", "-c", "user.email=t@t", *arguments], check=True,
                   capture_output=True)


def test_a_tree_with_what_its_commit_lacks_is_released_only_as_a_test_release(tmp_path):
    repo = tmp_path.resolve()
    git(repo, "init", "-q")
    (repo / "kept").write_text("kept\n")
    git(repo, "add", "kept")
    git(repo, "commit", "-q", "-m", "one")
    assert not source_archive.read(repo, allow_uncommitted=False).uncommitted

    (repo / "untracked").write_text("new\n")
    with pytest.raises(ReleaseError, match="not committed"):
        source_archive.read(repo, allow_uncommitted=False)
    sources = source_archive.read(repo, allow_uncommitted=True)
    assert sources.uncommitted and source_archive.project_files(sources) == ["kept", "untracked"]


def test_an_unpacked_archive_with_a_file_changed_is_no_longer_what_it_records(tmp_path):
    (tmp_path / "kept").write_text("kept\n")
    (tmp_path / source_archive.INPUTS_RECORD).write_text(f"commit {'a' * 40}\ncommit-time 5\nuncommitted-changes no\n")
    digest = subprocess.run(["sha256sum", "kept"], cwd=tmp_path, capture_output=True, text=True).stdout
    (tmp_path / source_archive.FILES_RECORD).write_text(digest)
    assert source_archive.read(tmp_path, allow_uncommitted=False).commit_time == 5

    (tmp_path / "kept").write_text("changed\n")
    with pytest.raises(ReleaseError, match="not committed"):
        source_archive.read(tmp_path, allow_uncommitted=False)
