"""Making each product's release (`release.sh make`, installer/make-release.sh):
its MSI, ZIP, notices, bill of materials, Corresponding Source, sums and test
kit, checked first and published last, so that whatever stops it leaves an
earlier release as it was."""

from __future__ import annotations

import dataclasses
import functools
import os
import re
import shutil
import sys
from pathlib import Path
from typing import TYPE_CHECKING

from . import (archive_licences, components, cyclonedx, notices, packing, product as payload, sbom, signing,
               source_archive, toolchain, version_resource, winget, wix)
from .errors import ReleaseError, UsageError, read_text
from .model import Release
from .product import Made, Product

if TYPE_CHECKING:
    from .cli import Options

REPO = Path(__file__).resolve().parent.parent.parent
CHANGELOG = REPO / "CHANGELOG.md"
DEP5 = REPO / ".reuse" / "dep5"

RELEASE_SUFFIXES = (".SHA256SUMS", ".SHA256SUMS.minisig", ".msi", "-win32.zip", ".spdx.json", ".cdx.json",
                    "-source.tar.xz", winget.FOLDER_SUFFIX, ".p7s", ".UNSIGNED.txt")
# An earlier release's sums, before they were named for their release.
OLD_SUMS = ("SHA256SUMS", "SHA256SUMS.minisig")


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


def check_product(product: Product) -> None:
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


def check(options: Options) -> list[Product]:
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
    products = [payload.read(path) for path in options.products]
    for product in products:
        check_product(product)
        winget.check_description(product, CHANGELOG)
    for product in products:
        foreign = foreign_file_in(options.out / product.name)
        if foreign:
            raise ReleaseError(f"{options.out / product.name} holds {foreign}, which is no release file: give a new "
                               "or empty folder")
    return products


def check_toolchain(options: Options, sources: source_archive.Sources, products: list[Product],
                    plans: list[signing.Plan], lock: list[tuple[str, str]],
                    installed: toolchain.Installed) -> list[toolchain.Difference]:
    """What differs from the lock, said in one line. Bytes that are promised
    are held to their versions: a signed or tagged release to the lock's, and
    a source archive's rebuild to those its release recorded."""
    unlike_lock = toolchain.differences(lock, installed)
    # A signature vouches for the bytes whatever the tree; a tag only for its own commit's.
    promised = [product.base for product, plan in zip(products, plans)
                if plan.signatures.sums or plan.signatures.authenticode
                or (not sources.uncommitted and source_archive.tagged(sources, product.base))]
    if sources.kind == "archive":
        unlike_record = toolchain.differences(source_archive.recorded_toolchain(sources.repo), installed, "recorded")
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


def prune(options: Options, products: list[Product]) -> None:
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


def check_one_build(sources: source_archive.Sources, product: Product) -> None:
    """One build per version: a version whose tag exists is made only from
    the commit it tags, as committed. A signed build of the very release
    tagged (signed later) is such a build; other bytes under its name, its
    product code and its winget address would replace the published ones
    both ways, so a rebuilt version is a new version. An unpacked source
    archive is the tagged release's own source, and knows of no tag."""
    tagged_at = source_archive.tag_commit(sources, product.base)
    if tagged_at is None or (tagged_at == sources.commit and not sources.uncommitted):
        return
    tree = f"commit {sources.commit}" + (" with changes not committed" if sources.uncommitted else "")
    raise ReleaseError(f"{product.base} is tagged at commit {tagged_at}, and this is {tree}: its release would be "
                       f"another {product.base}.msi, with other bytes and another product code, under the name and "
                       "winget address of the one tagged. A rebuilt version is a new version: bump VERSION in the "
                       "product table (docs/release.md, \"One build per version\")")


def plan_signing(options: Options, sources: source_archive.Sources, product: Product) -> signing.Plan:
    """How the product's release is signed; a tagged version's release is
    refused where it is not what its tag and changelog call for."""
    plan = signing.plan(product, options.sign, options.sums_key, sources.signatures_of(product.base),
                        sources.repo / source_archive.SIGNATURES_FOLDER)
    if source_archive.tagged(sources, product.base) and not sources.uncommitted:
        section = signing.changelog_section(read_text(CHANGELOG, "the changelog"), product)
        refusal = signing.tagged_refusal(product, plan.signatures, options.unsigned, section)
        if refusal:
            raise ReleaseError(refusal)
    return plan


def release_of(product: Product, options: Options, sources: source_archive.Sources,
               built_with: source_archive.Toolchain, plan: signing.Plan, epoch: int) -> Release:
    """The product's release as one value: what its launcher is made of, and
    the bytes of every file it ships, the launcher signed first when signing."""
    progress(f"{product.name} {product.version}: the launcher{', signed' if plan.signatures.authenticode else ''}, "
             "the notices")
    described = tuple(components.describe_all(product.components, options.deps))
    launcher, signatures = product.launcher.read_bytes(), {}
    if plan.authenticode:
        name = signing.launcher_signature(product)
        launcher, signatures[name] = plan.authenticode.apply(launcher, product.launcher_file, name)
    test_commit = sources.commit if sources.uncommitted else None
    contents = {
        Made.LAUNCHER: launcher,
        Made.NOTICES: notices.render(product, described, read_text(REPO / "LICENSE", "the GNU GPL's text"), epoch,
                                     test_commit),
        Made.INSTALL_TEXT: packing.install_text(product, sources.test_release_mark() if test_commit else None,
                                                plan.signatures),
        Made.EXTRA_FILE: read_extra_file(product),
    }
    packages = components.source_packages(list(described), options.deps)
    stated = archive_licences.statements(DEP5, [f"{p.name}/{p.dsc.name}" for p in packages])
    return Release(product, sources, built_with, plan, epoch, options.deps, described,
                   tuple(components.release_sources(list(described), options.deps)),
                   tuple(dataclasses.replace(p, licence=stated[f"{p.name}/{p.dsc.name}"] or "NOASSERTION")
                         for p in packages), contents, wix.icon_of(launcher, product.launcher_file), signatures)


