"""The release's command line: `make` makes each product's release (make.py;
installer/make-release.sh runs it), and the other commands answer the
scripts that check and show a release."""

from __future__ import annotations

import argparse
import dataclasses
import sys
from pathlib import Path
from collections.abc import Callable
from typing import NoReturn

from . import licences, linked, product as payload, toolchain, version_resource
from .errors import ReleaseError, UsageError
from .make import REPO, make

MAKE_USAGE = """\
Usage: installer/make-release.sh --product FILE [--product FILE...] --out FOLDER
           [--deps FOLDER] [--kit FILE --kit-out FOLDER] [--allow-uncommitted]
           [--allow-other-toolchain] [--prune] [--unsigned] [--sign-sums SECRET_KEY_FILE]
           [--without-timestamp] [--sign OSSLSIGNCODE_OPTION...]
Makes the release of each product given, from its built launcher, in a folder
of its own below the release folder, and nothing else there:
  NAME-VERSION.msi            the installer (installer/product.wxs and the product's payload);
  NAME-VERSION-win32.zip      the launcher, INSTALL.txt and THIRD-PARTY-NOTICES.txt;
  NAME-VERSION.spdx.json      the bill of materials of the release (SPDX 2.3);
  NAME-VERSION.cdx.json       the same in CycloneDX 1.6, for the tools that read it alone;
  NAME-VERSION-source.tar.xz  the Corresponding Source: this project's files, what they
                              were made from (release-inputs), and Debian's source
                              packages as build/deps holds them;
  NAME-VERSION.winget/        the MSI's winget manifest (version 1.10.0), its release notes
                              CHANGELOG.md's section "## NAME VERSION";
  NAME-VERSION.SHA256SUMS     the sums of those files, as sha256sum -c reads them, named for
                              the release, as every release is published at one address;
  NAME-VERSION.SHA256SUMS.minisig  with --sign-sums, minisign's signature of the sums;
  NAME-VERSION-EXECUTABLE.exe.p7s, NAME-VERSION.msi.p7s  with --sign, the launcher's and
                              the MSI's Authenticode signatures apart, which the source
                              archive carries too, for its rebuild to attach;
  NAME-VERSION.UNSIGNED.txt   in a release not wholly signed, what of it is not, as
                              INSTALL.txt says too;
and, with --kit, each product's Windows test kit NAME-VERSION-windows-tests.zip
in the kit folder (not part of the release), with the release's own launcher.
It works in a git clone and in an unpacked source archive alike, and releases
only what is committed (or, in an archive, what the archive holds). Each file
depends only on the product's description and launcher, the sources, the
set-up's Debian source packages and SOURCE_DATE_EPOCH, so two builds of one
commit give identical files. What it cannot account for stops it before
anything is put in the folder.
  --product     a product's description, as the build writes it from the product
                table (build/windows-x86/products/NAME/NAME.product).
  --out         the release folder; each product's release goes into the folder
                named after it there, which is new, empty, or an earlier release.
  --deps        where tools/setup.sh keeps Debian's source packages (by default
                build/deps of this clone).
  --kit         the list of the test kit's other files, as the build writes it
                (build/windows-x86/windows-test-kit.files).
  --kit-out     where the test kits go (build/windows-x86, beside the release).
  --allow-uncommitted  makes a test release of a tree with changes that are not
                committed (or files git neither keeps nor ignores), marked as one
                in its notices, INSTALL.txt, the MSI's comments, the bill of
                materials and the source archive's release-inputs; without it,
                such a tree is refused.
  --allow-other-toolchain  makes a signed or tagged release with Debian packages
                at other versions than toolchain.lock names, which such a
                release is refused without; any other release is made with
                them, says so, and is marked as made with them in its source
                archive's release-inputs, which records the versions used.
  --prune       removes from --out the release folders of products not given, and
                from --kit-out the test kits of products or versions not given.
  --unsigned    releases a version whose commit carries its tag (NAME-VERSION) without
                --sign-sums or --sign, which such a release is refused without;
                its changelog section must then cite NAME-VERSION.UNSIGNED.txt.
  --sign-sums   signs each release's sums with this minisign secret key, into
                NAME-VERSION.SHA256SUMS.minisig; minisign asks for the key's
                password, once for each product. It must come before --sign.
  --without-timestamp  lets --sign sign without a timestamp; it must come before
                --sign. Such a signature dies with its certificate.
  --sign        signs the launcher before it is packed and the MSI after it is
                built; every option after it goes to osslsigncode sign
                (certificate, key, timestamp server), so it must come last. One
                of osslsigncode's -ts, -t or -TSA-certs, which timestamp the
                signatures, is required unless --without-timestamp is given.
An older release to try upgrades with is a test release made from the launcher
the build makes at an older version (docs/windows.md, "By hand").
SOURCE_DATE_EPOCH, if set, must be the time of the commit the sources come
from: the source archive records it, and a rebuild dates its files with it.
In the unpacked source archive of a signed release, the release is made with
the signatures the archive carries, attached, and so gives the signed release.
"""

