"""What of a release is signed, and what the release says of it: its sums,
signed with minisign, and its launcher and MSI, with Authenticode
(authenticode.py); a release that is not signed, or only in part, says so
wherever a customer reads of its signatures."""

from __future__ import annotations

import base64
import binascii
import dataclasses
import hashlib
import shutil
import subprocess
import textwrap
from pathlib import Path

from .authenticode import Signer
from .description import Product
from .errors import ReleaseError
from .winget import release_notes

# What osslsigncode needs to timestamp a signature: without one it dies with its certificate.
TIMESTAMP_OPTIONS = ("-ts", "-t", "-TSA-certs")
# A minisign secret key's second line, decoded; a public key's is 42 bytes.
SECRET_KEY_BYTES = 158


def check_authenticode_options(options: list[str], timestamped: bool) -> str | None:
    """What is wrong with the options given to osslsigncode, if anything."""
    if not options:
        return "--sign needs osslsigncode options (certificate, key, timestamp server)"
    if timestamped and not any(option in TIMESTAMP_OPTIONS for option in options):
        return ("--sign without a timestamp server (-ts URL): the signatures would die with the certificate. "
                "Give --without-timestamp before --sign to sign so all the same.")
    return None


def check_sums_key(key: Path) -> None:
    """A key that cannot sign would be found out only after the first product is built."""
    if not key.is_file():
        raise ReleaseError(f"--sign-sums {key}: no such file, to sign the sums with")
    lines = key.read_text(encoding="utf-8", errors="replace").splitlines()
    try:
        decoded = base64.b64decode(lines[1], validate=True) if len(lines) > 1 else b""
    except binascii.Error:
        decoded = b""
    if len(decoded) != SECRET_KEY_BYTES:
        raise ReleaseError(f"--sign-sums {key} is no minisign secret key (minisign -G writes one; a public key "
                           "cannot sign)")
    if shutil.which("minisign") is None:
        raise ReleaseError("no minisign to sign the sums with: run tools/setup.sh")


def write_sums(folder: Path, names: list[str], sums: str) -> None:
    """The SHA-256 of each file, as sha256sum writes and -c reads them."""
    lines = [f"{hashlib.sha256((folder / name).read_bytes()).hexdigest()}  {name}\n" for name in names]
    (folder / sums).write_text("".join(lines), encoding="utf-8")


def sign_release_sums(key: Path | None, sums: Path, product: Product) -> list[str]:
    """The sums' signature beside them, when there is a key: the names it adds."""
    if key is None:
        return []
    sign_sums(key, sums, product.name, product.version)
    return [f"{sums.name}.minisig"]


def sign_sums(key: Path, sums: Path, name: str, version: str) -> None:
    """The trusted comment is signed with the sums and shown by every
    verification: it says which product and version they are of. Without
    minisign's default timestamp in it, one key signs one list to the same bytes."""
    done = subprocess.run(["minisign", "-S", "-s", str(key), "-t", f"{name} {version}: SHA256SUMS of its release",
                           "-m", str(sums)], stdout=subprocess.DEVNULL)
    if done.returncode != 0:
        raise ReleaseError(f"minisign could not sign {name}'s {sums.name} with {key} (a wrong password?)")


@dataclasses.dataclass(frozen=True)
class Signatures:
    """What of one release is signed: its sums (minisign), and its launcher
    and MSI (Authenticode)."""

    sums: bool
    authenticode: bool

    @property
    def complete(self) -> bool:
        return self.sums and self.authenticode


def base(product: Product) -> str:
    return f"{product.name}-{product.version}"


def launcher_signature(product: Product) -> str:
    """The launcher's Authenticode signature, published beside the release."""
    return f"{base(product)}-{product.launcher_file}.p7s"


def msi_signature(product: Product) -> str:
    return f"{base(product)}.msi.p7s"


def unsigned_note_name(product: Product) -> str:
    return f"{base(product)}.UNSIGNED.txt"


