"""What the release's sources are, and its Corresponding Source.

The sources are a git clone's commit, or what an unpacked source archive
records (release-inputs) and holds; a tree holding anything its commit (or
archive) does not is released only as a test release, marked as one. The
source archive holds the project's files as they are (in a clean tree, the
commit), what they were made from, their sums, the Debian source packages
as tools/setup.sh keeps them, and a signed release's Authenticode signatures,
which its rebuild attaches: sorted names, fixed times, owners and modes, and
xz on one thread with fixed settings, so one commit gives one archive, in a
clone or remade in the unpacked archive.
"""

from __future__ import annotations

import dataclasses
import re
import shutil
import tempfile
from collections.abc import Mapping
from pathlib import Path
from typing import TYPE_CHECKING

from . import archive_licences, programs
from .errors import ReleaseError
from .licences import sha256_of
from .signing import Signatures
from .toolchain import Difference

if TYPE_CHECKING:
    from .model import Release

# What an unpacked source archive holds beside the project's files: what they
# were made from, their sums, the texts of the Debian source packages'
# licences the project's LICENSES/ lacks (archive_licences.py), those, and a
# signed release's signatures.
INPUTS_RECORD = "release-inputs"
FILES_RECORD = "release-files.sha256"
SOURCES_FOLDER = "debian-source-packages"
SIGNATURES_FOLDER = "release-signatures"


@dataclasses.dataclass(frozen=True)
class Sources:
    repo: Path
    kind: str  # "git" or "archive"
    commit: str
    commit_time: int
    uncommitted: bool  # a test release: the tree holds what its commit does not
    # In an unpacked archive: the release it is the source of, and what of it was signed.
    recorded_release: str = ""
    recorded_signatures: Signatures | None = None

    def test_release_mark(self) -> str:
        return f"Test release, made from changes not committed on top of commit {self.commit}"

    def signatures_of(self, release: str) -> Signatures | None:
        """What of the release was signed, where this is its source archive."""
        return self.recorded_signatures if self.recorded_release == release else None


@dataclasses.dataclass(frozen=True)
class Record:
    """What a source archive records of the release it is the source of,
    beside the commit: its name, what of it is signed, and the Authenticode
    signatures, which the archive carries for its rebuild to attach."""

    release: str
    signatures: Signatures
    detached: Mapping[str, bytes]  # by the name each is published under


def _git(repo: Path, *arguments: str) -> str:
    """What git says; nothing where the folder is no clone, or holds no commit."""
    return programs.run(["git", "-C", repo, *arguments], answers=(0, 1, 128)).stdout


def recorded(repo: Path, key: str) -> str:
    """A value of the unpacked source archive's release-inputs."""
    for line in (repo / INPUTS_RECORD).read_text(encoding="utf-8").splitlines():
        if line.startswith(key + " "):
            return line[len(key) + 1:]
    return ""


def recorded_toolchain(repo: Path) -> list[tuple[str, str]]:
    """The "PACKAGE VERSION" entries the unpacked archive's release was made with."""
    lines = (repo / INPUTS_RECORD).read_text(encoding="utf-8").splitlines()
    return [(words[1], words[2]) for words in map(str.split, lines) if len(words) == 3 and words[0] == "toolchain"]


@dataclasses.dataclass(frozen=True)
class Toolchain:
    """What a release was made with: "PACKAGE VERSION" of each package of the
    lock, and those at other versions than the lock names."""

    built_with: list[str]
    unlike_lock: list[Difference]


def _archive_files(repo: Path) -> list[str]:
    """The files of an unpacked source archive that are the project's: all but
    what the release added, the build's folder and a developer's own presets,
    which a clone's git ignores too."""
    added = {INPUTS_RECORD, FILES_RECORD, "CMakeUserPresets.json"}
    if (repo / FILES_RECORD).is_file():
        recorded = {line.split("  ", 1)[-1] for line in (repo / FILES_RECORD).read_text(encoding="utf-8").splitlines()}
        added |= archive_licences.added(repo, recorded)
    files = []
    for path in repo.rglob("*"):
        relative = path.relative_to(repo).as_posix()
        if relative.split("/")[0] in ("build", SOURCES_FOLDER, SIGNATURES_FOLDER) or relative in added:
            continue
        if path.is_symlink() or path.is_file():
            files.append(relative)
    return sorted(files, key=lambda name: name.encode())


def project_files(sources: Sources) -> list[str]:
    """The project's files as the source archive is to hold them: a clone's
    files that git keeps or would keep (its tree as it is, which is the commit
    when nothing is uncommitted), or an unpacked archive's own."""
    if sources.kind == "archive":
        return _archive_files(sources.repo)
    listed = _git(sources.repo, "ls-files", "-z", "--cached", "--others", "--exclude-standard").split("\0")
    present = {name for name in listed if name and ((sources.repo / name).exists() or (sources.repo / name).is_symlink())}
    return sorted(present, key=lambda name: name.encode())


def _archive_is_changed(repo: Path) -> bool:
    """Whether an unpacked source archive holds anything but the files it came with, as they came."""
    sums = [line.split("  ", 1) for line in (repo / FILES_RECORD).read_text(encoding="utf-8").splitlines()]
    if _archive_files(repo) != [name for _, name in sums]:
        return True
    return any(not (repo / name).is_file() or sha256_of(repo / name) != digest for digest, name in sums)


