"""The copyright and permission notices a source file carries in its opening
comments, as the file is installed: those the launcher's notices reproduce
for the headers compiled into it (JUCE's modules, libstdc++'s templates),
whose licences ask that their notices go with every copy.

A notice is a paragraph of copyright lines, the copyright paragraphs that
follow it, and every paragraph after them up to the next notice or the end of
its comment: the permission, the licence and the disclaimer. Paragraphs of
a component's own notice (the one its licence files already carry) are left
out, given as a pattern of its holders."""

from __future__ import annotations

import dataclasses
import re
from collections.abc import Iterable
from pathlib import Path

from .errors import read_text

COPYRIGHT_LINE = re.compile(r"^\s*Copyright\b")
# A comment block of a C or C++ file: a /* */ comment, or a run of // lines (blank lines between them too).
LINE_COMMENT = re.compile(r"^\s*//")
BLOCK_START = re.compile(r"^\s*/\*")
BLOCK_STAR = re.compile(r"^\s*\*(?!/) ?")


def _block_lines(lines: list[str], start: int) -> tuple[list[str], int]:
    """The text lines of the /* */ comment starting at lines[start], and the line after it."""
    text: list[str] = []
    for index in range(start, len(lines)):
        line = lines[index]
        if index == start:
            line = re.sub(r"^\s*/\*+", "", line)
        else:
            line = BLOCK_STAR.sub("", line, count=1)
        end = line.find("*/")
        if end >= 0:
            text.append(line[:end])
            return text, index + 1
        text.append(line)
    return text, len(lines)


def opening_comments(text: str) -> list[list[str]]:
    """The comment blocks before a file's first line of code, each as its lines of text."""
    lines = text.splitlines()
    blocks: list[list[str]] = []
    index, in_line_comments = 0, False
    while index < len(lines):
        line = lines[index]
        if BLOCK_START.match(line):
            block, index = _block_lines(lines, index)
            blocks.append(block)
            in_line_comments = False
        elif LINE_COMMENT.match(line):
            if not in_line_comments:
                blocks.append([])
                in_line_comments = True
            blocks[-1].append(re.sub(r"^\s*//", "", line))
            index += 1
        elif not line.strip():
            if in_line_comments:
                blocks[-1].append("")
            index += 1
        else:
            break
    return blocks


def paragraphs(block: list[str]) -> list[list[str]]:
    """A block's paragraphs, blank lines apart; a line of rules and stars alone is no paragraph."""
    found: list[list[str]] = [[]]
    for line in block:
        if line.strip():
            found[-1].append(line.rstrip())
        elif found[-1]:
            found.append([])
    return [paragraph for paragraph in found if any(re.search(r"\w", line) for line in paragraph)]


def _dedented(lines: list[str]) -> list[str]:
    indent = min(len(line) - len(line.lstrip()) for line in lines if line.strip())
    return [line[indent:] for line in lines]


def notices(text: str, own: str | None = None) -> list[str]:
    """The notices of a file's opening comments, each as it is written there, less its comment marks."""
    found: list[str] = []
    for block in opening_comments(text):
        current: list[list[str]] = []
        is_own = False
        for paragraph in paragraphs(block):
            holds_copyright = any(COPYRIGHT_LINE.match(line) for line in paragraph)
            if holds_copyright and (not current or not any(COPYRIGHT_LINE.match(line) for line in current[-1])):
                if current and not is_own:
                    found.append(_joined(current))
                current = []
                is_own = own is not None and all(re.search(own, line) for line in paragraph
                                                 if COPYRIGHT_LINE.match(line))
            if current or holds_copyright:
                current.append(paragraph)
        if current and not is_own:
            found.append(_joined(current))
    return found


def _joined(notice: list[list[str]]) -> str:
    lines = _dedented([line for paragraph in notice for line in paragraph + [""]][:-1])
    return "\n".join(lines)


@dataclasses.dataclass(frozen=True)
class Notice:
    text: str
    files: tuple[Path, ...]  # the files that carry it


def collect(files: Iterable[Path], own: str | None = None) -> list[Notice]:
    """Each distinct notice of the files, once, with the files carrying it, in the order first met."""
    carried: dict[str, list[Path]] = {}
    texts: dict[str, str] = {}
    for file in sorted(files):
        for notice in notices(read_text(file, "a source file compiled into the launcher"), own):
            key = " ".join(notice.split())
            texts.setdefault(key, notice)
            carried.setdefault(key, []).append(file)
    return [Notice(texts[key], tuple(paths)) for key, paths in carried.items()]


def copyright_lines(text: str) -> list[str]:
    """The copyright statements of a file's opening comments, its own holders' too: each copyright line
    and the rest of its paragraph after it ("Copyright (c) 1994" "Hewlett-Packard Company")."""
    found: list[str] = []
    for block in opening_comments(text):
        for paragraph in paragraphs(block):
            started = False
            for line in paragraph:
                if COPYRIGHT_LINE.match(line):
                    found.append(line.strip())
                    started = True
                elif started:
                    found[-1] += " " + line.strip()
    return found
