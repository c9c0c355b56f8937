"""What of a release is signed, and what the release says of it: its sums,
signed with minisign, and its launcher and MSI, with Authenticode; a release
that is not signed, or only in part, says so wherever a customer reads of
its signatures.

An Authenticode signature is also kept apart, so that a rebuild from the
source archive gives the signed release to the bit: the PKCS#7 blob
osslsigncode extract-signature takes from a signed file (the signer's
certificates, the signed digest of the file and the timestamp authority's
countersignature), which, attached to the same unsigned bytes (osslsigncode
attach-signature), gives the signed file again, byte for byte. The MSI's
digest covers every stream of the package, its cabinet and so the signed
launcher in it too: the launcher's signature is attached before the MSI is
built, and the MSI's after. Neither needs the key, the certificate's
authority or the timestamp authority: whoever rebuilds has none of them."""

from __future__ import annotations

import base64
import binascii
import dataclasses
import hashlib
import shutil
import tempfile
import textwrap
from collections.abc import Mapping
from pathlib import Path

from . import programs
from .errors import ReleaseError
from .product import Product
from .winget import release_notes

# What osslsigncode needs to timestamp a signature: without one it dies with its certificate.
TIMESTAMP_OPTIONS = ("-ts", "-t", "-TSA-certs")
# A minisign secret key's second line, decoded; a public key's is 42 bytes.
SECRET_KEY_BYTES = 158
DIGEST = "sha256"
# The DER of a DigestInfo's SHA-256 algorithm and the start of its digest:
# what a signature says the file's digest is follows it.
SHA256_DIGEST_INFO = bytes.fromhex("300d060960864801650304020105000420")


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


def sums(files: Mapping[str, bytes]) -> bytes:
    """The SHA-256 of each file, as sha256sum writes and -c reads them."""
    return "".join(f"{hashlib.sha256(content).hexdigest()}  {name}\n" for name, content in files.items()).encode()


def sign_sums(key: Path, listed: bytes, product: Product) -> bytes:
    """minisign's signature of the sums. The trusted comment is signed with
    the sums and shown by every verification: it says which product and
    version they are of. Without minisign's default timestamp in it, one key
    signs one list to the same bytes."""
    with tempfile.TemporaryDirectory() as folder:
        sums_file = Path(folder) / f"{product.base}.SHA256SUMS"
        sums_file.write_bytes(listed)
        programs.interactive(["minisign", "-S", "-s", key, "-t", f"{product.name} {product.version}: SHA256SUMS "
                              "of its release", "-m", sums_file], f"minisign could not sign {product.name}'s sums "
                             f"with {key} (a wrong password?)")
        return sums_file.with_name(sums_file.name + ".minisig").read_bytes()


@dataclasses.dataclass(frozen=True)
class Signatures:
    """What of one release is signed: its sums (minisign), and its launcher
    and MSI (Authenticode)."""

    sums: bool
    authenticode: bool

    @property
    def complete(self) -> bool:
        return self.sums and self.authenticode


def launcher_signature(product: Product) -> str:
    """The launcher's Authenticode signature, published beside the release."""
    return f"{product.base}-{product.launcher_file}.p7s"


def msi_signature(product: Product) -> str:
    return f"{product.base}.msi.p7s"


def unsigned_note_name(product: Product) -> str:
    return f"{product.base}.UNSIGNED.txt"


def statement(product: Product, signatures: Signatures) -> str:
    """What of the release is signed, in the words INSTALL.txt and the note
    beside the sums give it: none of them points to a signature that is not there."""
    lead = "" if signatures.complete else \
        "This release is signed only in part. " if signatures.sums or signatures.authenticode else \
        "This release is not signed. "
    sums = f"{product.base}.SHA256SUMS.minisig, beside the sums, is their minisign signature: check it first, " \
        "with the publisher's minisign key." if signatures.sums else \
        f"The sums are not signed (there is no {product.base}.SHA256SUMS.minisig): they show that a file is " \
        "the one published beside them, not who published it."
    code = f"{product.launcher_file} and the installer {product.base}.msi carry the publisher's Authenticode " \
        "signature, timestamped, which Windows checks." if signatures.authenticode else \
        f"Neither {product.launcher_file} nor the installer {product.base}.msi carries an Authenticode " \
        "signature: Windows names no publisher for them."
    return f"{lead}{sums} {code}"


def unsigned_note(product: Product, signatures: Signatures) -> dict[str, bytes]:
    """The note beside the sums of a release not wholly signed, which the sums
    list, by its name; CR LF line ends, as INSTALL.txt's."""
    if signatures.complete:
        return {}
    title = f"{product.name} {product.version}: what of this release is signed"
    text = f"{title}\n{'=' * len(title)}\n\n{textwrap.fill(statement(product, signatures), 78)}\n"
    return {unsigned_note_name(product): text.replace("\n", "\r\n").encode()}


