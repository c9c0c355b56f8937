#!/usr/bin/env bash
# Makes the release files of a built launcher in one folder:
#   Tessalune-<version>.msi          the installer (Tessalune.wxs)
#   Tessalune-<version>-win32.zip    the launcher, its SHA-256 and INSTALL.txt
#   SHA256SUMS                       of both, as sha256sum -c reads them
# Each file depends only on the launcher, the version, the sources here and
# SOURCE_DATE_EPOCH, so two builds of one commit give identical files.
#
# With --sign, the launcher is signed before it is packed and the MSI after it
# is built; what follows --sign goes to osslsigncode (certificate, key,
# timestamp server).
#
# Usage: make-release.sh --launcher Tessalune.exe --out FOLDER [--version X.Y.Z] [--sign OPTION...]
#   --version   defaults to the launcher's own file version
#   SOURCE_DATE_EPOCH defaults to the time of the source tree's last commit
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
launcher="" out="" version="" sign=()

while [ $# -gt 0 ]; do
    case $1 in
        --launcher) launcher=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --version) version=$2; shift 2 ;;
        --sign) shift; sign=("$@"); [ ${#sign[@]} -gt 0 ] || { echo "--sign needs osslsigncode options" >&2; exit 2; }; break ;;
        *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
done
[ -f "$launcher" ] && [ -n "$out" ] || { sed -n 's/^# Usage: //p' "$0" >&2; exit 2; }

# The version resource's strings are UTF-16, each name followed by its value.
file_version_of() {
    wrestool -x --raw -t16 "$1" 2>/dev/null | strings -el | sed -n '/^FileVersion$/{n;p;q}'
}

# A version-8 (custom) UUID taken from the SHA-256 of a text: the same text
# always gives the same code.
uuid_of() {
    local hash variant
    hash=$(printf '%s' "$1" | sha256sum | cut -c1-32)
    variant=$(printf '%x' $(( (0x${hash:16:1} & 0x3) | 0x8 )))
    printf '%s-%s-8%s-%s%s-%s' "${hash:0:8}" "${hash:8:4}" "${hash:13:3}" "$variant" "${hash:17:3}" "${hash:20:12}" \
        | tr '[:lower:]' '[:upper:]'
}

sha256_of() { sha256sum <"$1" | cut -d' ' -f1; }

sign_file() {
    local in=$1 signed=$2
    osslsigncode sign "${sign[@]}" -n Tessalune -h sha256 -in "$in" -out "$signed" >/dev/null
}

# wixl stamps every package with a random package code and the current time:
# both are replaced by values that depend only on what went in.
pin_summary_information() {
    local msi=$1 package_code=$2 time
    time=$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y/%m/%d %H:%M:%S')
    (cd "$stage" && msiinfo export "$msi" _SummaryInformation >summary.idt)
    awk -F '\t' -v OFS='\t' -v code="{$package_code}" -v time="$time" '
        $1 == 9 { $2 = code } $1 == 12 || $1 == 13 { $2 = time } { print }' \
        "$stage/summary.idt" >"$stage/_SummaryInformation.idt"
    (cd "$stage" && msibuild "$msi" -i _SummaryInformation.idt)
}

# What wixl leaves out of the tables or writes wrong, set in the built MSI:
# the launcher's File row gets the version and language of its version
# resource (without them Windows Installer takes it for an unversioned file
# in repairs and upgrades), and a registry root of HKMU, which wixl writes as
# 4, becomes the -1 that Windows Installer reads as HKMU.
complete_msi_tables() {
    local msi=$1 fixed file_version language
    # VS_FIXEDFILEINFO follows its signature FEEF04BD: the structure's own
    # version, then the file version as two little-endian dwords, high word
    # first in each.
    fixed=$(wrestool -x --raw -t16 "$stage/Tessalune.exe" | od -An -v -tx1 | tr -d ' \n')
    fixed=${fixed#*bd04effe}
    file_version=$(printf '%d.%d.%d.%d' "0x${fixed:14:2}${fixed:12:2}" "0x${fixed:10:2}${fixed:8:2}" \
        "0x${fixed:22:2}${fixed:20:2}" "0x${fixed:18:2}${fixed:16:2}")
    # The string table's name: language, then code page, in hexadecimal.
    language=$(wrestool -x --raw -t16 "$stage/Tessalune.exe" | strings -el | grep -m 1 -E '^[0-9A-Fa-f]{8}$')
    language=$((16#${language:0:4}))
    (cd "$stage" && msiinfo export "$msi" File >file.idt && msiinfo export "$msi" Registry >registry.idt)
    awk -F '\t' -v OFS='\t' -v version="$file_version" -v language="$language" '
        NR > 3 && $1 == "TessaluneExe" { $5 = version; $6 = language } { print }' "$stage/file.idt" >"$stage/File.idt"
    awk -F '\t' -v OFS='\t' 'NR > 3 && $2 == 4 { $2 = -1 } { print }' "$stage/registry.idt" >"$stage/Registry.idt"
    (cd "$stage" && msibuild "$msi" -i File.idt && msibuild "$msi" -i Registry.idt)
}

build_msi() {
    local msi=$1 upgrade_code product_code package_code
    upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' "$here/Tessalune.wxs")
    # One product code per version: a higher version is a major upgrade of a lower one.
    product_code=$(uuid_of "product $upgrade_code $version")
    package_code=$(uuid_of "package $version $SOURCE_DATE_EPOCH $(sha256_of "$stage/Tessalune.exe") \
$(sha256_of "$here/Tessalune.wxs") $(wixl --version)")

    wrestool -x -t14 -n IDI_ICON1 -o "$stage/Tessalune.ico" "$stage/Tessalune.exe"
    # The cabinet keeps each file's time.
    touch -d "@$SOURCE_DATE_EPOCH" "$stage/Tessalune.exe" "$stage/Tessalune.ico"
    # wixl finds the files the .wxs names only relative to where it runs.
    (cd "$stage" && wixl -a x86 -D Version="$version" -D ProductCode="$product_code" \
        -o "$msi" "$here/Tessalune.wxs" 2>&1 | grep -v '^$' >&2 || true)
    [ -f "$stage/$msi" ] || { echo "wixl made no installer" >&2; exit 1; }
    complete_msi_tables "$msi"
    pin_summary_information "$msi" "$package_code"
}

# A ZIP of the launcher, its SHA-256 and INSTALL.txt, with fixed times, owners and modes.
build_zip() {
    local zip=$1 files=(INSTALL.txt Tessalune.exe Tessalune.exe.sha256)
    mkdir "$stage/zip"
    cp "$stage/Tessalune.exe" "$here/../resources/INSTALL.txt" "$stage/zip/"
    (cd "$stage/zip" && sha256sum Tessalune.exe >Tessalune.exe.sha256)
    chmod 644 "$stage"/zip/*
    touch -d "@$SOURCE_DATE_EPOCH" "$stage"/zip/*
    (cd "$stage/zip" && cmake -E tar cf "../$zip" --format=zip -- "${files[@]}")
}

# Archive formats keep local times: UTC makes them the same wherever this runs.
export TZ=UTC
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct)}
version=${version:-$(file_version_of "$launcher")}
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "not a version: '$version'" >&2; exit 2; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
msi="Tessalune-$version.msi"
zip="Tessalune-$version-win32.zip"

if [ ${#sign[@]} -gt 0 ]; then
    sign_file "$launcher" "$stage/Tessalune.exe"
else
    cp "$launcher" "$stage/Tessalune.exe"
fi

build_msi "$msi"
build_zip "$zip"

mkdir -p "$out"
if [ ${#sign[@]} -gt 0 ]; then
    sign_file "$stage/$msi" "$out/$msi"
else
    cp "$stage/$msi" "$out/$msi"
fi
cp "$stage/$zip" "$out/$zip"
(cd "$out" && sha256sum "$msi" "$zip" >SHA256SUMS)
