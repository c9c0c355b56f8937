"""Every program the release runs (dpkg-query, apt-cache, dpkg-source, git,
tar, xz, wixl, msiinfo, msibuild, wrestool, osslsigncode, minisign), through
one policy: a program that is missing, or a run that fails, is a
ReleaseError naming the program, its arguments and the last line it
printed. A caller that asks a question whose "no" is a status says so with
`answers`, the statuses that are answers."""

from __future__ import annotations

import os
import shlex
import subprocess
from collections.abc import Collection, Sequence
from pathlib import Path
from typing import Union

from .errors import ReleaseError

Argument = Union[str, "os.PathLike[str]"]


def _started(command: Sequence[Argument], cwd: Path | None, stdin: bytes | None,
             answers: Collection[int]) -> subprocess.CompletedProcess[bytes]:
    arguments = [os.fspath(argument) for argument in command]
    shown = shlex.join(arguments)
    try:
        done = subprocess.run(arguments, capture_output=True, cwd=cwd, input=stdin)
    except OSError as error:
        raise ReleaseError(f"cannot run {shown}: {error.strerror} (tools/setup.sh installs what the release "
                           "runs)") from error
    if done.returncode not in answers:
        said = [line.strip() for line in (done.stderr or done.stdout).decode("utf-8", "replace").splitlines()
                if line.strip()]
        raise ReleaseError(f"{shown} failed (status {done.returncode}): {said[-1] if said else 'it said nothing'}")
    return done


def run(command: Sequence[Argument], cwd: Path | None = None,
        answers: Collection[int] = (0,)) -> subprocess.CompletedProcess[str]:
    """The program's run, its output as UTF-8 text."""
    done = _started(command, cwd, None, answers)
    return subprocess.CompletedProcess(done.args, done.returncode, done.stdout.decode("utf-8", "replace"),
                                       done.stderr.decode("utf-8", "replace"))


def output(command: Sequence[Argument], cwd: Path | None = None, stdin: bytes | None = None) -> bytes:
    """The bytes a run that must succeed writes."""
    return _started(command, cwd, stdin, (0,)).stdout


def interactive(command: Sequence[Argument], failure: str) -> None:
    """A run that may ask its user something (minisign asks for its key's
    password), on the terminal it inherits; `failure` says what went wrong."""
    arguments = [os.fspath(argument) for argument in command]
    try:
        done = subprocess.run(arguments, stdout=subprocess.DEVNULL)
    except OSError as error:
        raise ReleaseError(f"cannot run {shlex.join(arguments)}: {error.strerror} (tools/setup.sh installs what "
                           "the release runs)") from error
    if done.returncode != 0:
        raise ReleaseError(f"{shlex.join(arguments)} failed (status {done.returncode}): {failure}")
