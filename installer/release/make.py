"""Making each product's release (`release.sh make`, installer/make-release.sh):
its MSI, ZIP, notices, bill of materials, Corresponding Source, sums and test
kit, checked first and published last, so that whatever stops it leaves an
earlier release as it was."""

from __future__ import annotations

import argparse
import dataclasses
import os
import re
import shutil
import sys
import tempfile
from pathlib import Path

from . import (archive_licences, components, description, notices, packing, payload, sbom, signing,
               source_archive, toolchain, version_resource, winget, wix)
from .errors import ReleaseError, UsageError, read_text

REPO = Path(__file__).resolve().parent.parent.parent
CHANGELOG = REPO / "CHANGELOG.md"

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
RELEASE_SUFFIXES = (".SHA256SUMS", ".SHA256SUMS.minisig", ".msi", "-win32.zip", ".spdx.json", "-source.tar.xz",
                    winget.FOLDER_SUFFIX, ".p7s", ".UNSIGNED.txt")
# An earlier release's sums, before they were named for their release.
OLD_SUMS = ("SHA256SUMS", "SHA256SUMS.minisig")


@dataclasses.dataclass
class Options:
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


def parse_make(arguments: list[str]) -> Options:
    if "--sign" in arguments:
        at = arguments.index("--sign")
        arguments, sign = arguments[:at], arguments[at + 1:]
        misplaced = [option for option in sign if option in OUR_OPTIONS]
        if misplaced:
            raise UsageError(f"--sign must come last: {misplaced[0]}, after it, would go to osslsigncode")
    else:
        sign = None
    parser = argparse.ArgumentParser(prog="make-release.sh", add_help=False, allow_abbrev=False)
    parser.error = lambda message: (_ for _ in ()).throw(UsageError(message))  # type: ignore[method-assign]
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


def is_release_file(name: str) -> bool:
    return name.endswith(RELEASE_SUFFIXES) or name in OLD_SUMS


def foreign_entries(entry: Path) -> list[str]:
    """What in a release folder's entry is no release file: a manifest folder
    holds manifest files only, and every other release file is a file."""
    if not is_release_file(entry.name):
        return [entry.name]
    if not (entry.is_dir() and not entry.is_symlink()):
        return []
    if not entry.name.endswith(winget.FOLDER_SUFFIX):
        return [entry.name]
    return [f"{entry.name}/{inner.name}" for inner in sorted(entry.iterdir())
            if not (inner.name.endswith(".yaml") and inner.is_file() and not inner.is_symlink())]


def foreign_file_in(folder: Path) -> str | None:
    """The first thing in a folder that is no release file, if any."""
    if not folder.is_dir():
        return None
    return next((name for entry in sorted(folder.iterdir()) for name in foreign_entries(entry)), None)


def remove_release_file(entry: Path) -> None:
    if entry.is_dir() and not entry.is_symlink():
        shutil.rmtree(entry)
    else:
        entry.unlink()


def check_product(product: description.Product) -> None:
    if not product.launcher.is_file():
        raise ReleaseError(f"no launcher at {product.launcher}, which {product.path} names: build it first")
    if product.launcher.read_bytes()[:2] != b"MZ":
        raise ReleaseError(f"{product.launcher}, which {product.path} names, is no Windows program")
    if not product.components.is_file():
        raise ReleaseError(f"no list of what {product.launcher} was linked with at {product.components}")
    built = version_resource.read(product.launcher).get("FileVersion", "")
    if built != product.version:
        raise ReleaseError(f"{product.name}'s version is {product.version}, but its launcher's FileVersion is "
                           f"'{built}': build again after changing the product table")
    if not re.fullmatch(r"https?://[A-Za-z0-9.-]+(:[0-9]+)?/([A-Za-z0-9._~-]+/)*", product.releases_address):
        raise ReleaseError(f"{product.path} gives no releases address, the family's place of publication "
                           "(RELEASES_ADDRESS in products/family.cmake), as an http(s) address of a folder ending "
                           f"in /: '{product.releases_address}'")
    newer = components.newer_revisions(product.components)
    if newer:
        raise ReleaseError(f"{product.name}'s launcher would be released without Debian's latest revisions of what "
                           "it is built from:\n  " + "\n  ".join(newer) + "\nUpgrade (apt-get update, then apt-get "
                           "install --only-upgrade of the package named), build again, and release "
                           "(docs/release.md, \"A newer Debian revision\")")


