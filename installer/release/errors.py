"""What stops a release: one exception whose message says what is wrong and
what to do, which the command line prints after its own name and stops."""

from __future__ import annotations

from pathlib import Path


class ReleaseError(Exception):
    """Something the release cannot be made with; its message names it."""


class UsageError(ReleaseError):
    """Options that cannot be: said with the usage, status 2."""


def read_text(path: Path, what: str) -> str:
    """A UTF-8 file the release needs, or a ReleaseError naming what it is."""
    try:
        return path.read_text(encoding="utf-8")
    except OSError as error:
        raise ReleaseError(f"{what} is missing: {path}") from error
    except UnicodeDecodeError as error:
        raise ReleaseError(f"{what} is no UTF-8 text: {path}") from error
