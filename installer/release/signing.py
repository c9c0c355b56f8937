"""Signing a release: the launcher before it is packed and the MSI after it
is built with osslsigncode (Authenticode), and each release's sums with
minisign; and the sums themselves."""

from __future__ import annotations

import base64
import binascii
import hashlib
import shutil
import subprocess
from pathlib import Path

from .errors import ReleaseError

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


def sign_authenticode(options: list[str], name: str, unsigned: Path, signed: Path) -> None:
    done = subprocess.run(["osslsigncode", "sign", *options, "-n", name, "-h", "sha256", "-in", str(unsigned),
                           "-out", str(signed)], stdout=subprocess.DEVNULL)
    if done.returncode != 0:
        raise ReleaseError(f"osslsigncode could not sign {unsigned}")


def write_sums(folder: Path, names: list[str], sums: str) -> None:
    """The SHA-256 of each file, as sha256sum writes and -c reads them."""
    lines = [f"{hashlib.sha256((folder / name).read_bytes()).hexdigest()}  {name}\n" for name in names]
    (folder / sums).write_text("".join(lines), encoding="utf-8")


def sign_sums(key: Path, sums: Path, name: str, version: str) -> None:
    """The trusted comment is signed with the sums and shown by every
    verification: it says which product and version they are of. Without
    minisign's default timestamp in it, one key signs one list to the same bytes."""
    done = subprocess.run(["minisign", "-S", "-s", str(key), "-t", f"{name} {version}: SHA256SUMS of its release",
                           "-m", str(sums)], stdout=subprocess.DEVNULL)
    if done.returncode != 0:
        raise ReleaseError(f"minisign could not sign {name}'s {sums.name} with {key} (a wrong password?)")