OUR_OPTIONS = {"--product", "--out", "--deps", "--kit", "--kit-out", "--without-timestamp", "--allow-uncommitted",
               "--allow-other-toolchain", "--prune", "--sign-sums", "--unsigned"}
@dataclasses.dataclass
class Options:
    """What make-release.sh is asked to do."""

    products: list[Path]
    out: Path
    deps: Path
    kit: Path | None
    kit_out: Path | None
    allow_uncommitted: bool
    allow_other_toolchain: bool
    prune: bool
    unsigned: bool  # a tagged version may be released not wholly signed
    sums_key: Path | None
    timestamped: bool
    sign: list[str] | None  # osslsigncode's options; None: not signed


class Parser(argparse.ArgumentParser):
    """Options that cannot be are said with the release's usage."""

    def error(self, message: str) -> NoReturn:
        raise UsageError(message)


def parse_make(arguments: list[str]) -> Options:
    if "--sign" in arguments:
        at = arguments.index("--sign")
        arguments, sign = arguments[:at], arguments[at + 1:]
        misplaced = [option for option in sign if option in OUR_OPTIONS]
        if misplaced:
            raise UsageError(f"--sign must come last: {misplaced[0]}, after it, would go to osslsigncode")
    else:
        sign = None
    parser = Parser(prog="make-release.sh", add_help=False, allow_abbrev=False)
    parser.add_argument("--product", action="append", type=Path, default=[])
    for option in ("--out", "--deps", "--kit", "--kit-out", "--sign-sums"):
        parser.add_argument(option, type=Path)
    for flag in ("--without-timestamp", "--allow-uncommitted", "--allow-other-toolchain", "--prune", "--unsigned"):
        parser.add_argument(flag, action="store_true")
    given = parser.parse_args(arguments)
    missing = [name for name, value in (("--product", given.product), ("--out", given.out)) if not value]
    if given.kit and not given.kit_out:
        missing.append("--kit-out")
    if missing:
        raise UsageError(f"missing {' '.join(missing)}")
    return Options(given.product, given.out, given.deps or REPO / "build" / "deps", given.kit, given.kit_out,
                   given.allow_uncommitted, given.allow_other_toolchain, given.prune, given.unsigned,
                   given.sign_sums, not given.without_timestamp, sign)




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
        sys.stdout.write(payload.as_shell(payload.read(Path(arguments[1]))))
    elif len(arguments) in (1, 2):
        values = payload.read(Path(arguments[0])).values()
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
    product = payload.read(Path(arguments[0]))
    lines: dict[str, Callable[[], list[str]]] = {
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
    if command == "make" and rest[:1] in (["-h"], ["--help"]):
        sys.stdout.write(MAKE_USAGE)
    elif command == "make":
        make(parse_make(rest))
    elif command == "describe":
        describe(rest)
    elif command == "payload":
        show_payload(rest)
    elif command == "components" and len(rest) == 3:
        sys.stdout.write(linked.components_list(Path(rest[0]), Path(rest[1]), Path(rest[2])))
    elif command == "licence-files" and len(rest) == 1:
        sys.stdout.write("".join(path + "\n" for path in licences.licence_paths(rest[0])))
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
