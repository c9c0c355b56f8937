#!/usr/bin/env bash
# Makes the release of each product given, from its built launcher, in a
# folder of its own below the release folder, and nothing else there:
#   NAME-VERSION.msi            the installer (product.wxs)
#   NAME-VERSION-win32.zip      the launcher, INSTALL.txt and THIRD-PARTY-NOTICES.txt
#   NAME-VERSION.spdx.json      the bill of materials of the release (SPDX 2.3)
#   NAME-VERSION-source.tar.xz  the Corresponding Source: this project's files,
#                               what they were made from (release-inputs), and
#                               Debian's source packages as build/deps holds them
#   NAME-VERSION.SHA256SUMS     of the four, as sha256sum -c reads them; named for
#                               the release, as every release is published at one address
#   NAME-VERSION.SHA256SUMS.minisig  with --sign-sums, minisign's signature of the sums
# THIRD-PARTY-NOTICES.txt, in the MSI, the ZIP and the kit, holds the launcher's
# licence, where its source is published, and the copyright and licence files
# of each component it is linked with.
# With --kit, also each product's Windows test kit NAME-VERSION-windows-tests.zip
# in the kit folder (it is not part of the release), with the release's own
# launcher in it.
# It works in a git clone and in an unpacked source archive alike, and makes
# a release only of what is committed (or, in an archive, of what the archive
# holds): a release's source archive holds exactly what built its binaries.
# Each file depends only on the product's description and launcher, the
# sources, the set-up's Debian source packages and SOURCE_DATE_EPOCH, so two
# builds of one commit give identical files. Whatever it cannot account for
# (a component, its copyright file or source package, a newer Debian revision
# of one, the family's release address) stops it before anything is put in
# the folder.
#
# Usage: make-release.sh --product FILE [--product FILE...] --out FOLDER
#                        [--deps FOLDER] [--kit FILE --kit-out FOLDER]
#                        [--allow-uncommitted] [--prune] [--sign-sums SECRET_KEY_FILE]
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
#   --allow-uncommitted  a tree with changes that are not committed (or files
#                 git does not know and does not ignore) is refused without
#                 this; with it, the release is a test release, marked as one in
#                 its notices, INSTALL.txt, the MSI's comments, the bill of
#                 materials and the source archive's release-inputs, and its
#                 source archive holds the tree as it is
#   --prune       removes from --out the release folders of products not given,
#                 and from --kit-out the test kits of products or versions not
#                 given, as the build's target "release" does for its tables
#   --sign-sums   signs each release's sums with this minisign secret key, into
#                 NAME-VERSION.SHA256SUMS.minisig beside them; minisign asks for the key's
#                 password, once for each product. It must come before --sign
#   --sign        signs the launcher before it is packed and the MSI after it is
#                 built; every option after it goes to osslsigncode sign
#                 (certificate, key, timestamp server); it must come last.
#                 A signature without a timestamp dies with its certificate, so
#                 one of osslsigncode's -ts, -t or -TSA-certs is required...
#   --without-timestamp  ...unless this is given, before --sign
#   An older release to try upgrades with comes from a build of its own version
#   (README, "Checking a release on Windows").
#   SOURCE_DATE_EPOCH, if set, must be the time of the commit the sources are
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(dirname "$here")
products=() out="" deps="$repo/build/deps" kit="" kit_out="" sign=() signing=no timestamped=yes sums_key=""
allow_uncommitted=no prune=no
notices=THIRD-PARTY-NOTICES.txt
# What an unpacked source archive holds beside the project's files: what they
# were made from, their sums, the licence of the Debian source packages, and those.
inputs_record=release-inputs
files_record=release-files.sha256
sources_licence=LICENSES/LicenseRef-Debian-source-package.txt
sources_folder=debian-source-packages
# The Debian packages whose versions shape the release's files: compiler,
# binutils, MinGW-w64's headers and run-time, JUCE, CMake, the MSI tools, the
# icon tools, the archivers and Python. The source archive records each.
toolchain_packages=(
    gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix-runtime gcc-mingw-w64-base
    binutils-mingw-w64-i686 mingw-w64-i686-dev mingw-w64-common juce-modules-source-data cmake
    wixl msitools icoutils imagemagick-6.q16 xz-utils tar python3
)

