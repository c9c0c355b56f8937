#!/usr/bin/env bash
# Makes the release of each product given, from its built launcher, in a
# folder of its own below the release folder, and nothing else there:
#   NAME-VERSION.msi            the installer (product.wxs)
#   NAME-VERSION-win32.zip      the launcher, INSTALL.txt and THIRD-PARTY-NOTICES.txt
#   NAME-VERSION.spdx.json      the bill of materials of the launcher (SPDX 2.3)
#   NAME-VERSION-source.tar.xz  the Corresponding Source: this project at the
#                               commit and Debian's source packages of the
#                               libraries linked into the launcher
#   SHA256SUMS                  of the four, as sha256sum -c reads them
# THIRD-PARTY-NOTICES.txt, in the MSI, the ZIP and the kit, holds the launcher's
# licence and Debian's copyright file of each component it is linked with.
# With --kit, also each product's Windows test kit NAME-VERSION-windows-tests.zip
# in the kit folder (it is not part of the release), with the release's own
# launcher in it.
# Each file depends only on the product's description and launcher, the
# commit, the set-up's Debian source packages and SOURCE_DATE_EPOCH, so two
# builds of one commit give identical files. A missing copyright file or
# source package stops it before anything is put in the folder.
#
# Usage: make-release.sh --product FILE [--product FILE...] --out FOLDER
#                        [--deps FOLDER] [--kit FILE --kit-out FOLDER]
#                        [--without-timestamp] [--sign OSSLSIGNCODE_OPTION...]
#   --product     a product's description, as the build writes it from the
#                 product table (build/windows-x86/products/NAME/NAME.product):
#                 its values, its built launcher and what that was linked with
#   --out         the release folder; each product's release goes into the
#                 folder named after it there: new, empty, or an earlier release
#   --deps        where tools/setup.sh keeps Debian's source packages
#                 (default: build/deps of this clone)
#   --kit         the list of the test kit's other files, as the build writes it
#                 (build/windows-x86/windows-test-kit.files)
#   --kit-out     where the test kits go (build/windows-x86, beside the release)
#   --sign        signs the launcher before it is packed and the MSI after it is
#                 built; every option after it goes to osslsigncode sign
#                 (certificate, key, timestamp server); it must come last.
#                 A signature without a timestamp dies with its certificate, so
#                 one of osslsigncode's -ts, -t or -TSA-certs is required...
#   --without-timestamp  ...unless this is given, before --sign
#   An older release to try upgrades with comes from a build of its own version
#   (README, "Checking a release on Windows").
#   SOURCE_DATE_EPOCH defaults to the time of the source tree's last commit
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(dirname "$here")
products=() out="" deps="$repo/build/deps" kit="" kit_out="" sign=() signing=no timestamped=yes
notices=THIRD-PARTY-NOTICES.txt

usage() { sed -n '/^# Usage:/,/SOURCE_DATE_EPOCH defaults/s/^# \{0,1\}//p' "$0"; }
die() { echo "make-release.sh: $*" >&2; exit 1; }
usage_error() { echo "make-release.sh: $*" >&2; usage >&2; exit 2; }

