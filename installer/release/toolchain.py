"""The toolchain lock, toolchain.lock: the Debian packages whose versions
shape the release's files, and the version each was last checked with. The
build warns in a clone, and stops in an unpacked source archive, where the
machine has others (cmake/toolchain-lock.cmake); the release stops unless
told to accept them, and its source archive records the versions it was
made with."""

from __future__ import annotations

import subprocess
from pathlib import Path

from .errors import ReleaseError, read_text

LOCK = Path(__file__).resolve().parent.parent.parent / "toolchain.lock"


def read_lock(path: Path | None = None) -> list[tuple[str, str]]:
    """(package, version) of each line "PACKAGE VERSION"; # starts a comment."""
    path = path or LOCK
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
    query = subprocess.run(["dpkg-query", "-W", "-f=${Version}\n", package], capture_output=True, text=True)
    versions = query.stdout.split() if query.returncode == 0 else []
    if len(versions) > 1:
        raise ReleaseError(f"{package} is known to dpkg for several architectures: name it with the build machine's, "
                           f"as {package}:ARCH (toolchain.lock says why)")
    return versions[0] if versions else None


def differences(lock: list[tuple[str, str]], installed=installed_version) -> list[str]:
    """A line for each package whose installed version is not the lock's."""
    lines = []
    for package, version in lock:
        have = installed(package)
        if have != version:
            lines.append(f"{package}: the lock says {version}, this machine has {have or 'none installed'}")
    return lines


def as_built(lock: list[tuple[str, str]], installed=installed_version) -> list[str]:
    """"PACKAGE VERSION" of what this machine builds with, for the source archive to record."""
    entries = []
    for package, _ in lock:
        have = installed(package)
        if have is None:
            raise ReleaseError(f"{package}, whose version the source archive records, is not installed")
        entries.append(f"{package} {have}")
    return entries
