#!/usr/bin/env bash
# Usage: tools/setup.sh
# Installs everything the build and the tests need, and keeps in build/deps
# what the release reads of Debian's source packages: the whole source
# package of JUCE, at the installed version, for the release's Corresponding
# Source; of the compiler's run-time (System Libraries) the .dsc of each
# source, whose SHA-256 the bill of materials names, and its components' own
# licence files, which the notices carry.
# In a source archive unpacked (it holds release-inputs), those come from its
# debian-source-packages/ alone: nothing is downloaded for them, and one that
# is missing there stops the set-up.
# Idempotent: a second run installs and downloads nothing. Uses apt-get: run
# it as root or with sudo.
set -euo pipefail

# shellcheck source=usage.sh
source "$(dirname "$0")/usage.sh" "$@"
deps="$repo/build/deps"
archive_sources="$repo/debian-source-packages"
in_archive=no
[ ! -f "$repo/release-inputs" ] || in_archive=yes

# shellcheck source=apt.sh
source "$repo/tools/apt.sh"

# libz-mingw-w64-dev: the zlib the Windows tests link with juce_core; the
# launcher itself links no zlib.
packages=(
    cmake ninja-build g++ zlib1g-dev googletest
    clang-14 libclang-rt-14-dev
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev
    g++-mingw-w64-x86-64-posix
    juce-modules-source-data
    wine wine64 wine32:i386 xvfb xauth xdotool
    icoutils imagemagick file
    openssl osslsigncode minisign unzip
    wixl msitools fonts-wine
    dpkg-dev python3 python3-jsonschema python3-pytest python3-yaml python3-mypy python3-debian
    python3-license-expression
    git xz-utils reuse
    clang-format-14 shellcheck
    mono-mcs
)

install_packages() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    install_missing_packages "${packages[@]}" || exit 1
}

# Source entries mirror the binary ones, so no archive address is written here.
enable_source_packages() {
    local list=/etc/apt/sources.list.d/debian.sources
    local src=/etc/apt/sources.list.d/launchers-deb-src.sources
    [ -f "$src" ] && return
    sed -e 's/^Types:.*/Types: deb-src/' "$list" | as_root tee "$src" >/dev/null
    update_package_lists || exit 1
}

# The files a .dsc names: itself and those of its Files field.
dsc_files() {
    basename "$1"
    sed -n '/^Files:/,/^[^ ]/s/^ [0-9a-f]* [0-9]* //p' "$1"
}

# Which of a .dsc and the files it names its folder lacks.
missing_files() {
    local dsc=$1 file
    if [ ! -f "$dsc" ]; then
        basename "$dsc"
        return
    fi
    for file in $(dsc_files "$dsc"); do
        [ -f "$(dirname "$dsc")/$file" ] || echo "$file"
    done
}

is_whole() { [ -z "$(missing_files "$1")" ]; }

