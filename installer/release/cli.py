"""The release's command line: `make` makes each product's release (make.py;
installer/make-release.sh runs it), and the other commands answer the
scripts that check and show a release."""

from __future__ import annotations

import sys
from pathlib import Path

from . import components, description, payload, toolchain, version_resource
from .errors import ReleaseError, UsageError
from .make import MAKE_USAGE, make

USAGE = """\
Usage: installer/release.sh COMMAND ARGUMENT...
Runs the release package, installer/release/. Its commands:
  make OPTIONS...             makes releases (installer/make-release.sh --help).
  describe PRODUCT [KEY]      prints a product's description as KEY=value lines, or one value.
  describe --shell PRODUCT    prints it as product_KEY=value lines, for a shell's eval.
  payload PRODUCT WHAT        lists what the product ships, a line each, where WHAT is --zip
                              (the ZIP's files, in order), --kit (the kit's own files),
                              --msi-files (each file and its MSI row) or --components (each
                              component, its key path's kind, its key path, its feature, its
                              code and the folder of the shortcut it makes).
  components LINK_MAP OWN_LIBRARIES BUILD_DIR
                              lists what a launcher is linked with, from its link map.
  licence-files SOURCE        lists the licence files of a Debian source package that the
                              release reads, for tools/setup.sh to keep.
  version-resource PROGRAM    prints a program's version resource as name=value lines.
  bump-lock [--downgrade]     rewrites toolchain.lock with this machine's versions, keeping its
                              comments and order, and says what moved and which workarounds
                              cite a package that moved; a version older than the lock's is
                              kept unless --downgrade is given.
PRODUCT is a product's description (build/windows-x86/products/NAME/NAME.product).
"""


def describe(arguments: list[str]) -> None:
    if arguments[:1] == ["--shell"] and len(arguments) == 2:
        sys.stdout.write(description.as_shell(description.read(Path(arguments[1]))))
    elif len(arguments) in (1, 2):
        values = description.read(Path(arguments[0])).values()
        if len(arguments) == 2 and arguments[1] not in values:
            raise UsageError(f"a product's description has no {arguments[1]}")
        keys = arguments[1:] or list(values)
        sys.stdout.write("".join((f"{key}={values[key]}" if len(arguments) == 1 else values[key]) + "\n"
                                 for key in keys))
    else:
        raise UsageError("describe takes a product's description, and a key or --shell")


def show_payload(arguments: list[str]) -> None:
    if len(arguments) != 2:
        raise UsageError("payload takes a product's description and what to list")
    product = description.read(Path(arguments[0]))
    lines = {
        "--zip": lambda: payload.zip_names(product),
        "--kit": lambda: payload.kit_names(product),
        "--msi-files": lambda: [f"{f.name}\t{f.msi_id}" for f in payload.files(product) if f.msi_id],
        "--components": lambda: [f"{c.name}\t{c.kind.value}\t{c.key_path}\t{c.feature}\t{c.code()}\t"
                                 f"{c.shortcut_in or ''}" for c in payload.components(product)],
    }
    if arguments[1] not in lines:
        raise UsageError(f"payload lists {', '.join(lines)}, not {arguments[1]}")
    sys.stdout.write("".join(line + "\n" for line in lines[arguments[1]]()))


def run(arguments: list[str]) -> None:
    command, rest = (arguments[0], arguments[1:]) if arguments else ("--help", [])
    if command == "make":
        make(rest)
    elif command == "describe":
        describe(rest)
    elif command == "payload":
        show_payload(rest)
    elif command == "components" and len(rest) == 3:
        sys.stdout.write(components.components_list(*map(Path, rest)))
    elif command == "licence-files" and len(rest) == 1:
        sys.stdout.write("".join(path + "\n" for path in components.licence_paths(rest[0])))
    elif command == "version-resource" and len(rest) == 1:
        sys.stdout.write("".join(f"{k}={v}\n" for k, v in version_resource.read(Path(rest[0])).items()))
    elif command == "bump-lock":
        sys.stdout.write(toolchain.bump_lock(rest))
    elif command in ("-h", "--help"):
        sys.stdout.write(USAGE)
    else:
        raise UsageError(f"unknown command: {' '.join(arguments)}")


def main(arguments: list[str]) -> int:
    name = "make-release.sh" if arguments[:1] == ["make"] else "release.sh"
    try:
        run(arguments)
    except UsageError as error:
        print(f"{name}: {error}", file=sys.stderr)
        sys.stderr.write(MAKE_USAGE if name == "make-release.sh" else USAGE)
        return 2
    except ReleaseError as error:
        print(f"{name}: {error}", file=sys.stderr)
        return 1
    return 0
