"""Debian's copyright file of a package (/usr/share/doc/PACKAGE/copyright):
in the machine-readable format, its Files paragraphs and the licence texts
it gives; in prose, its text alone. The bill of materials reads from it the
licences of the parts of a source package a component's code lies in."""

from __future__ import annotations

import dataclasses
import fnmatch
import re
from pathlib import Path

from .errors import read_text

MACHINE_READABLE = "Format:"
PARAGRAPH_BREAK = re.compile(r"\n[ \t]*\n")
# A field: its name at the start of a line, its value that line and every
# continuation line after it, which starts with a space or a tab.
FIELD = re.compile(r"^([A-Za-z-]+):[ \t]*((?:.*)(?:\n[ \t].*)*)", re.M)
# Debian's packaging, which no component's code is.
PACKAGING = "debian/"


@dataclasses.dataclass(frozen=True)
class FilesParagraph:
    patterns: tuple[str, ...]
    licence: str  # the License field's first line: a Debian licence expression


@dataclasses.dataclass(frozen=True)
class CopyrightFile:
    path: Path
    text: str
    machine_readable: bool
    paragraphs: tuple[FilesParagraph, ...]
    licence_texts: dict[str, str]  # the first text given of each licence name, lower-cased, as written

    def licences_for(self, folder: str) -> list[str]:
        """The licence expressions of the paragraphs that cover a folder of the source
        ("" for all of it): the one its files fall under by default, and those of files
        within it; for the whole package with no default, every paragraph but Debian's
        packaging."""
        default = [paragraph.licence for paragraph in self.paragraphs if covers(paragraph, folder + "x")][-1:]
        if folder:
            within = [paragraph.licence for paragraph in self.paragraphs
                      if any(pattern.startswith(folder) for pattern in paragraph.patterns)]
            return default + within
        if default:
            return default
        return [paragraph.licence for paragraph in self.paragraphs
                if not all(pattern.startswith(PACKAGING) for pattern in paragraph.patterns)]

    def licence_text(self, name: str) -> str:
        """The text the file gives a licence name, its continuation marks undone; "" if none."""
        body = self.licence_texts.get(name.strip().lower(), "")
        return "\n".join("" if line.strip() == "." else line[1:] for line in body.splitlines()).strip()


def covers(paragraph: FilesParagraph, path: str) -> bool:
    # The format's "*" matches "/" as well, as fnmatch's does.
    return any(fnmatch.fnmatchcase(path, pattern) for pattern in paragraph.patterns)


def parse(text: str, path: Path) -> CopyrightFile:
    machine_readable = text.startswith(MACHINE_READABLE)
    paragraphs: list[FilesParagraph] = []
    licence_texts: dict[str, str] = {}
    for paragraph in PARAGRAPH_BREAK.split(text) if machine_readable else []:
        fields = dict(FIELD.findall(paragraph))
        name, _, body = fields.get("License", "").partition("\n")
        if body.strip():
            licence_texts.setdefault(name.strip().lower(), body)
        if "Files" in fields:
            paragraphs.append(FilesParagraph(tuple(fields["Files"].split()), name.strip()))
    return CopyrightFile(path, text, machine_readable, tuple(paragraphs), licence_texts)


def read(path: Path) -> CopyrightFile:
    return parse(read_text(path, "Debian's copyright file"), path)