# What an earlier version, or a download that failed half-way, left in a
# package's folder goes, so that it holds one source package and no more.
keep_only() {
    local dir=$1 file; shift
    for file in "$dir"/*; do
        [ -f "$file" ] || continue
        printf '%s\n' "$@" | grep -qxF -- "$(basename "$file")" || rm -f "$file"
    done
}

# Stops the set-up of an unpacked source archive that lacks files of Debian's
# source package SOURCE VERSION: FILE...
lacking_in_archive() {
    local source=$1 version=$2; shift 2
    echo "setup: this source archive's debian-source-packages/$source/ lacks Debian's source package" \
        "$source $version ($*), which the release reads: the archive is incomplete, or the installed" \
        "packages are not those it was built with (docs/release.md, \"Rebuilding from the source archive\")" >&2
    exit 1
}

# Downloads a source package's files into a folder (apt checks every file
# against the signed lists), or in an unpacked source archive stops: there,
# everything must come from the archive.
fetch_source() {
    local dir=$1 source=$2 version=$3; shift 3
    local missing
    if [ "$in_archive" = yes ]; then
        mapfile -t missing < <(missing_files "$dir/${source}_${version#*:}.dsc")
        lacking_in_archive "$source" "$version" "${missing[@]}"
    fi
    enable_source_packages
    mkdir -p "$dir"
    # Lists read before this version was published do not name it yet.
    (cd "$dir" && apt-get source --download-only -qq "$@" "$source=$version" >/dev/null 2>&1) || {
        update_package_lists_once || exit 1
        (cd "$dir" && apt-get source --download-only -qq "$@" "$source=$version" >/dev/null 2>&1)
    }
}

# "SOURCE VERSION" of an installed package.
installed_source() { dpkg-query -W -f='${source:Package} ${source:Version}\n' "$1"; }

# The whole source package SOURCE VERSION in build/deps/SOURCE.
keep_source_package() {
    local source=$1 version=$2 dir="$deps/$1" dsc wanted=()
    dsc="$dir/${source}_${version#*:}.dsc"
    is_whole "$dsc" || fetch_source "$dir" "$source" "$version" || true
    is_whole "$dsc" || {
        echo "setup: cannot download Debian's source package $source $version, which the release must carry;" \
            "if a newer version is listed, upgrade to it (apt-get install --only-upgrade of its package)" >&2
        exit 1
    }
    mapfile -t wanted < <(dsc_files "$dsc")
    keep_only "$dir" "${wanted[@]}"
}

# The .dsc of SOURCE VERSION in build/deps/SOURCE, and the licence files of
# the source package that the release reads (installer/release/licences.py),
# below licence-files/ there: unpacked with dpkg-source, which checks the
# files against the .dsc and applies Debian's patches, and kept as they are.
keep_dsc_and_licences() {
    local source=$1 version=$2 dir="$deps/$1" dsc file licences=() missing=()
    dsc="$dir/${source}_${version#*:}.dsc"
    mapfile -t licences < <("$repo/installer/release.sh" licence-files "$source")
    for file in "${licences[@]}"; do
        [ -f "$dir/licence-files/$file" ] || missing+=("licence-files/$file")
    done
    [ -f "$dsc" ] || missing+=("$(basename "$dsc")")
    if [ ${#missing[@]} -gt 0 ]; then
        [ "$in_archive" = no ] || lacking_in_archive "$source" "$version" "${missing[@]}"
        fetch_licences "$dir" "$source" "$version" "${licences[@]}"
    fi
    [ -f "$dsc" ] || {
        echo "setup: cannot download the .dsc of Debian's source package $source $version," \
            "which the bill of materials names" >&2
        exit 1
    }
    keep_only "$dir" "$(basename "$dsc")"
}

# Downloads a source package into a folder and keeps its .dsc and the
# licence files given, the whole package only when there are any.
fetch_licences() {
    local dir=$1 source=$2 version=$3 work file; shift 3
    if [ $# -eq 0 ]; then
        fetch_source "$dir" "$source" "$version" --dsc-only || true
        return
    fi
    fetch_source "$dir" "$source" "$version" || true
    work=$(mktemp -d)
    dpkg-source -x "$dir/${source}_${version#*:}.dsc" "$work/src" >/dev/null 2>&1 || {
        rm -rf "$work"
        echo "setup: dpkg-source could not unpack Debian's source package $source $version" >&2
        exit 1
    }
    for file in "$@"; do
        install -D -m 644 "$work/src/$file" "$dir/licence-files/$file"
    done
    rm -rf "$work"
}

# In an unpacked source archive: its Debian source packages, and nothing
# else, as build/deps holds them. What is missing there, or is there at
# another version than the one installed, stops the set-up below.
take_archive_sources() {
    [ -d "$archive_sources" ] || {
        echo "setup: this source archive holds no debian-source-packages/: it is incomplete" >&2
        exit 1
    }
    rm -rf "$deps"
    mkdir -p "$deps"
    cp -R "$archive_sources/." "$deps/"
}

# JUCE is compiled from its modules as Debian installed them: its source
# package goes into the release's Corresponding Source, so without it there
# is no release. The compiler's run-time libraries are System Libraries: of
# their sources only the .dsc is kept (of gcc's run-time, those of
# gcc-mingw-w64, which built it, and of gcc-12, which Debian built it from,
# as its Built-Using field says), and the licence files of mingw-w64's
# components.
keep_release_sources() {
    local source version built_using
    read -r source version < <(installed_source juce-modules-source-data)
    keep_source_package "$source" "$version"
    read -r source version < <(installed_source mingw-w64-i686-dev)
    keep_dsc_and_licences "$source" "$version"
    read -r source version < <(installed_source gcc-mingw-w64-i686-posix)
    keep_dsc_and_licences "$source" "$version"
    built_using=$(dpkg-query -W -f='${Built-Using}' gcc-mingw-w64-i686-posix)
    [[ $built_using =~ ^([a-z0-9.+-]+)\ \(=\ ([^\)]+)\)$ ]] || {
        echo "setup: gcc-mingw-w64-i686-posix names no single source it was built from: '$built_using'" >&2
        exit 1
    }
    keep_dsc_and_licences "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
}

install_packages
# What an earlier set-up kept that the release no longer reads: the libraries
# it built for the launcher, which links none of them now.
rm -rf "$deps/mingw-i686" "$deps/zlib" "$deps/libpng" "$deps/libjpeg-turbo"
[ "$in_archive" = no ] || take_archive_sources
keep_release_sources
# shellcheck source=node-packages.sh
source "$repo/tools/node-packages.sh"
[ "$in_archive" = yes ] || install_node_packages || exit 1