def check(options: Options) -> list[description.Product]:
    """Everything wrong with the options is said before anything is built."""
    if options.sign is not None:
        problem = signing.check_authenticode_options(options.sign, options.timestamped)
        if problem:
            raise UsageError(problem)
    if options.sums_key:
        signing.check_sums_key(options.sums_key)
    if options.out.exists() and not options.out.is_dir():
        raise ReleaseError(f"--out {options.out} is a file: give a new or empty folder, or an earlier release's")
    if options.kit_out and options.kit_out.exists() and not options.kit_out.is_dir():
        raise ReleaseError(f"--kit-out {options.kit_out} is a file: give a folder")
    if options.kit and not options.kit.is_file():
        raise ReleaseError(f"no list of the test kit's files at {options.kit}")
    products = [description.read(path) for path in options.products]
    for product in products:
        check_product(product)
        winget.check_description(product, CHANGELOG)
    for product in products:
        foreign = foreign_file_in(options.out / product.name)
        if foreign:
            raise ReleaseError(f"{options.out / product.name} holds {foreign}, which is no release file: give a new "
                               "or empty folder")
    return products


def check_toolchain(options: Options, sources: source_archive.Sources, products: list[description.Product],
                    plans: list[signing.Plan]) -> list[toolchain.Difference]:
    """What differs from the lock, said in one line. Bytes that are promised
    are held to their versions: a signed or tagged release to the lock's, and
    a source archive's rebuild to those its release recorded."""
    unlike_lock = toolchain.differences(toolchain.read_lock())
    promised = [signing.base(product) for product, plan in zip(products, plans)
                if plan.signatures.sums or plan.signatures.authenticode
                or source_archive.tagged(sources, signing.base(product))]
    if sources.kind == "archive":
        unlike_record = toolchain.differences(source_archive.recorded_toolchain(sources.repo), held_by="recorded")
        if unlike_record and promised and not options.allow_other_toolchain:
            raise ReleaseError(f"this source archive's release, {', '.join(promised)}, is signed, and was made with "
                               f"other Debian packages than this machine has: {toolchain.one_line(unlike_record)}. "
                               "Its files cannot be made again with these: install the versions release-inputs "
                               "records (docs/release.md, \"Rebuilding from the source archive\")")
        if unlike_record:
            print("make-release.sh: warning: the files made will differ from this source archive's release, "
                  f"made with other Debian packages: {toolchain.one_line(unlike_record)}", file=sys.stderr)
    elif unlike_lock and promised and not options.allow_other_toolchain:
        raise ReleaseError(f"{', '.join(promised)} is signed or tagged, and its bytes are promised with the "
                           f"toolchain toolchain.lock names, not with this machine's: {toolchain.one_line(unlike_lock)}."
                           " Bump the lock in a commit of its own once every test passes with these "
                           "(docs/maintaining.md, \"Bumping the toolchain lock\"), or give --allow-other-toolchain")
    if unlike_lock:
        progress("made with other Debian packages than toolchain.lock names, as each source archive's "
                 f"release-inputs records: {toolchain.one_line(unlike_lock)}")
    return unlike_lock


def progress(message: str) -> None:
    print(f"make-release.sh: {message}", flush=True)