parse_options() {
    while [ $# -gt 0 ]; do
        case $1 in
            -h | --help) usage; exit 0 ;;
            --product | --out | --deps | --kit | --kit-out)
                [ $# -ge 2 ] || usage_error "$1 needs a value"
                case $1 in
                    --product) products+=("$2") ;;
                    --out) out=$2 ;;
                    --deps) deps=$2 ;;
                    --kit) kit=$2 ;;
                    --kit-out) kit_out=$2 ;;
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
    local missing=() option product
    for option in "${sign[@]}"; do
        case $option in
            --product | --out | --deps | --kit | --kit-out | --without-timestamp)
                usage_error "--sign must come last: $option, after it, would go to osslsigncode" ;;
        esac
    done
    [ ${#products[@]} -gt 0 ] || missing+=(--product)
    [ -n "$out" ] || missing+=(--out)
    [ -z "$kit" ] || [ -n "$kit_out" ] || missing+=(--kit-out)
    [ ${#missing[@]} -eq 0 ] || usage_error "missing ${missing[*]}"
    check_signing
    [ ! -e "$out" ] || [ -d "$out" ] || die "--out $out is a file: give a new or empty folder, or an earlier release's"
    [ -z "$kit_out" ] || [ ! -e "$kit_out" ] || [ -d "$kit_out" ] || die "--kit-out $kit_out is a file: give a folder"
    [ -z "$kit" ] || [ -f "$kit" ] || die "no list of the test kit's files at $kit"
    for product in "${products[@]}"; do
        check_product "$product"
    done
    check_out_folder
}

# A value of a product's description: "key=value" lines.
value_of() { sed -n "s/^$2=//p" "$1"; }

check_product() {
    [ -f "$1" ] || die "no product description at $1: build first (cmake --build --preset windows-x86)"
    load_product "$1"
    [ -f "$launcher" ] || die "no launcher at $launcher, which $1 names: build it first"
    [ "$(head -c 2 "$launcher")" = MZ ] || die "$launcher, which $1 names, is no Windows program"
    [ -f "$components" ] || die "no list of what $launcher was linked with at $components"
    check_version
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

# Reads a product's description into the variables the steps below use.
load_product() {
    local product=$1
    name=$(value_of "$product" name)
    executable=$(value_of "$product" executable)
    version=$(value_of "$product" version)
    upgrade_code=$(value_of "$product" upgrade_code)
    manufacturer=$(value_of "$product" manufacturer)
    host=$(value_of "$product" host)
    host_folder=$(value_of "$product" host_folder)
    error_title=$(value_of "$product" error_title)
    launcher=$(value_of "$product" launcher)
    components=$(value_of "$product" components)
    description=$product
}

# A value of a program's version resource (version_resource.py names them).
version_resource_value() { python3 "$here/version_resource.py" "$1" | sed -n "s/^$2=//p"; }

# A package must not say one version and hold a launcher that says another.
check_version() {
    local built
    built=$(version_resource_value "$launcher" FileVersion)
    [ "$version" = "$built" ] || die "$name's version is $version, but its launcher's FileVersion is '$built':" \
        "build again after changing the product table"
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
    osslsigncode sign "${sign[@]}" -n "$name" -h sha256 -in "$in" -out "$signed" >/dev/null \
        || die "osslsigncode could not sign $in"
}

# The launcher every file of the release and the kit is made from: signed
# first, when signing.
stage_launcher() {
    if [ "$signing" = yes ]; then
        sign_file "$launcher" "$stage/$executable.exe"
    else
        cp "$launcher" "$stage/$executable.exe"
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
    local msi=$1 file_version language
    file_version=$(version_resource_value "$stage/$executable.exe" file-version)
    language=$(version_resource_value "$stage/$executable.exe" language)
    (cd "$stage" && msiinfo export "$msi" File >file.idt && msiinfo export "$msi" Registry >registry.idt)
    awk -F '\t' -v OFS='\t' -v version="$file_version" -v language="$language" '
        NR > 3 && $1 == "LauncherExe" { $5 = version; $6 = language } { print }' "$stage/file.idt" >"$stage/File.idt"
    awk -F '\t' -v OFS='\t' 'NR > 3 && $2 == 4 { $2 = -1 } { print }' "$stage/registry.idt" >"$stage/Registry.idt"
    (cd "$stage" && msibuild "$msi" -i File.idt && msibuild "$msi" -i Registry.idt \
        && msibuild "$msi" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = 'LauncherExe'")
}

# The codes of the product's components, each derived from the upgrade code,
# which stands for the product for ever, and the component's name; the
# folder all products share has one code for the whole family.
component_codes() {
    local component
    for component in Launcher Notices StartMenuShortcut DesktopShortcut; do
        echo "-D" "${component}Guid=$(uuid_of "component $upgrade_code $component")"
    done
    echo "-D" "ManufacturerFolderGuid=$(uuid_of "component $manufacturer ManufacturerFolder")"
}

build_msi() {
    local msi=$1 product_code package_code codes
    # One product code per version: a higher version is a major upgrade of a lower one.
    product_code=$(uuid_of "product $upgrade_code $version")
    package_code=$(uuid_of "package $name $manufacturer $executable $upgrade_code $version $SOURCE_DATE_EPOCH \
$(sha256_of "$stage/$executable.exe") $(sha256_of "$here/product.wxs") $(wixl --version)")
    mapfile -t codes < <(component_codes | tr ' ' '\n')

    wrestool -x -t14 -n IDI_ICON1 -o "$stage/product.ico" "$stage/$executable.exe"
    [ -s "$stage/product.ico" ] || die "no icon group IDI_ICON1 in $launcher"
    # The cabinet keeps each file's time.
    touch -d "@$SOURCE_DATE_EPOCH" "$stage/$executable.exe" "$stage/product.ico" "$stage/$notices"
    # wixl finds the files the .wxs names only relative to where it runs.
    (cd "$stage" && wixl -a x86 -D Version="$version" -D ProductCode="$product_code" -D ProductName="$name" \
        -D Manufacturer="$manufacturer" -D Host="${host%.*}" -D Executable="$executable.exe" \
        -D UpgradeCode="$upgrade_code" "${codes[@]}" -o "$msi" "$here/product.wxs" 2>wixl.log) \
        || { cat "$stage/wixl.log" >&2; die "wixl could not build $msi"; }
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
    cp "$stage/$executable.exe" "$stage/$notices" "$stage/zip/"
    # The product table and the family allow no character that sed would read.
    sed -e "s/@PRODUCT_NAME@/$name/g" -e "s/@EXECUTABLE@/$executable.exe/g" \
        -e "s/@PRODUCTNAME@/$(value_of "$description" productname)/g" -e "s/@HOST_FOLDER@/$host_folder/g" \
        -e "s/@HOST_FILE@/$host/g" -e "s/@ERROR_TITLE@/$error_title/g" -e "s/@VERSION@/$version/g" \
        "$repo/resources/INSTALL.txt.in" >"$stage/zip/INSTALL.txt"
    pack_zip "$stage/$zip" "$stage/zip" INSTALL.txt "$notices" "$executable.exe"
}

build_notices() {
    python3 "$here/make-notices.py" "$description" "$deps" "$repo/LICENSE" "$SOURCE_DATE_EPOCH" \
        >"$stage/$notices" || die "could not write $notices"
}

build_sbom() {
    python3 "$here/make-sbom.py" "$stage/$executable.exe" "$description" "$deps" "$SOURCE_DATE_EPOCH" \
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
    local archive=$1 top="$name-$version-source" file
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

# The test kit: the staged launcher, the notices, a note of the product it
# tests and the files the list names, flat.
build_kit() {
    local zip=$1 file names=("$executable.exe" "$notices" product-under-test.txt)
    mkdir "$stage/kit"
    cp "$stage/$executable.exe" "$stage/$notices" "$stage/kit/"
    printf '%s\r\n' "$executable.exe" "$(value_of "$description" productname)" >"$stage/kit/product-under-test.txt"
    while IFS= read -r file; do
        # The release's own launcher, signed when it is, stands for any build of it the list names.
        if [ -z "$file" ] || [ "$(basename "$file")" = "$executable.exe" ]; then
            continue
        fi
        cp "$file" "$stage/kit/" || die "the test kit's file $file is missing: build the tests first"
        names+=("$(basename "$file")")
    done <"$kit"
    mapfile -t names < <(printf '%s\n' "${names[@]}" | LC_ALL=C sort -u)
    pack_zip "$stage/$zip" "$stage/kit" "${names[@]}"
}

# Each product's folder must end up holding its release and nothing else:
# what an earlier release left goes, and a folder holding anything else is
# refused.
is_release_file() {
    case $1 in
        SHA256SUMS | *.msi | *-win32.zip | *.spdx.json | *-source.tar.xz) return 0 ;;
        *) return 1 ;;
    esac
}

check_out_folder() {
    local product entry folder
    for product in "${products[@]}"; do
        folder="$out/$(value_of "$product" name)"
        for entry in "$folder"/* "$folder"/.[!.]*; do
            [ -e "$entry" ] || continue
            is_release_file "$(basename "$entry")" \
                || die "$folder holds $(basename "$entry"), which is no release file: give a new or empty folder"
        done
    done
}

clear_out_folder() {
    local folder=$1 entry
    mkdir -p "$folder"
    for entry in "$folder"/*; do
        if [ -e "$entry" ] && is_release_file "$(basename "$entry")"; then
            rm -f "$entry"
        fi
    done
}

# The finished MSI is signed: the signature covers the whole package.
sign_msi() {
    local msi=$1
    [ "$signing" = yes ] || return 0
    mv "$stage/$msi" "$stage/unsigned.msi"
    sign_file "$stage/unsigned.msi" "$stage/$msi"
}

publish() {
    local folder="$out/$name" msi=$1 zip=$2 sbom=$3 source=$4 kit_zip=$5
    clear_out_folder "$folder"
    cp "$stage/$msi" "$stage/$zip" "$stage/$sbom" "$stage/$source" "$folder/"
    (cd "$folder" && sha256sum "$msi" "$zip" "$sbom" "$source" >SHA256SUMS)
    if [ -n "$kit" ]; then
        mkdir -p "$kit_out"
        cp "$stage/$kit_zip" "$kit_out/$kit_zip"
    fi
}

# Every file of one product's release, made in a folder of its own first.
release_product() {
    load_product "$1"
    stage=$(mktemp -d)
    local msi="$name-$version.msi" zip="$name-$version-win32.zip" sbom="$name-$version.spdx.json"
    local source="$name-$version-source.tar.xz" kit_zip="$name-$version-windows-tests.zip"

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
    rm -rf "$stage"
}

main() {
    local product
    parse_options "$@"
    # Archive formats keep local times: UTC makes them the same wherever this runs.
    export TZ=UTC
    if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
        SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct) \
            || die "SOURCE_DATE_EPOCH is not set, and $here is in no git clone to take it from"
    fi
    export SOURCE_DATE_EPOCH
    stage=""
    trap 'rm -rf "$stage"' EXIT
    for product in "${products[@]}"; do
        release_product "$product"
    done
}

main "$@"