def statement(product: Product, signatures: Signatures) -> str:
    """What of the release is signed, in the words INSTALL.txt and the note
    beside the sums give it: none of them points to a signature that is not there."""
    lead = "" if signatures.complete else \
        "This release is signed only in part. " if signatures.sums or signatures.authenticode else \
        "This release is not signed. "
    sums = f"{base(product)}.SHA256SUMS.minisig, beside the sums, is their minisign signature: check it first, " \
        "with the publisher's minisign key." if signatures.sums else \
        f"The sums are not signed (there is no {base(product)}.SHA256SUMS.minisig): they show that a file is " \
        "the one published beside them, not who published it."
    code = f"{product.launcher_file} and the installer {base(product)}.msi carry the publisher's Authenticode " \
        "signature, timestamped, which Windows checks." if signatures.authenticode else \
        f"Neither {product.launcher_file} nor the installer {base(product)}.msi carries an Authenticode " \
        "signature: Windows names no publisher for them."
    return f"{lead}{sums} {code}"


def unsigned_note(product: Product, signatures: Signatures) -> bytes | None:
    """The note beside the sums of a release not wholly signed, which the sums
    list; CR LF line ends, as INSTALL.txt's."""
    if signatures.complete:
        return None
    title = f"{product.name} {product.version}: what of this release is signed"
    text = f"{title}\n{'=' * len(title)}\n\n{textwrap.fill(statement(product, signatures), 78)}\n"
    return text.replace("\n", "\r\n").encode()


@dataclasses.dataclass(frozen=True)
class Plan:
    """How one product's release comes by its signatures."""

    signatures: Signatures  # what of it is signed, as it says
    authenticode: Signer | None
    sums_key: Path | None  # None in a rebuild of signed sums: their published signature signs the same sums


def plan(product: Product, sign: list[str] | None, sums_key: Path | None, recorded: Signatures | None,
         carried: Path) -> Plan:
    """The signing of the options; in a rebuild of a signed release (`recorded`
    by its source archive), the signatures the archive carries, attached."""
    recorded = recorded or Signatures(sums=False, authenticode=False)
    if recorded.authenticode and sign is not None:
        raise ReleaseError(f"this source archive is that of {product.name} {product.version}'s signed release: its "
                           "rebuild attaches the signatures it carries, and --sign would make another release")
    signer = Signer(sign, None, product.name) if sign is not None else \
        Signer(None, carried, product.name) if recorded.authenticode else None
    return Plan(Signatures(sums=sums_key is not None or recorded.sums, authenticode=signer is not None), signer,
                sums_key)


def changelog_section(changelog: str, product: Product) -> str | None:
    """The changelog's section for the product's version, if it has one."""
    if f"## {product.name} {product.version}" not in (line.rstrip() for line in changelog.splitlines()):
        return None
    return release_notes(changelog, product.name, product.version)


def tagged_refusal(product: Product, signatures: Signatures, unsigned_allowed: bool, section: str | None) -> str | None:
    """What stops the release of a tagged version: one not wholly signed
    without --unsigned, or one other than its changelog section says it is
    (which cites the note beside the sums of a release not wholly signed)."""
    note = unsigned_note_name(product)
    if not signatures.complete and not unsigned_allowed:
        return (f"{product.name} {product.version} is tagged ({base(product)}): its release is signed, with "
                "--sign-sums and --sign (docs/release.md, \"Releasing a version\"); give --unsigned to release it "
                f"not wholly signed, as {note} beside its sums will say")
    if section is not None and (note in section) == signatures.complete:
        said = "not wholly signed (it cites " + note + ")" if note in section else \
            f"wholly signed (it does not cite {note}, which says what is not)"
        return (f"CHANGELOG.md's section \"## {product.name} {product.version}\" says the release is {said}, but "
                "it is being made otherwise: the tagged commit's changelog says what its release is")
    return None


def write_signatures(product: Product, signatures: Signatures, stage: Path) -> list[str]:
    """The note of what is not signed, beside the Authenticode signatures
    kept apart in the stage: the names of those there, for the sums."""
    note = unsigned_note(product, signatures)
    if note is not None:
        (stage / unsigned_note_name(product)).write_bytes(note)
    names = [launcher_signature(product), msi_signature(product), unsigned_note_name(product)]
    return [name for name in names if (stage / name).is_file()]
