#!/usr/bin/env bash
# Makes the release of a built launcher in one folder, and nothing else there:
#   Tessalune-<version>.msi            the installer (Tessalune.wxs)
#   Tessalune-<version>-win32.zip      the launcher, INSTALL.txt and THIRD-PARTY-NOTICES.txt
#   Tessalune-<version>.spdx.json      the bill of materials of the launcher (SPDX 2.3)
#   Tessalune-<version>-source.tar.xz  the Corresponding Source: this project at
#                                      the commit and Debian's source packages of
#                                      the libraries linked into the launcher
#   SHA256SUMS                         of the four, as sha256sum -c reads them
# THIRD-PARTY-NOTICES.txt, in the MSI, the ZIP and the kit, holds the launcher's
# licence and Debian's copyright file of each component it is linked with.
# With --kit, also the Windows test kit Tessalune-<version>-windows-tests.zip
# beside that folder (it is not part of the release), with the release's own
# launcher in it.
# Each file depends only on the launcher, the version, the commit, the
# set-up's Debian source packages and SOURCE_DATE_EPOCH, so two builds of one
# commit give identical files. A missing copyright file or source package
# stops it before anything is put in the folder.
#
# Usage: make-release.sh --launcher Tessalune.exe --out FOLDER [--version X.Y.Z]
#                        [--components FILE] [--deps FOLDER] [--kit FILE]
#                        [--without-timestamp] [--sign OSSLSIGNCODE_OPTION...]
#   --launcher    the built Tessalune.exe (build/windows-x86/bin/Tessalune.exe)
#   --out         the release folder: new, empty, or holding an earlier release
#   --version     the version expected; refused when the launcher's FileVersion
#                 says another (it comes from project(VERSION) in CMakeLists.txt)
#   --components  what the launcher was linked with, as the build reads it from
#                 the link map (default: Tessalune.components beside the launcher)
#   --deps        where tools/setup.sh keeps Debian's source packages
#                 (default: build/deps of this clone)
#   --kit         the list of the test kit's other files, as the build writes it
#                 (build/windows-x86/windows-test-kit.files)
#   --sign        signs the launcher before it is packed and the MSI after it is
#                 built; every option after it goes to osslsigncode sign
#                 (certificate, key, timestamp server); it must come last.
#                 A signature without a timestamp dies with its certificate, so
#                 one of osslsigncode's -ts, -t or -TSA-certs is required...
#   --without-timestamp  ...unless this is given, before --sign
#   An older release to try upgrades with comes from a build of its own version
#   (README, "Checking a release on Windows"); --version only confirms.
#   SOURCE_DATE_EPOCH defaults to the time of the source tree's last commit
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(dirname "$here")
launcher="" out="" version="" components="" deps="$repo/build/deps" kit="" sign=() signing=no timestamped=yes

usage() { sed -n '/^# Usage:/,/SOURCE_DATE_EPOCH defaults/s/^# \{0,1\}//p' "$0"; }
die() { echo "make-release.sh: $*" >&2; exit 1; }
usage_error() { echo "make-release.sh: $*" >&2; usage >&2; exit 2; }

parse_options() {
    while [ $# -gt 0 ]; do
        case $1 in
            -h | --help) usage; exit 0 ;;
            --launcher | --out | --version | --components | --deps | --kit)
                [ $# -ge 2 ] || usage_error "$1 needs a value"
                case $1 in
                    --launcher) launcher=$2 ;;
                    --out) out=$2 ;;
                    --version) version=$2 ;;
                    --components) components=$2 ;;
                    --deps) deps=$2 ;;
                    --kit) kit=$2 ;;
                esac
                shift 2 ;;
            --without-timestamp) timestamped=no; shift ;;
            --sign)
                shift
                signing=yes sign=("$@")
                break ;;
            *) usage_error "unknown option: $1" ;;
        esac
    done
    check_options
}