def prune(options: Options, products: list[description.Product]) -> None:
    """What an earlier release left of products or versions no longer given.
    A folder of --out goes only if it holds release files and nothing else."""
    names = {product.name for product in products}
    for folder in sorted(options.out.glob("*/")) if options.out.is_dir() else []:
        if folder.name not in names and foreign_file_in(folder) is None:
            progress(f"removing {folder}: no product given has its release there")
            shutil.rmtree(folder)
    kits = {f"{product.name}-{product.version}-windows-tests.zip" for product in products}
    for kit in sorted(options.kit_out.glob("*-windows-tests.zip")) if options.kit_out else []:
        if kit.name not in kits:
            progress(f"removing {kit}: no product given has that kit")
            kit.unlink()


@dataclasses.dataclass(frozen=True)
class Release:
    """One product's release, as it is made and published."""

    product: description.Product
    sources: source_archive.Sources
    options: Options
    epoch: int
    toolchain: source_archive.Toolchain
    signing: signing.Plan

    @property
    def base(self) -> str:
        return f"{self.product.name}-{self.product.version}"

    def files(self) -> dict[str, str]:
        return {"msi": f"{self.base}.msi", "zip": f"{self.base}-win32.zip", "source": f"{self.base}-source.tar.xz"}


def plan_signing(options: Options, sources: source_archive.Sources, product: description.Product) -> signing.Plan:
    """How the product's release is signed; a tagged version's release is
    refused where it is not what its tag and changelog call for."""
    plan = signing.plan(product, options.sign, options.sums_key, sources.signatures_of(signing.base(product)),
                        sources.repo / source_archive.SIGNATURES_FOLDER)
    if source_archive.tagged(sources, signing.base(product)) and not sources.uncommitted:
        section = signing.changelog_section(read_text(CHANGELOG, "the changelog"), product)
        refusal = signing.tagged_refusal(product, plan.signatures, options.unsigned, section)
        if refusal:
            raise ReleaseError(refusal)
    return plan


def msi_comments(release: Release) -> str:
    """What the product is, for Add/Remove Programs."""
    if release.sources.uncommitted:
        return f"{release.sources.test_release_mark()}: starts {release.product.host} for {release.product.name}."
    return f"Starts {release.product.host} for {release.product.name}."


def stage_launcher(release: Release, stage: Path) -> Path:
    """The launcher every file of the release and the kit is made from: signed first, when signing."""
    staged = stage / release.product.launcher_file
    if release.signing.authenticode:
        release.signing.authenticode.apply(release.product.launcher, staged,
                                           stage / signing.launcher_signature(release.product))
    else:
        shutil.copyfile(release.product.launcher, staged)
    return staged


def build_msi(release: Release, stage: Path, name: str) -> None:
    """The MSI, built from the staged launcher, and signed after."""
    wix.extract_icon(stage / release.product.launcher_file, stage / "product.ico")
    wix.build(release.product, stage, name, msi_comments(release), release.epoch)
    if release.signing.authenticode:
        (stage / name).rename(stage / "unsigned.msi")
        release.signing.authenticode.apply(stage / "unsigned.msi", stage / name,
                                           stage / signing.msi_signature(release.product))