usage() { sed -n '/^# Usage:/,/SOURCE_DATE_EPOCH, if set/s/^# \{0,1\}//p' "$0"; }
die() { echo "make-release.sh: $*" >&2; exit 1; }
usage_error() { echo "make-release.sh: $*" >&2; usage >&2; exit 2; }

parse_options() {
    while [ $# -gt 0 ]; do
        case $1 in
            -h | --help) usage; exit 0 ;;
            --product | --out | --deps | --kit | --kit-out | --sign-sums)
                [ $# -ge 2 ] || usage_error "$1 needs a value"
                case $1 in
                    --product) products+=("$2") ;;
                    --out) out=$2 ;;
                    --deps) deps=$2 ;;
                    --kit) kit=$2 ;;
                    --kit-out) kit_out=$2 ;;
                    --sign-sums) sums_key=$2 ;;
                esac
                shift 2 ;;
            --without-timestamp) timestamped=no; shift ;;
            --allow-uncommitted) allow_uncommitted=yes; shift ;;
            --prune) prune=yes; shift ;;
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
            --product | --out | --deps | --kit | --kit-out | --without-timestamp | --allow-uncommitted | --prune \
                | --sign-sums)
                usage_error "--sign must come last: $option, after it, would go to osslsigncode" ;;
        esac
    done
    [ ${#products[@]} -gt 0 ] || missing+=(--product)
    [ -n "$out" ] || missing+=(--out)
    [ -z "$kit" ] || [ -n "$kit_out" ] || missing+=(--kit-out)
    [ ${#missing[@]} -eq 0 ] || usage_error "missing ${missing[*]}"
    check_signing
    check_sums_key
    [ ! -e "$out" ] || [ -d "$out" ] || die "--out $out is a file: give a new or empty folder, or an earlier release's"
    [ -z "$kit_out" ] || [ ! -e "$kit_out" ] || [ -d "$kit_out" ] || die "--kit-out $kit_out is a file: give a folder"
    [ -z "$kit" ] || [ -f "$kit" ] || die "no list of the test kit's files at $kit"
    for product in "${products[@]}"; do
        check_product "$product"
    done
    check_out_folder
}

# A value of a product's description: "key=value" lines.
# shellcheck source=product-description.sh
source "$here/product-description.sh"
value_of() { product_value "$1" "$2"; }

check_product() {
    [ -f "$1" ] || die "no product description at $1: build first (cmake --build --preset windows-x86)"
    load_product "$1"
    [ -f "$launcher" ] || die "no launcher at $launcher, which $1 names: build it first"
    [ "$(head -c 2 "$launcher")" = MZ ] || die "$launcher, which $1 names, is no Windows program"
    [ -f "$components" ] || die "no list of what $launcher was linked with at $components"
    check_version
    check_releases_address
    python3 "$here/components.py" --newer-revisions "$components" >&2 \
        || die "$name's launcher would be released without Debian's latest revisions of what it is built from:" \
            "upgrade (apt-get update, then apt-get install --only-upgrade of the package named), build again," \
            "and release (docs/release.md, \"A newer Debian revision\")"
}

# The family's address goes into the notices, INSTALL.txt and the MSI as the
# place the release and its source are published: a folder of an https or
# http address, in characters none of those needs to quote.
check_releases_address() {
    [[ $releases_address =~ ^https?://[A-Za-z0-9.-]+(:[0-9]+)?/([A-Za-z0-9._~-]+/)*$ ]] \
        || die "$description gives no releases address, the family's place of publication (RELEASES_ADDRESS" \
            "in products/family.cmake), as an http(s) address of a folder ending in /: '$releases_address'"
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

# A key that cannot sign would be found out only after the first product is
# built. A minisign secret key's second line is 158 bytes in base64; its
# public key, the file most easily given instead, is 42.
check_sums_key() {
    [ -n "$sums_key" ] || return 0
    [ -f "$sums_key" ] || die "--sign-sums $sums_key: no such file, to sign the sums with"
    [ "$(sed -n 2p "$sums_key" | base64 -d 2>/dev/null | wc -c)" = 158 ] \
        || die "--sign-sums $sums_key is no minisign secret key (minisign -G writes one; a public key cannot sign)"
    command -v minisign >/dev/null || die "no minisign to sign the sums with: run tools/setup.sh"
}

# Reads a product's description into the variables the steps below use.
load_product() {
    local product=$1
    read_product_description "$product" || die "no product description at $product"
    name=$product_name executable=$product_executable version=$product_version upgrade_code=$product_upgrade_code
    manufacturer=$product_manufacturer host=$product_host launcher=$product_launcher components=$product_components
    releases_address=$product_releases_address productname=$product_productname
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
$releases_address $uncommitted $(sha256_of "$stage/$executable.exe") $(sha256_of "$here/product.wxs") $(wixl --version)")
    mapfile -t codes < <(component_codes | tr ' ' '\n')

    wrestool -x -t14 -n IDI_ICON1 -o "$stage/product.ico" "$stage/$executable.exe"
    [ -s "$stage/product.ico" ] || die "no icon group IDI_ICON1 in $launcher"
    # The cabinet keeps each file's time.
    touch -d "@$SOURCE_DATE_EPOCH" "$stage/$executable.exe" "$stage/product.ico" "$stage/$notices"
    # wixl finds the files the .wxs names only relative to where it runs.
    (cd "$stage" && wixl -a x86 -D Version="$version" -D ProductCode="$product_code" -D ProductName="$name" \
        -D Manufacturer="$manufacturer" -D Host="${host%.*}" -D Executable="$executable.exe" \
        -D UpgradeCode="$upgrade_code" -D ReleasesAddress="$releases_address" \
        -D Comments="$(msi_comments)" \
        "${codes[@]}" -o "$msi" "$here/product.wxs" 2>wixl.log) \
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

# The launcher, INSTALL.txt and the notices. Its SHA-256 is in the sums
# beside it: a sum inside the ZIP could be changed along with the launcher it
# vouches for.
build_zip() {
    local zip=$1
    mkdir "$stage/zip"
    cp "$stage/$executable.exe" "$stage/$notices" "$stage/zip/"
    # CR LF line ends: older Notepad shows a text of LF line ends as one line.
    {
        if [ "$uncommitted" = yes ]; then
            echo "$(test_release_mark)." | fold -s -w 78 | sed 's/ *$//'
            echo
        fi
        fill_in_product "$repo/resources/INSTALL.txt.in"
    } | sed 's/\r*$/\r/' >"$stage/zip/INSTALL.txt"
    pack_zip "$stage/$zip" "$stage/zip" INSTALL.txt "$notices" "$executable.exe"
}

# A text with @KEY@ in place of each value of the product's description, the
# key in capitals. The product tables and the family allow no character that
# sed would read in a value.
fill_in_product() {
    local key value expressions=()
    for key in name productname executable version manufacturer releases_address host host_folder error_title; do
        value="product_$key"
        expressions+=(-e "s|@${key^^}@|${!value}|g")
    done
    sed "${expressions[@]}" "$1"
}

# The options that mark a test release in the notices and the bill of materials.
test_release_options() {
    [ "$uncommitted" = no ] || echo --test-release "$commit"
}

build_notices() {
    # shellcheck disable=SC2046  # none or two words
    python3 "$here/make-notices.py" "$description" "$deps" "$repo/LICENSE" "$SOURCE_DATE_EPOCH" \
        $(test_release_options) >"$stage/$notices" || die "could not write $notices"
}

build_sbom() {
    local sbom=$1; shift
    # shellcheck disable=SC2046  # none or two words
    python3 "$here/make-sbom.py" "$stage/$executable.exe" "$description" "$deps" "$SOURCE_DATE_EPOCH" \
        "${@/#/$stage/}" $(test_release_options) >"$stage/$sbom" || die "could not write the bill of materials"
}

# Every file of build/deps the release reads and its source archive carries,
# checked before anything is built: a release without them may not be shipped.
list_release_sources() {
    python3 "$here/components.py" --sources "$components" "$deps" >"$stage/release-sources" \
        || die "the Corresponding Source is incomplete: run tools/setup.sh"
}

# What the source archive records of what its release was made from; the
# build and this script read it in the unpacked archive.
write_inputs_record() {
    local package installed
    echo "# What this source archive's release was made from, as installer/make-release.sh records it:"
    echo "# the commit, its time, whether the release was a test release of changes not committed, and the"
    echo "# Debian packages it was built with. The build reads it where there is no git clone."
    echo "commit $commit"
    echo "commit-time $commit_time"
    echo "uncommitted-changes $uncommitted"
    for package in "${toolchain_packages[@]}"; do
        installed=$(dpkg-query -W -f='${Version}' "$package" 2>/dev/null) \
            || die "$package, whose version the source archive records, is not installed"
        echo "toolchain $package $installed"
    done
}

# The licence the source archive's REUSE information (.reuse/dep5) gives the
# Debian source packages it carries, whose own debian/copyright says each.
write_sources_licence() {
    cat <<'TEXT'
The files below debian-source-packages/ are parts of Debian source packages,
unchanged: a .dsc, the upstream and Debian tarballs it names, and of some
packages only the .dsc and the licence files of their components (below
licence-files/, as the package holds them).

Each file's copyright holders and licence are those the copyright file of its
source package states: debian/copyright, in the Debian tarball
(SOURCE_VERSION.debian.tar.*), which dpkg-source -x SOURCE_VERSION.dsc unpacks
together with the rest of the package.
TEXT
}

# The Corresponding Source: this project's files as they are (in a clean tree,
# the commit), what they were made from, their sums, and the Debian source
# packages as build/deps holds them. Sorted names, fixed times, owners and
# modes, and xz on one thread with fixed settings: one commit gives one
# archive, in a clone or remade in the unpacked archive.
build_source_archive() {
    local archive=$1 top="$name-$version-source" file tree
    tree="$stage/source/$top"
    mkdir -p "$tree"
    project_files | (cd "$repo" && tar --null -T - -cf -) | tar -x -C "$tree"
    (cd "$tree" && find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort | tr '\n' '\0' \
        | xargs -0 sha256sum --) >"$stage/$files_record"
    mv "$stage/$files_record" "$tree/$files_record"
    write_inputs_record >"$tree/$inputs_record"
    mkdir -p "$(dirname "$tree/$sources_licence")"
    write_sources_licence >"$tree/$sources_licence"
    while IFS= read -r file; do
        install -D -m 644 "$deps/$file" "$tree/$sources_folder/$file"
    done <"$stage/release-sources"
    tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner --mode='u+rw,go=rX' \
        --format=gnu -C "$stage/source" -cf - "$top" | xz -T1 -6 -c >"$stage/$archive"
}

# The test kit: the staged launcher, the notices, a note of the product it
# tests and the files the list names, flat.
build_kit() {
    local zip=$1 file names=("$executable.exe" "$notices" product-under-test.txt)
    mkdir "$stage/kit"
    cp "$stage/$executable.exe" "$stage/$notices" "$stage/kit/"
    printf '%s\r\n' "$executable.exe" "$productname" >"$stage/kit/product-under-test.txt"
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
# what an earlier release left goes (its sums were SHA256SUMS before they were
# named for their release), and a folder holding anything else is refused.
is_release_file() {
    case $1 in
        *.SHA256SUMS | *.SHA256SUMS.minisig | SHA256SUMS | SHA256SUMS.minisig | *.msi | *-win32.zip | *.spdx.json \
            | *-source.tar.xz) return 0 ;;
        *) return 1 ;;
    esac
}

# The name of the first thing in a folder that is no release file, if any.
foreign_file_in() {
    local entry
    for entry in "$1"/* "$1"/.[!.]*; do
        if [ -e "$entry" ] && ! is_release_file "$(basename "$entry")"; then
            basename "$entry"
            return
        fi
    done
}

check_out_folder() {
    local product folder foreign
    for product in "${products[@]}"; do
        folder="$out/$(value_of "$product" name)"
        foreign=$(foreign_file_in "$folder")
        [ -z "$foreign" ] || die "$folder holds $foreign, which is no release file: give a new or empty folder"
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

# With --prune: what an earlier release left of products or versions no longer
# given. A folder of --out goes only if it holds release files and nothing else.
is_among() { local item=$1; shift; printf '%s\n' "$@" | grep -qxF -- "$item"; }

prune_outputs() {
    local folder kit_zip names=() kits=() product
    for product in "${products[@]}"; do
        names+=("$(value_of "$product" name)")
        kits+=("$(value_of "$product" name)-$(value_of "$product" version)-windows-tests.zip")
    done
    for folder in "$out"/*/; do
        folder=${folder%/}
        if [ ! -d "$folder" ] || is_among "$(basename "$folder")" "${names[@]}" \
            || [ -n "$(foreign_file_in "$folder")" ]; then
            continue
        fi
        progress "removing $folder: no product given has its release there"
        rm -rf "$folder"
    done
    [ -n "$kit_out" ] || return 0
    for kit_zip in "$kit_out"/*-windows-tests.zip; do
        if [ ! -f "$kit_zip" ] || is_among "$(basename "$kit_zip")" "${kits[@]}"; then continue; fi
        progress "removing $kit_zip: no product given has that kit"
        rm -f "$kit_zip"
    done
}

# A line for each step, as it begins: a release takes a while.
progress() { echo "make-release.sh: $*"; }

# The finished MSI is signed: the signature covers the whole package.
sign_msi() {
    local msi=$1
    [ "$signing" = yes ] || return 0
    mv "$stage/$msi" "$stage/unsigned.msi"
    sign_file "$stage/unsigned.msi" "$stage/$msi"
}

# The trusted comment is signed with the sums and shown by every verification:
# it says which product and version they are of. Left without minisign's
# default timestamp, one key signs one list to the same bytes.
sign_sums() {
    local sums=$1
    progress "$name $version: $sums.minisig"
    minisign -S -s "$sums_key" -t "$name $version: SHA256SUMS of its release" -m "$stage/$sums" >/dev/null \
        || die "minisign could not sign $name's $sums with $sums_key (a wrong password?)"
}

# The sums, and their signature, are made before the folder is touched: a
# signing that fails leaves the earlier release there as it was.
publish() {
    local folder="$out/$name" msi=$1 zip=$2 sbom=$3 source=$4 kit_zip=$5 sums=("$name-$version.SHA256SUMS")
    (cd "$stage" && sha256sum "$msi" "$zip" "$sbom" "$source" >"${sums[0]}")
    if [ -n "$sums_key" ]; then
        sign_sums "${sums[0]}"
        sums+=("${sums[0]}.minisig")
    fi
    clear_out_folder "$folder"
    cp "$stage/$msi" "$stage/$zip" "$stage/$sbom" "$stage/$source" "${sums[@]/#/$stage/}" "$folder/"
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

    progress "$name $version: the launcher$([ "$signing" = no ] || echo ", signed"), the notices"
    stage_launcher
    list_release_sources
    build_notices
    progress "$name $version: $msi"
    build_msi "$msi"
    sign_msi "$msi"
    progress "$name $version: $zip"
    build_zip "$zip"
    progress "$name $version: $source"
    build_source_archive "$source"
    progress "$name $version: $sbom"
    build_sbom "$sbom" "$msi" "$zip" "$source"
    if [ -n "$kit" ]; then
        progress "$name $version: $kit_zip"
        build_kit "$kit_zip"
    fi
    publish "$msi" "$zip" "$sbom" "$source" "$kit_zip"
    progress "$name $version: released in $out/$name"
    rm -rf "$stage"
}

# A value of the unpacked source archive's release-inputs.
recorded() { sed -n "s/^$1 //p" "$repo/$inputs_record"; }

# The files of an unpacked source archive that are the project's: all but
# what make-release.sh added and the build's folder.
archive_files() {
    (cd "$repo" && find . -path ./build -prune -o -path "./$sources_folder" -prune \
        -o \( -type f -o -type l \) ! -path "./$inputs_record" ! -path "./$files_record" \
        ! -path "./$sources_licence" -printf '%P\0' | LC_ALL=C sort -z)
}

# Whether an unpacked source archive holds anything but the files it came with.
archive_is_changed() {
    [ "$(archive_files | tr '\0' '\n')" != "$(cut -c 67- "$repo/$files_record")" ] \
        || ! (cd "$repo" && sha256sum --quiet --strict -c "$files_record" >/dev/null 2>&1)
}

# The project's files, NUL-separated, as the source archive is to hold them:
# a clone's files that git keeps or would keep (its tree as it is, which is
# the commit when nothing is uncommitted), or an unpacked archive's own.
project_files() {
    local file
    if [ "$source_kind" = archive ]; then
        archive_files
    else
        git -C "$repo" ls-files -z --cached --others --exclude-standard | LC_ALL=C sort -zu \
            | while IFS= read -r -d '' file; do
                if [ -e "$repo/$file" ] || [ -L "$repo/$file" ]; then printf '%s\0' "$file"; fi
            done
    fi
}

# What the sources are: the commit of the git clone this script is in, or
# what an unpacked source archive records; and whether the tree holds
# anything the commit (or the archive) does not, which only
# --allow-uncommitted lets through, as a test release. Sets source_kind,
# commit, commit_time and uncommitted.
read_sources() {
    local changed=no
    if [ -f "$repo/$inputs_record" ]; then
        source_kind=archive
        commit=$(recorded commit) commit_time=$(recorded commit-time) uncommitted=$(recorded uncommitted-changes)
        [[ $commit =~ ^[0-9a-f]{40}$ && $commit_time =~ ^[0-9]+$ && $uncommitted =~ ^(yes|no)$ ]] \
            || die "$repo/$inputs_record does not say which commit this source archive holds"
        if archive_is_changed; then changed=yes; fi
    elif [ "$(git -C "$repo" rev-parse --show-toplevel 2>/dev/null)" = "$repo" ] \
        && commit=$(git -C "$repo" rev-parse --verify --quiet HEAD); then
        source_kind=git uncommitted=no
        commit_time=$(git -C "$repo" log -1 --format=%ct)
        [ -z "$(git -C "$repo" status --porcelain --untracked-files=normal)" ] || changed=yes
    else
        die "$repo is neither a git clone with a commit nor an unpacked source archive (with its $inputs_record)"
    fi
    # sha256sum writes such a name escaped: a newline becomes a backslash here, and either stops it.
    if project_files | tr '\n\0' '\\\n' | grep -qF "\\"; then
        die "a file name of $repo holds a newline or a backslash, which the source archive's sums cannot name plainly"
    fi
    [ "$changed" = yes ] || return 0
    [ "$allow_uncommitted" = yes ] || die "$repo holds changes that are not committed, or files that git neither" \
        "keeps nor ignores (in a source archive: files other than it holds): a release's source archive must hold" \
        "what built it. Commit them, or give --allow-uncommitted to make a test release, marked as one"
    uncommitted=yes
}

# What marks a test release.
test_release_mark() { echo "Test release, made from changes not committed on top of commit $commit"; }

# What the product is, for Add/Remove Programs.
msi_comments() {
    if [ "$uncommitted" = yes ]; then
        echo "$(test_release_mark): starts $host for $name."
    else
        echo "Starts $host for $name."
    fi
}

main() {
    local product
    parse_options "$@"
    read_sources
    [ "$uncommitted" = no ] || echo "make-release.sh: warning: $(test_release_mark)." >&2
    # Archive formats keep local times: UTC makes them the same wherever this runs.
    export TZ=UTC
    # The source archive records the commit's time, from which a rebuild dates
    # every file: a release dated otherwise could not be made again from it.
    SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$commit_time}
    [ "$SOURCE_DATE_EPOCH" = "$commit_time" ] || die "SOURCE_DATE_EPOCH is $SOURCE_DATE_EPOCH, not the time of" \
        "the commit ($commit_time), which the source archive records: configure the build again" \
        "(cmake --preset windows-x86), or leave SOURCE_DATE_EPOCH unset"
    export SOURCE_DATE_EPOCH
    stage=""
    trap 'rm -rf "$stage"' EXIT
    [ "$prune" = no ] || prune_outputs
    for product in "${products[@]}"; do
        release_product "$product"
    done
}

main "$@"
