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
# A prose copyright file's statement of whose its code is: "GCC is Copyright (C) 1986, ... Foundation, Inc."
PROSE_COPYRIGHT = re.compile(r"^\S[^\n]* is Copyright \(C\)(?:.|\n)*?(?=\n\s*\n)", re.M)


@dataclasses.dataclass(frozen=True)
class FilesParagraph:
    patterns: tuple[str, ...]
    licence: str  # the License field's first line: a Debian licence expression
    copyright: tuple[str, ...] = ()  # the Copyright field's lines


@dataclasses.dataclass(frozen=True)
class CopyrightFile:
    path: Path
    text: str
    machine_readable: bool
    paragraphs: tuple[FilesParagraph, ...]
    licence_texts: dict[str, str]  # the first text given of each licence name, lower-cased, as written

    def paragraphs_for(self, folder: str) -> list[FilesParagraph]:
        """The paragraphs that cover a folder of the source ("" for all of it): the one
        its files fall under by default, and those of files within it; for the whole
        package with no default, every paragraph but Debian's packaging."""
        default = [paragraph for paragraph in self.paragraphs if covers(paragraph, folder + "x")][-1:]
        if folder:
            within = [paragraph for paragraph in self.paragraphs
                      if any(pattern.startswith(folder) for pattern in paragraph.patterns)]
            return default + within
        if default:
            return default
        return [paragraph for paragraph in self.paragraphs
                if not all(pattern.startswith(PACKAGING) for pattern in paragraph.patterns)]

    def licences_for(self, folder: str) -> list[str]:
        """The licence expressions of the paragraphs that cover a folder of the source."""
        return [paragraph.licence for paragraph in self.paragraphs_for(folder)]

    def copyrights_for(self, folders: list[str]) -> list[str]:
        """The copyright lines of the paragraphs that cover folders of the source; in
        prose, the statement of who the package's code is copyright of."""
        if not self.machine_readable:
            statement = PROSE_COPYRIGHT.search(self.text)
            return [" ".join(statement.group(0).split())] if statement else []
        return [line for folder in folders for paragraph in self.paragraphs_for(folder)
                for line in paragraph.copyright]

    def all_licences(self) -> list[str]:
        """The licence expressions of every paragraph: the whole source package's, its packaging's too."""
        return [paragraph.licence for paragraph in self.paragraphs]

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
            holders = tuple(line.strip() for line in fields.get("Copyright", "").splitlines() if line.strip())
            paragraphs.append(FilesParagraph(tuple(fields["Files"].split()), name.strip(), holders))
    return CopyrightFile(path, text, machine_readable, tuple(paragraphs), licence_texts)


def read(path: Path) -> CopyrightFile:
    return parse(read_text(path, "Debian's copyright file"), path)
