"""The toolchain lock, toolchain.lock: the Debian packages whose versions
shape the release's files, and the version each was last proven with.

Like Debian's .buildinfo, the lock is recorded and compared, not imposed: the
configure and an ordinary release say in one line which packages differ, and
the release is marked as made with another toolchain (its source archive
records the versions it was made with). Only where bytes are promised does a
difference stop it: a signed or tagged release, and the rebuild of a source
archive, which is held to the versions its release recorded.
`release.sh bump-lock` rewrites the lock from this machine's versions."""

from __future__ import annotations

import dataclasses
import re
from collections.abc import Callable, Iterable
from pathlib import Path

from debian.debian_support import Version

from . import programs
from .errors import ReleaseError, read_text

REPO = Path(__file__).resolve().parent.parent.parent
LOCK = REPO / "toolchain.lock"
# An entry: the package, the version, and what follows on its line (a comment).
ENTRY = re.compile(r"^(\s*)(\S+)(\s+)(\S+)(\s*(?:#.*)?)$")

Installed = Callable[[str], "str | None"]


@dataclasses.dataclass(frozen=True)
class Difference:
    """A package installed at another version than the one it is held to."""

    package: str
    expected: str
    installed: str | None
    held_by: str = "locked"  # or "recorded", by a source archive's release-inputs

    def __str__(self) -> str:
        return f"{self.package} {self.installed or 'not installed'} ({self.held_by}: {self.expected})"


def read_lock(path: Path = LOCK) -> list[tuple[str, str]]:
    """(package, version) of each line "PACKAGE VERSION"; # starts a comment."""
    entries = []
    for number, line in enumerate(read_text(path, "the toolchain lock").splitlines(), 1):
        words = line.split("#", 1)[0].split()
        if not words:
            continue
        if len(words) != 2:
            raise ReleaseError(f"line {number} of {path} is no \"PACKAGE VERSION\": {line!r}")
        entries.append((words[0], words[1]))
    return entries


def installed_version(package: str) -> str | None:
    """A library installed for several architectures has a version for each
    under its bare name, of which none is the build's: the lock names it with
    the build machine's architecture."""
    # dpkg-query answers a package it does not know with status 1.
    query = programs.run(["dpkg-query", "-W", "-f=${Version}\n", package], answers=(0, 1))
    versions = query.stdout.split() if query.returncode == 0 else []
    if len(versions) > 1:
        raise ReleaseError(f"{package} is known to dpkg for several architectures: name it with the build "
                           f"machine's, as {package}:ARCH (toolchain.lock says why)")
    return versions[0] if versions else None


def differences(held_to: Iterable[tuple[str, str]], installed: Installed = installed_version,
                held_by: str = "locked") -> list[Difference]:
    """Each package installed at another version than the one given."""
    found = ((package, version, installed(package)) for package, version in held_to)
    return [Difference(package, version, have, held_by) for package, version, have in found if have != version]


def one_line(found: list[Difference]) -> str:
    return ", ".join(map(str, found))


def as_built(lock: list[tuple[str, str]], installed: Installed = installed_version) -> list[str]:
    """"PACKAGE VERSION" of what this machine builds with, for the source archive to record."""
    entries = []
    for package, _ in lock:
        have = installed(package)
        if have is None:
            raise ReleaseError(f"{package}, whose version the source archive records, is not installed")
        entries.append(f"{package} {have}")
    return entries


def bump(text: str, installed: Installed, downgrade: bool = False) -> tuple[str, list[Difference], list[Difference]]:
    """The lock's text with each entry at the installed version, its comments
    and order kept; what moved, and what was kept because this machine is
    behind the lock (a bump never goes back unless told to)."""
    lines, moved, kept = [], [], []
    for line in text.splitlines(keepends=True):
        entry = ENTRY.match(line.rstrip("\n"))
        if entry is None or entry[2].startswith("#"):
            lines.append(line)
            continue
        lead, package, gap, locked, rest = entry.groups()
        have = installed(package)
        if have is None:
            raise ReleaseError(f"{package}, which toolchain.lock names, is not installed: install it (tools/setup.sh) "
                               "before bumping the lock, or take its line out if the release no longer uses it")
        if have != locked and Version(have) < Version(locked) and not downgrade:
            kept.append(Difference(package, locked, have))
        elif have != locked:
            moved.append(Difference(package, locked, have))
            locked = have
        lines.append(f"{lead}{package}{gap}{locked}{rest}" + ("\n" if line.endswith("\n") else ""))
    return "".join(lines), moved, kept


def citations(packages: Iterable[str], repo: Path = REPO) -> list[str]:
    """"FILE:LINE: text" of each workaround that cites one of the packages
    (`toolchain.lock: PACKAGE`), for whoever bumps the lock to check again."""
    names = {package.split(":")[0] for package in packages}
    if not names:
        return []
    pattern = r"toolchain\.lock: (" + "|".join(map(re.escape, sorted(names))) + r")([^A-Za-z0-9.+:-]|$)"
    # git grep finds nothing with status 1.
    found = programs.run(["git", "-C", repo, "grep", "-n", "-E", pattern, "--", ".", ":!toolchain.lock", ":!docs"],
                         answers=(0, 1))
    return found.stdout.splitlines()


def bump_lock(arguments: list[str], lock: Path = LOCK, installed: Installed = installed_version) -> str:
    """`release.sh bump-lock [--downgrade]`: rewrites the lock, and says what moved and what to check."""
    if arguments not in ([], ["--downgrade"]):
        raise ReleaseError("bump-lock takes nothing but --downgrade")
    text, moved, kept = bump(read_text(lock, "the toolchain lock"), installed, downgrade=bool(arguments))
    lock.write_text(text, encoding="utf-8")
    report = [f"{lock.name}: {difference.package} {difference.expected} -> {difference.installed}"
              for difference in moved] or [f"{lock.name}: every package is at its locked version"]
    report += [f"{lock.name}: kept {difference.package} {difference.expected}, newer than this machine's "
               f"{difference.installed} (--downgrade writes this machine's)" for difference in kept]
    cited = citations(difference.package for difference in moved)
    if cited:
        report += ["Check each workaround citing a package that moved, at that package's new version:"] + \
            [f"  {line}" for line in cited]
    return "".join(line + "\n" for line in report)
