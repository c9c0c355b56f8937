"""The Authenticode signatures of a release's launcher and MSI, made with
osslsigncode and kept apart as well, so that a rebuild from the source
archive gives the signed release to the bit.

A signature is the PKCS#7 blob osslsigncode extract-signature takes from a
signed file: the signer's certificates, the signed digest of the file and the
timestamp authority's countersignature. Attached to the same unsigned bytes
(osslsigncode attach-signature), it gives the signed file again, byte for
byte. The MSI's digest covers every stream of the package, its cabinet and
so the signed launcher in it too: the launcher's signature is attached before
the MSI is built, and the MSI's after. Neither needs the key, the
certificate's authority or the timestamp authority: whoever rebuilds has none
of them."""

from __future__ import annotations

import dataclasses
import shutil
import subprocess
import tempfile
from pathlib import Path

from .errors import ReleaseError

DIGEST = "sha256"
# The DER of a DigestInfo's SHA-256 algorithm and the start of its digest:
# what a signature says the file's digest is follows it.
SHA256_DIGEST_INFO = bytes.fromhex("300d060960864801650304020105000420")


def _osslsigncode(*arguments: str | Path) -> bool:
    return subprocess.run(["osslsigncode", *map(str, arguments)], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def _digest_info(unsigned: Path) -> bytes:
    """The DigestInfo a signature of the file must carry, as osslsigncode computes it."""
    with tempfile.TemporaryDirectory() as folder:
        data = Path(folder) / "data"
        if not _osslsigncode("extract-data", "-h", DIGEST, "-in", unsigned, "-out", data):
            raise ReleaseError(f"osslsigncode could not read {unsigned} to attach a signature to it")
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


def sign(options: list[str], description: str, unsigned: Path, signed: Path, detached: Path) -> None:
    """Signs the file and keeps its signature apart, which must give the signed
    file again: else no rebuild could give this release (an option such as
    -add-msi-dse adds to the file what the signature does not hold)."""
    done = subprocess.run(["osslsigncode", "sign", *options, "-n", description, "-h", DIGEST, "-in", str(unsigned),
                           "-out", str(signed)], stdout=subprocess.DEVNULL)
    if done.returncode != 0:
        raise ReleaseError(f"osslsigncode could not sign {unsigned}")
    if not _osslsigncode("extract-signature", "-in", signed, "-out", detached):
        raise ReleaseError(f"osslsigncode could not take the signature of {signed} apart")
    again = detached.with_name(detached.name + ".attached")
    if not _attached(detached, unsigned, again) or again.read_bytes() != signed.read_bytes():
        raise ReleaseError(f"the signature of {signed.name}, attached to the file it signed, does not give the "
                           "signed file again, so no rebuild from the source archive could give this release: "
                           "leave out the osslsigncode options that change more than the signature")
    again.unlink()


def attach(detached: Path, unsigned: Path, signed: Path) -> None:
    """A rebuild's signed file: the release's signature on the file rebuilt."""
    if not detached.is_file():
        raise ReleaseError(f"the source archive of a signed release lacks {detached}, the signature it says it "
                           "carries")
    if not _attached(detached, unsigned, signed):
        raise ReleaseError(f"{detached.name} is not the signature of {unsigned}: the file rebuilt is not the one "
                           "the release signed (another toolchain than its release-inputs records?)")


@dataclasses.dataclass(frozen=True)
class Signer:
    """Where a release's launcher and MSI get their signatures from: made with
    osslsigncode's options, or, in a rebuild of a signed release, the ones its
    source archive carries (`carried`)."""

    options: list[str] | None
    carried: Path | None
    description: str

    def apply(self, unsigned: Path, signed: Path, detached: Path) -> None:
        """The signed file, and its signature apart in `detached`."""
        if self.options is not None:
            sign(self.options, self.description, unsigned, signed, detached)
        elif self.carried is not None:
            attach(self.carried / detached.name, unsigned, signed)
            shutil.copyfile(self.carried / detached.name, detached)