# Everything wrong with the options is said before anything is built.
check_options() {
    local missing=() option
    for option in "${sign[@]}"; do
        case $option in
            --launcher | --out | --version | --components | --deps | --kit | --without-timestamp)
                usage_error "--sign must come last: $option, after it, would go to osslsigncode" ;;
        esac
    done
    [ -n "$launcher" ] || missing+=(--launcher)
    [ -n "$out" ] || missing+=(--out)
    [ ${#missing[@]} -eq 0 ] || usage_error "missing ${missing[*]}"
    [ -z "$version" ] || [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] \
        || usage_error "--version takes three numbers, X.Y.Z, as the launcher's FileVersion has them (not '$version')"
    [ -f "$launcher" ] || die "no launcher at $launcher: build it first (cmake --build --preset windows-x86)"
    [ "$(head -c 2 "$launcher")" = MZ ] || die "$launcher is no Windows program: give the built Tessalune.exe"
    components=${components:-$(dirname "$launcher")/Tessalune.components}
    [ -f "$components" ] || die "no list of what the launcher was linked with at $components: pass --components"
    [ -z "$kit" ] || [ -f "$kit" ] || die "no list of the test kit's files at $kit"
    [ ! -e "$out" ] || [ -d "$out" ] || die "--out $out is a file: give a new or empty folder, or an earlier release's"
    check_out_folder
    check_signing
}

check_signing() {
    local option
    [ "$signing" = yes ] || return 0
    [ ${#sign[@]} -gt 0 ] || usage_error "--sign needs osslsigncode options (certificate, key, timestamp server)"
    [ "$timestamped" = yes ] || return 0
    for option in "${sign[@]}"; do
        case $option in -ts | -t | -TSA-certs) return 0 ;; esac
    done
    usage_error "--sign without a timestamp server (-ts URL): the signatures would die with the certificate." \
        "Give --without-timestamp before --sign to sign so all the same."
}

# The version resource's strings are UTF-16, each name followed by its value.
file_version_of() {
    wrestool -x --raw -t16 "$1" 2>/dev/null | strings -el | sed -n '/^FileVersion$/{n;p;q}'
}

# A package must not say one version and hold a launcher that says another.
check_version() {
    local built
    built=$(file_version_of "$launcher")
    [[ $built =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "cannot read a FileVersion X.Y.Z from $launcher (read '$built')"
    version=${version:-$built}
    [ "$version" = "$built" ] || die "--version $version, but the launcher's FileVersion is $built." \
        "The version comes from project(VERSION) in CMakeLists.txt: set it there and build again."
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
    osslsigncode sign "${sign[@]}" -n Tessalune -h sha256 -in "$in" -out "$signed" >/dev/null \
        || die "osslsigncode could not sign $in"
}

# The launcher every file of the release and the kit is made from: signed
# first, when signing.
stage_launcher() {
    if [ ${#sign[@]} -gt 0 ]; then
        sign_file "$launcher" "$stage/Tessalune.exe"
    else
        cp "$launcher" "$stage/Tessalune.exe"
    fi
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
# in repairs and upgrades) and loses the hash wixl gave it (Windows Installer
# compares versions of a versioned file, and its validation, ICE60, refuses
# a hash for one), and a registry root of HKMU, which wixl writes as 4,
# becomes the -1 that Windows Installer reads as HKMU.
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
    (cd "$stage" && msibuild "$msi" -i File.idt && msibuild "$msi" -i Registry.idt \
        && msibuild "$msi" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = 'TessaluneExe'")
}

build_msi() {
    local msi=$1 upgrade_code product_code package_code
    upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' "$here/Tessalune.wxs")
    # One product code per version: a higher version is a major upgrade of a lower one.
    product_code=$(uuid_of "product $upgrade_code $version")
    package_code=$(uuid_of "package $version $SOURCE_DATE_EPOCH $(sha256_of "$stage/Tessalune.exe") \
$(sha256_of "$here/Tessalune.wxs") $(wixl --version)")

    wrestool -x -t14 -n IDI_ICON1 -o "$stage/Tessalune.ico" "$stage/Tessalune.exe"
    [ -s "$stage/Tessalune.ico" ] || die "no icon group IDI_ICON1 in $launcher"
    # The cabinet keeps each file's time.
    touch -d "@$SOURCE_DATE_EPOCH" "$stage/Tessalune.exe" "$stage/Tessalune.ico" "$stage/$notices"
    # wixl finds the files the .wxs names only relative to where it runs.
    (cd "$stage" && wixl -a x86 -D Version="$version" -D ProductCode="$product_code" \
        -o "$msi" "$here/Tessalune.wxs" 2>wixl.log) || { cat "$stage/wixl.log" >&2; die "wixl could not build $msi"; }
    sed '/^$/d' "$stage/wixl.log" >&2
    complete_msi_tables "$msi"
    pin_summary_information "$msi" "$package_code"
}

# A ZIP of the given files with fixed times, owners and modes, in the order given.
pack_zip() {
    local zip=$1 folder=$2; shift 2
    chmod 644 "$folder"/*
    touch -d "@$SOURCE_DATE_EPOCH" "$folder"/*
    (cd "$folder" && cmake -E tar cf "$zip" --format=zip -- "$@")
}

# The launcher, INSTALL.txt and the notices. Its SHA-256 is in SHA256SUMS
# beside it: a sum inside the ZIP could be changed along with the launcher it
# vouches for.
build_zip() {
    local zip=$1
    mkdir "$stage/zip"
    cp "$stage/Tessalune.exe" "$repo/resources/INSTALL.txt" "$stage/$notices" "$stage/zip/"
    pack_zip "$stage/$zip" "$stage/zip" INSTALL.txt "$notices" Tessalune.exe
}

build_notices() {
    python3 "$here/make-notices.py" "$version" "$components" "$deps" "$repo/LICENSE" "$SOURCE_DATE_EPOCH" \
        >"$stage/$notices" || die "could not write $notices"
}

build_sbom() {
    python3 "$here/make-sbom.py" "$stage/Tessalune.exe" "$version" "$components" "$deps" "$SOURCE_DATE_EPOCH" \
        >"$stage/$1" || die "could not write the bill of materials"
}

# Every file of Debian's source packages the Corresponding Source carries,
# checked before anything is built: a release without them may not be shipped.
list_debian_sources() {
    python3 "$here/components.py" --sources "$components" "$deps" >"$stage/debian-sources" \
        || die "the Corresponding Source is incomplete: run tools/setup.sh"
}

# The Corresponding Source: this project at the commit, as git archive gives
# it, and Debian's source packages, unchanged. Sorted names, fixed times,
# owners and modes, and xz on one thread with fixed settings: one commit
# gives one archive.
build_source_archive() {
    local archive=$1 top="Tessalune-$version-source" file
    git -C "$repo" rev-parse --verify --quiet HEAD >/dev/null \
        || die "the source archive holds a commit, and $repo is no git clone with one"
    git -C "$repo" diff --quiet HEAD -- \
        || echo "make-release.sh: warning: the source archive holds the commit, not the changes of the working tree" >&2
    mkdir -p "$stage/source/$top/debian-source-packages"
    git -C "$repo" archive --format=tar HEAD | tar -x -C "$stage/source/$top"
    while IFS= read -r file; do
        cp "$file" "$stage/source/$top/debian-source-packages/"
    done <"$stage/debian-sources"
    tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner --mode='u+rw,go=rX' \
        --format=gnu -C "$stage/source" -cf - "$top" | xz -T1 -6 -c >"$stage/$archive"
}

# The test kit: the staged launcher, the notices and the files the list names, flat.
build_kit() {
    local zip=$1 file names=(Tessalune.exe "$notices")
    mkdir "$stage/kit"
    cp "$stage/Tessalune.exe" "$stage/$notices" "$stage/kit/"
    while IFS= read -r file; do
        [ -n "$file" ] || continue
        cp "$file" "$stage/kit/" || die "the test kit's file $file is missing: build the tests first"
        names+=("$(basename "$file")")
    done <"$kit"
    mapfile -t names < <(printf '%s\n' "${names[@]}" | LC_ALL=C sort)
    pack_zip "$stage/$zip" "$stage/kit" "${names[@]}"
}

# The folder must end up holding the release and nothing else: what an earlier
# release left goes, and a folder holding anything else is refused.
is_release_file() {
    case $1 in
        SHA256SUMS | Tessalune-*.msi | Tessalune-*-win32.zip | Tessalune-*.spdx.json | Tessalune-*-source.tar.xz) return 0 ;;
        *) return 1 ;;
    esac
}

check_out_folder() {
    local entry
    for entry in "$out"/* "$out"/.[!.]*; do
        [ -e "$entry" ] || continue
        is_release_file "$(basename "$entry")" \
            || die "$out holds $(basename "$entry"), which is no release file: give a new or empty folder"
    done
}

clear_out_folder() {
    local entry
    mkdir -p "$out"
    for entry in "$out"/*; do
        [ -e "$entry" ] && is_release_file "$(basename "$entry")" && rm -f "$entry"
    done
    return 0
}

# The finished MSI is signed: the signature covers the whole package.
sign_msi() {
    local msi=$1
    [ ${#sign[@]} -gt 0 ] || return 0
    mv "$stage/$msi" "$stage/unsigned.msi"
    sign_file "$stage/unsigned.msi" "$stage/$msi"
}

publish() {
    local msi=$1 zip=$2 sbom=$3 source=$4 kit_zip=$5
    clear_out_folder
    cp "$stage/$msi" "$stage/$zip" "$stage/$sbom" "$stage/$source" "$out/"
    (cd "$out" && sha256sum "$msi" "$zip" "$sbom" "$source" >SHA256SUMS)
    if [ -n "$kit" ]; then
        cp "$stage/$kit_zip" "$out/../$kit_zip"
    fi
}

main() {
    parse_options "$@"
    # Archive formats keep local times: UTC makes them the same wherever this runs.
    export TZ=UTC
    if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
        SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct) \
            || die "SOURCE_DATE_EPOCH is not set, and $here is in no git clone to take it from"
    fi
    export SOURCE_DATE_EPOCH
    check_version

    stage=$(mktemp -d)
    trap 'rm -rf "$stage"' EXIT
    local msi="Tessalune-$version.msi" zip="Tessalune-$version-win32.zip" sbom="Tessalune-$version.spdx.json"
    local source="Tessalune-$version-source.tar.xz" kit_zip="Tessalune-$version-windows-tests.zip"
    notices=THIRD-PARTY-NOTICES.txt

    stage_launcher
    build_notices
    list_debian_sources
    build_msi "$msi"
    sign_msi "$msi"
    build_zip "$zip"
    build_sbom "$sbom"
    build_source_archive "$source"
    [ -z "$kit" ] || build_kit "$kit_zip"
    publish "$msi" "$zip" "$sbom" "$source" "$kit_zip"
}

main "$@"