def make_product(release: Release, stage: Path) -> list[str]:
    """Every file of one product's release in the stage; their names."""
    product, options, epoch = release.product, release.options, release.epoch
    test_commit = release.sources.commit if release.sources.uncommitted else None
    files = release.files()
    signed = release.signing.signatures
    progress(f"{product.name} {product.version}: the launcher{', signed' if signed.authenticode else ''}, "
             "the notices")
    launcher = stage_launcher(release, stage)
    described = components.describe_all(product.components, options.deps)
    release_sources = components.release_sources(described, options.deps)
    licence_texts = archive_licences.texts(described, release_sources, REPO / ".reuse" / "dep5",
                                           source_archive.project_files(release.sources))
    (stage / payload.NOTICES).write_bytes(notices.render(product, described, read_text(REPO / "LICENSE",
                                          "the GNU GPL's text"), epoch, test_commit))
    progress(f"{product.name} {product.version}: {files['msi']}")
    build_msi(release, stage, files["msi"])
    signing_files = signing.write_signatures(product, signed, stage)
    progress(f"{product.name} {product.version}: {winget.folder_name(product)}")
    manifest = winget.write(product, stage / files["msi"], CHANGELOG, stage)
    progress(f"{product.name} {product.version}: {files['zip']}")
    mark = release.sources.test_release_mark() if release.sources.uncommitted else None
    packing.build_zip(product, stage, stage / files["zip"], mark, signed, epoch)
    progress(f"{product.name} {product.version}: {files['source']}")
    detached = [stage / name for name in signing_files if name.endswith(".p7s")]
    source_archive.build(release.sources, source_archive.Record(release.base, signed, detached), stage,
                         stage / files["source"], options.deps, release_sources, release.toolchain, epoch,
                         licence_texts)
    sbom_name = f"{release.base}.spdx.json"
    progress(f"{product.name} {product.version}: {sbom_name}")
    (stage / sbom_name).write_text(sbom.render(product, launcher, described, epoch,
                                               {kind: stage / name for kind, name in files.items()}, test_commit,
                                               payload.launcher_in(product),
                                               {name: stage / name for name in manifest}), encoding="utf-8")
    if options.kit:
        kit = f"{release.base}-windows-tests.zip"
        progress(f"{product.name} {product.version}: {kit}")
        packing.build_kit(product, stage, stage / kit, options.kit, epoch)
    return [files["msi"], files["zip"], sbom_name, files["source"], *manifest, *signing_files]


def publish(release: Release, stage: Path, names: list[str]) -> None:
    """The sums, and their signature, are made before the folder is touched: a
    signing that fails leaves the earlier release there as it was."""
    product, options = release.product, release.options
    sums = f"{release.base}.SHA256SUMS"
    signing.write_sums(stage, names, sums)
    if release.signing.signatures.sums:
        progress(f"{product.name} {product.version}: {sums}.minisig"
                 + ("" if release.signing.sums_key else ", the published one, which signs these same sums"))
    published = names + [sums] + signing.sign_release_sums(release.signing.sums_key, stage / sums, product)
    folder = options.out / product.name
    folder.mkdir(parents=True, exist_ok=True)
    for entry in folder.iterdir():
        if is_release_file(entry.name):
            remove_release_file(entry)
    for name in published:
        (folder / name).parent.mkdir(exist_ok=True)
        shutil.copyfile(stage / name, folder / name)
    if options.kit and options.kit_out:
        kit = f"{release.base}-windows-tests.zip"
        options.kit_out.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(stage / kit, options.kit_out / kit)
    progress(f"{product.name} {product.version}: released in {folder}")


def make(arguments: list[str]) -> None:
    if arguments and arguments[0] in ("-h", "--help"):
        sys.stdout.write(MAKE_USAGE)
        return
    options = parse_make(arguments)
    products = check(options)
    sources = source_archive.read(REPO, options.allow_uncommitted)
    if sources.uncommitted:
        print(f"make-release.sh: warning: {sources.test_release_mark()}.", file=sys.stderr)
    plans = [plan_signing(options, sources, product) for product in products]
    unlike_lock = check_toolchain(options, sources, products, plans)
    built_with = source_archive.Toolchain(toolchain.as_built(toolchain.read_lock()), unlike_lock)
    # Archive formats keep local times: UTC makes them the same wherever this runs.
    os.environ["TZ"] = "UTC"
    epoch = os.environ.get("SOURCE_DATE_EPOCH", str(sources.commit_time))
    if epoch != str(sources.commit_time):
        raise ReleaseError(f"SOURCE_DATE_EPOCH is {epoch}, not the time of the commit ({sources.commit_time}), "
                           "which the source archive records: configure the build again (cmake --preset "
                           "windows-x86), or leave SOURCE_DATE_EPOCH unset")
    os.environ["SOURCE_DATE_EPOCH"] = epoch
    if options.prune:
        prune(options, products)
    for product, plan in zip(products, plans):
        release = Release(product, sources, options, int(epoch), built_with, plan)
        with tempfile.TemporaryDirectory() as stage:
            publish(release, Path(stage), make_product(release, Path(stage)))