def read(repo: Path, allow_uncommitted: bool) -> Sources:
    """The sources of the clone or unpacked archive at `repo`."""
    if (repo / INPUTS_RECORD).is_file():
        commit, time, uncommitted = (recorded(repo, key) for key in ("commit", "commit-time", "uncommitted-changes"))
        if not (re.fullmatch("[0-9a-f]{40}", commit) and time.isdigit() and uncommitted in ("yes", "no")):
            raise ReleaseError(f"{repo / INPUTS_RECORD} does not say which commit this source archive holds")
        signed = Signatures(sums=recorded(repo, "signed-sums") == "yes",
                            authenticode=recorded(repo, "authenticode") == "yes")
        sources = Sources(repo, "archive", commit, int(time), uncommitted == "yes", recorded(repo, "release"),
                          signed)
        changed = _archive_is_changed(repo)
    elif _git(repo, "rev-parse", "--show-toplevel").strip() == str(repo) and \
            (commit := _git(repo, "rev-parse", "--verify", "--quiet", "HEAD").strip()):
        sources = Sources(repo, "git", commit, int(_git(repo, "log", "-1", "--format=%ct").strip()), False)
        changed = _git(repo, "status", "--porcelain", "--untracked-files=normal") != ""
    else:
        raise ReleaseError(f"{repo} is neither a git clone with a commit nor an unpacked source archive "
                           f"(with its {INPUTS_RECORD})")
    # sha256sum writes such a name escaped, which the archive's sums cannot name plainly.
    if any("\n" in name or "\\" in name for name in project_files(sources)):
        raise ReleaseError(f"a file name of {repo} holds a newline or a backslash, which the source archive's "
                           "sums cannot name plainly")
    if not changed:
        return sources
    if not allow_uncommitted:
        raise ReleaseError(f"{repo} holds changes that are not committed, or files that git neither keeps nor "
                           "ignores (in a source archive: files other than it holds): a release's source archive "
                           "must hold what built it. Commit them, or give --allow-uncommitted to make a test "
                           "release, marked as one")
    return dataclasses.replace(sources, uncommitted=True)


def tagged(sources: Sources, tag: str) -> bool:
    """Whether a clone's commit carries the tag; an archive knows of no tag."""
    return sources.kind == "git" and tag in _git(sources.repo, "tag", "--points-at", sources.commit).split()


def tag_commit(sources: Sources, tag: str) -> str | None:
    """The commit a clone's tag names, wherever it is; None where the clone has no such tag."""
    if sources.kind != "git":
        return None
    return _git(sources.repo, "rev-parse", "--verify", "--quiet", f"refs/tags/{tag}^{{commit}}").strip() or None


def inputs_record(sources: Sources, toolchain: Toolchain, record: Record) -> str:
    """What the source archive records of what its release was made from; the
    build and the release read it in the unpacked archive."""
    def said(value: bool) -> str:
        return "yes" if value else "no"
    lines = ["# What this source archive's release was made from, as installer/make-release.sh records it:",
             "# the commit, its time, whether the release was a test release of changes not committed, the",
             "# release, whether its sums and its launcher and MSI were signed (a signed launcher's and MSI's",
             f"# signatures are in {SIGNATURES_FOLDER}/, which its rebuild attaches), whether it was made with",
             "# the versions toolchain.lock names (and what the lock names of those that differed), and the",
             "# Debian packages it was built with. The build reads it where there is no git clone.",
             f"commit {sources.commit}", f"commit-time {sources.commit_time}",
             f"uncommitted-changes {said(sources.uncommitted)}", f"release {record.release}",
             f"signed-sums {said(record.signatures.sums)}", f"authenticode {said(record.signatures.authenticode)}",
             f"toolchain-as-locked {said(not toolchain.unlike_lock)}"]
    lines += [f"toolchain-locked {difference.package} {difference.expected}" for difference in toolchain.unlike_lock]
    return "".join(line + "\n" for line in lines + [f"toolchain {entry}" for entry in toolchain.built_with])


def build(release: Release, record: Record, licence_texts: Mapping[str, str]) -> bytes:
    """The Corresponding Source: RELEASE-source/ in an xz-compressed tar, with the licence texts (path: text)
    of its Debian source packages that the project lacks."""
    top = f"{record.release}-source"
    with tempfile.TemporaryDirectory() as folder:
        tree = Path(folder) / top
        tree.mkdir()
        for name in project_files(release.sources):
            target = tree / name
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(release.sources.repo / name, target, follow_symlinks=False)
        sums = "".join(f"{sha256_of(tree / name)}  {name}\n" for name in project_files(dataclasses.replace(
            release.sources, repo=tree, kind="archive")))
        (tree / FILES_RECORD).write_text(sums, encoding="utf-8")
        (tree / INPUTS_RECORD).write_text(inputs_record(release.sources, release.toolchain, record), encoding="utf-8")
        added = {f"{SIGNATURES_FOLDER}/{name}": content for name, content in record.detached.items()}
        added |= {name: text.encode("utf-8") for name, text in licence_texts.items()}
        added |= {f"{SOURCES_FOLDER}/{name}": (release.deps / name).read_bytes() for name in release.carried}
        for name, content in added.items():
            (tree / name).parent.mkdir(parents=True, exist_ok=True)
            (tree / name).write_bytes(content)
            (tree / name).chmod(0o644)
        tar = programs.output(["tar", "--sort=name", f"--mtime=@{release.epoch}", "--owner=0", "--group=0",
                               "--numeric-owner", "--mode=u+rw,go=rX", "--format=gnu", "-C", folder, "-cf", "-", top])
    return programs.output(["xz", "-T1", "-6", "-c"], stdin=tar)