def _osslsigncode(*arguments: str | Path) -> bool:
    return programs.run(["osslsigncode", *arguments], answers=range(256)).returncode == 0


def _digest_info(unsigned: Path) -> bytes:
    """The DigestInfo a signature of the file must carry, as osslsigncode computes it."""
    data = unsigned.with_name(unsigned.name + ".data")
    if not _osslsigncode("extract-data", "-h", DIGEST, "-in", unsigned, "-out", data):
        raise ReleaseError(f"osslsigncode could not read {unsigned.name} to attach a signature to it")
    content = data.read_bytes()
    at = content.find(SHA256_DIGEST_INFO)
    return content[at:at + len(SHA256_DIGEST_INFO) + 32] if at >= 0 else b""


def _attached(detached: Path, unsigned: Path, signed: Path) -> bool:
    """Whether the signature, attached to the file, is the file's. Its chain is
    not judged here: osslsigncode's verdict on it (its exit status) needs the
    authorities that vouch for the certificate, which a rebuild must not need,
    and the customer's check judges it."""
    signed.unlink(missing_ok=True)
    _osslsigncode("attach-signature", "-sigin", detached, "-in", unsigned, "-out", signed)
    digest = _digest_info(unsigned)
    return signed.is_file() and digest != b"" and digest in detached.read_bytes()


@dataclasses.dataclass(frozen=True)
class Signer:
    """Where a release's launcher and MSI get their signatures from: made with
    osslsigncode's options, or, in a rebuild of a signed release, the ones its
    source archive carries (`carried`)."""

    options: list[str] | None
    carried: Path | None
    description: str

    def apply(self, unsigned: bytes, name: str, signature: str) -> tuple[bytes, bytes]:
        """The file `name` signed, and its signature apart, published as `signature`."""
        with tempfile.TemporaryDirectory() as folder:
            given, signed, detached = Path(folder) / name, Path(folder) / f"signed-{name}", Path(folder) / signature
            given.write_bytes(unsigned)
            if self.options is not None:
                self._sign(given, signed, detached)
            elif self.carried is not None:
                self._attach(self.carried / signature, given, signed)
                shutil.copyfile(self.carried / signature, detached)
            return signed.read_bytes(), detached.read_bytes()

    def _sign(self, unsigned: Path, signed: Path, detached: Path) -> None:
        """Signs the file and keeps its signature apart, which must give the signed
        file again: else no rebuild could give this release (an option such as
        -add-msi-dse adds to the file what the signature does not hold)."""
        programs.interactive(["osslsigncode", "sign", *(self.options or []), "-n", self.description, "-h", DIGEST,
                              "-in", unsigned, "-out", signed], f"osslsigncode could not sign {unsigned.name}")
        if not _osslsigncode("extract-signature", "-in", signed, "-out", detached):
            raise ReleaseError(f"osslsigncode could not take the signature of {unsigned.name} apart")
        again = detached.with_name(detached.name + ".attached")
        if not _attached(detached, unsigned, again) or again.read_bytes() != signed.read_bytes():
            raise ReleaseError(f"the signature of {unsigned.name}, attached to the file it signed, does not give "
                               "the signed file again, so no rebuild from the source archive could give this "
                               "release: leave out the osslsigncode options that change more than the signature")

    @staticmethod
    def _attach(detached: Path, unsigned: Path, signed: Path) -> None:
        """A rebuild's signed file: the release's signature on the file rebuilt."""
        if not detached.is_file():
            raise ReleaseError(f"the source archive of a signed release lacks {detached}, the signature it says it "
                               "carries")
        if not _attached(detached, unsigned, signed):
            raise ReleaseError(f"{detached.name} is not the signature of {unsigned.name} as rebuilt: the file "
                               "rebuilt is not the one the release signed")


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
        return (f"{product.name} {product.version} is tagged ({product.base}): its release is signed, with "
                "--sign-sums and --sign (docs/release.md, \"Releasing a version\"); give --unsigned to release it "
                f"not wholly signed, as {note} beside its sums will say")
    if section is not None and (note in section) == signatures.complete:
        said = "not wholly signed (it cites " + note + ")" if note in section else \
            f"wholly signed (it does not cite {note}, which says what is not)"
        return (f"CHANGELOG.md's section \"## {product.name} {product.version}\" says the release is {said}, but "
                "it is being made otherwise: the tagged commit's changelog says what its release is")
    return None