def read_extra_file(product: Product) -> bytes:
    try:
        return product.extra_file.read_bytes() if product.extra_file else b""
    except OSError as error:
        raise ReleaseError(f"{product.extra_file}, the file {product.name} ships beside its launcher (EXTRA_FILE "
                           "in the product table), cannot be read") from error


def render(release: Release) -> dict[str, bytes]:
    """Every file of the release, by its name in the release folder, in the
    order its sums list them, each rendered from the release and the bytes
    of those rendered before it."""
    product, plan = release.product, release.signing
    progress(f"{product.name} {product.version}: {release.base}.msi")
    msi = wix.build(release)
    detached = dict(release.signatures)
    if plan.authenticode:
        name = signing.msi_signature(product)
        signed, detached[name] = plan.authenticode.apply(msi.content, f"{release.base}.msi", name)
        msi = dataclasses.replace(msi, content=signed)
    progress(f"{product.name} {product.version}: {winget.folder_name(product)}")
    manifest = winget.render(release, msi, CHANGELOG)
    progress(f"{product.name} {product.version}: {release.base}-win32.zip")
    files = {"msi": (f"{release.base}.msi", msi.content), "zip": (f"{release.base}-win32.zip",
                                                                 packing.zip_of(release))}
    progress(f"{product.name} {product.version}: {release.base}-source.tar.xz")
    licence_texts = archive_licences.texts(release.components, release.carried, DEP5,
                                           source_archive.project_files(release.sources))
    record = source_archive.Record(release.base, plan.signatures, detached)
    files["source"] = (f"{release.base}-source.tar.xz", source_archive.build(release, record, licence_texts))
    progress(f"{product.name} {product.version}: {release.base}.cdx.json, {release.base}.spdx.json")
    cdx = {f"{release.base}.cdx.json": cyclonedx.render(release, files)}
    bill = {f"{release.base}.spdx.json": sbom.render(release, files, manifest, cdx)}
    return {files["msi"][0]: files["msi"][1], files["zip"][0]: files["zip"][1], **bill, **cdx,
            files["source"][0]: files["source"][1], **manifest, **detached,
            **signing.unsigned_note(product, plan.signatures)}


def publish(release: Release, made: dict[str, bytes], options: Options) -> None:
    """The sums, and their signature, are made before the folder is touched: a
    signing that fails leaves the earlier release there as it was."""
    product = release.product
    sums = f"{release.base}.SHA256SUMS"
    published = made | {sums: signing.sums(made)}
    if release.signing.signatures.sums:
        progress(f"{product.name} {product.version}: {sums}.minisig"
                 + ("" if release.signing.sums_key else ", the published one, which signs these same sums"))
    if release.signing.sums_key:
        published[f"{sums}.minisig"] = signing.sign_sums(release.signing.sums_key, published[sums], product)
    folder = options.out / product.name
    folder.mkdir(parents=True, exist_ok=True)
    for entry in folder.iterdir():
        if is_release_file(entry.name):
            remove_release_file(entry)
    for name, content in published.items():
        (folder / name).parent.mkdir(exist_ok=True)
        (folder / name).write_bytes(content)
    progress(f"{product.name} {product.version}: released in {folder}")


def make(options: Options) -> None:
    products = check(options)
    sources = source_archive.read(REPO, options.allow_uncommitted)
    for product in products:
        check_one_build(sources, product)
    if sources.uncommitted:
        print(f"make-release.sh: warning: {sources.test_release_mark()}.", file=sys.stderr)
    plans = [plan_signing(options, sources, product) for product in products]
    # Each package asked of dpkg once, for the checks and the record alike.
    lock, installed = toolchain.read_lock(), functools.cache(toolchain.installed_version)
    unlike_lock = check_toolchain(options, sources, products, plans, lock, installed)
    built_with = source_archive.Toolchain(toolchain.as_built(lock, installed), unlike_lock)
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
        release = release_of(product, options, sources, built_with, plan, int(epoch))
        made = render(release)
        kit = f"{release.base}-windows-tests.zip"
        if options.kit:
            progress(f"{product.name} {product.version}: {kit}")
        kit_content = packing.kit_of(release, options.kit) if options.kit else None
        publish(release, made, options)
        if kit_content is not None and options.kit_out:
            options.kit_out.mkdir(parents=True, exist_ok=True)
            (options.kit_out / kit).write_bytes(kit_content)
