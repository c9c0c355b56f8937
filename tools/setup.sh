#!/usr/bin/env bash
# Usage: tools/setup.sh
# Installs everything the build and the tests need, and builds the cross
# target's zlib, libpng and libjpeg-turbo from Debian's source packages, with
# Debian's patches applied. The source versions used are recorded in
# build/deps/mingw-i686/debian-sources for the bill of materials, and those
# built in build/deps/mingw-i686/build-inputs. Keeps in build/deps the Debian
# source packages of every library the launcher is linked with, for the
# release's Corresponding Source.
# Idempotent: a second run installs nothing and builds nothing, unless the
# package lists now name a newer source version that downloads. Uses apt-get:
# run it as root or with sudo.
set -euo pipefail

# shellcheck source=usage.sh
source "$(dirname "$0")/usage.sh" "$@"
deps="$repo/build/deps"
prefix="$deps/mingw-i686"

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
    cmake ninja-build g++ zlib1g-dev googletest
    clang-14 libclang-rt-14-dev
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    g++-mingw-w64-x86-64-posix
    juce-modules-source-data
    wine wine64 wine32:i386 xvfb xauth xdotool
    icoutils imagemagick file
    openssl osslsigncode unzip
    wixl msitools fonts-wine
    dpkg-dev python3 python3-jsonschema
    git xz-utils reuse
    clang-format-14 shellcheck
)

missing_packages() {
    local p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}

apt_updated=0
apt_update_once() {
    [ "$apt_updated" -eq 1 ] && return
    as_root apt-get update -qq
    apt_updated=1
}

install_packages() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    local missing
    missing=$(missing_packages)
    [ -z "$missing" ] && return
    apt_update_once
    # shellcheck disable=SC2086
    as_root apt-get install -y -qq --no-install-recommends $missing
}

# Source entries mirror the binary ones, so no archive address is written here.
enable_source_packages() {
    local list=/etc/apt/sources.list.d/debian.sources
    local src=/etc/apt/sources.list.d/launchers-deb-src.sources
    [ -f "$src" ] && return
    sed -e 's/^Types:.*/Types: deb-src/' "$list" | as_root tee "$src" >/dev/null
    apt_updated=0
}

# The source versions the package lists name, newest first by Debian's ordering.
listed_source_versions() {
    local versions version newest
    versions=$(apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -u)
    while [ -n "$versions" ]; do
        newest=$(head -n 1 <<<"$versions")
        for version in $versions; do
            dpkg --compare-versions "$version" gt "$newest" && newest=$version
        done
        echo "$newest"
        versions=$(grep -vxF -- "$newest" <<<"$versions" || true)
    done
}

# The files a .dsc names: itself and those of its Files field.
dsc_files() {
    basename "$1"
    sed -n '/^Files:/,/^[^ ]/s/^ [0-9a-f]* [0-9]* //p' "$1"
}

# What an earlier version, or a download that failed half-way, left in a
# package's folder goes, so that it holds one source package whole.
keep_only_source() {
    local dir=$1 dsc=$2 file wanted
    wanted=$(dsc_files "$dsc")
    for file in "$dir"/*; do
        [ -f "$file" ] || continue
        grep -qxF -- "$(basename "$file")" <<<"$wanted" || rm -f "$file"
    done
}

# Downloads a source package's files into a folder, unless they are there
# whole already (apt skips those); apt checks every file against the signed lists.
fetch_source() {
    local dir=$1; shift
    mkdir -p "$dir"
    (cd "$dir" && apt-get source --download-only -qq "$@" >/dev/null 2>&1)
}

# Said on every run until the newer version can be built, and not only in
# a log: the launcher lacks Debian's latest fixes to the library meanwhile.
warn_newer_version_missing() {
    local pkg=$1 newest=$2 built=$3
    {
        echo "setup: WARNING: Debian's package lists name $pkg $newest, but it cannot be downloaded whole;"
        echo "setup: WARNING: the launcher is built with $pkg $built, without the fixes $newest brings."
        echo "setup: WARNING: run tools/setup.sh again later: it builds $newest as soon as it downloads."
    } >&2
}

# Fetches the newest source version of a package that downloads whole and
# prints the path of its .dsc. A mirror has been seen to answer 404 for the
# newest .dsc while older listed versions download whole, so each listed
# version is tried in turn.
download_source() {
    local pkg=$1 dir=$2 version dsc newest="" tried=()
    for version in $(listed_source_versions "$pkg"); do
        newest=${newest:-$version}
        tried+=("$version")
        # The file names leave out the epoch.
        dsc="$dir/${pkg}_${version#*:}.dsc"
        if fetch_source "$dir" "$pkg=$version" && [ -f "$dsc" ]; then
            [ "$version" = "$newest" ] || warn_newer_version_missing "$pkg" "$newest" "$version"
            keep_only_source "$dir" "$dsc"
            echo "$dsc"
            return
        fi
        echo "setup: $pkg $version is listed but could not be downloaded whole; trying the next listed version" >&2
    done
    echo "setup: cannot get Debian's source package $pkg (versions tried: ${tried[*]:-none listed})." >&2
    echo "setup: the cross build needs it; check that deb-src entries are enabled and reachable." >&2
    exit 1
}

# dpkg-source checks the files against the .dsc's sums and applies Debian's
# patches; the upstream tarball alone lacks Debian's security fixes.
unpack_source() {
    local dsc=$1 src=$2 log
    rm -rf "$src"
    log=$(dpkg-source -x "$dsc" "$src" 2>&1) || {
        echo "$log" >&2
        echo "setup: dpkg-source could not unpack $dsc" >&2
        exit 1
    }
}

# Each function in a section of its own and no unwind tables (C code throws
# nothing), so the launcher's linker can leave out what it never reaches: the
# PE linker keeps every function that has an unwind entry.
cross_c_flags="-ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables"
# Bumped whenever the way these libraries are built changes, so they are rebuilt.
cross_build_recipe="5 $cross_c_flags"

cross_configure() {
    local src=$1; shift
    cmake -S "$src" -B "$src/_build" -G Ninja -Wno-dev \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_C_FLAGS="$cross_c_flags" -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_PREFIX_PATH="$prefix" "$@" >/dev/null
}

cross_build() {
    cross_configure "$@"
    cmake --build "$1/_build" >/dev/null
    cmake --install "$1/_build" >/dev/null
}

# zlib's build also makes its DLL, whose resource script Debian's source
# leaves out: only the static library is built, and installed by hand.
cross_build_zlib() {
    local src=$1
    cross_configure "$src"
    cmake --build "$src/_build" --target zlibstatic >/dev/null
    install -D -m 644 "$src/_build/libzlibstatic.a" "$prefix/lib/libzlibstatic.a"
    install -D -m 644 -t "$prefix/include" "$src/zlib.h" "$src/_build/zconf.h"
}

# "SOURCE VERSION" of a .dsc.
source_version() {
    echo "$(sed -n 's/^Source: //p' "$1") $(sed -n 's/^Version: //p' "$1")"
}

# Records, for the bill of materials, which source package each library was
# built from: "lib/LIBRARY SOURCE" lines in debian-sources, and that package's
# .dsc, Debian copyright file and list of the patches applied in share/doc/SOURCE.
record_source() {
    local library=$1 dsc=$2 src=$3 source doc
    source=$(sed -n 's/^Source: //p' "$dsc")
    doc="$prefix/share/doc/$source"
    echo "lib/$library $source" >>"$prefix/debian-sources"
    mkdir -p "$doc"
    cp "$dsc" "$doc/source.dsc"
    cp "$src/debian/copyright" "$doc/copyright"
    if [ -f "$src/.pc/applied-patches" ]; then
        cp "$src/.pc/applied-patches" "$doc/applied-patches"
    else
        : >"$doc/applied-patches"
    fi
    echo "setup: built $library from Debian's $source $(sed -n 's/^Version: //p' "$dsc")," \
        "$(wc -l <"$doc/applied-patches") Debian patches applied"
}

# BUILDER DSC FOLDER LIBRARY [CMAKE_OPTION...]
build_from_source() {
    local builder=$1 dsc=$2 dir=$3 library=$4; shift 4
    unpack_source "$dsc" "$dir/src"
    "$builder" "$dir/src" "$@"
    record_source "$library" "$dsc" "$dir/src"
}

# What the libraries are built from: the recipe and the source version of each
# that downloads now, which the record then names. A newer Debian revision
# that downloads (after an apt-get update) rebuilds them.
build_cross_libraries() {
    local stamp="$prefix/build-inputs" zlib_dsc jpeg_dsc png_dsc inputs
    zlib_dsc=$(download_source zlib "$deps/zlib")
    jpeg_dsc=$(download_source libjpeg-turbo "$deps/libjpeg-turbo")
    png_dsc=$(download_source libpng1.6 "$deps/libpng")
    inputs=$(printf '%s\n' "$cross_build_recipe" \
        "$(source_version "$zlib_dsc")" "$(source_version "$jpeg_dsc")" "$(source_version "$png_dsc")")
    [ -f "$prefix/lib/libzlibstatic.a" ] && [ -f "$prefix/lib/libpng16.a" ] && [ -f "$prefix/lib/libjpeg.a" ] \
        && [ -f "$prefix/include/jpegint.h" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$inputs" ] && return
    rm -rf "$prefix"
    mkdir -p "$prefix"
    # Debian's cross zlib (libz-mingw-w64) cannot be had as source here, and
    # the release must carry the source of what it links: so zlib is built
    # from Debian's own zlib source, like the two below.
    build_from_source cross_build_zlib "$zlib_dsc" "$deps/zlib" libzlibstatic.a
    # A fixed build name: by default it is the day of the build, which would
    # end up in the launcher and make two builds differ.
    build_from_source cross_build "$jpeg_dsc" "$deps/libjpeg-turbo" libjpeg.a \
        -DWITH_SIMD=0 -DENABLE_SHARED=0 -DWITH_TURBOJPEG=0 -DBUILD=debian-source
    # JUCE's JPEG loader reaches into the library's internals.
    cp "$deps/libjpeg-turbo/src/jpegint.h" "$prefix/include/"
    build_from_source cross_build "$png_dsc" "$deps/libpng" libpng16.a -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
    echo "$inputs" >"$stamp"
}

# The source package of an installed package, at exactly the installed
# version, into build/deps/SOURCE; more options go to apt-get source.
download_installed_source() {
    local package=$1 source version dsc; shift
    read -r source version < <(dpkg-query -W -f='${source:Package} ${source:Version}' "$package")
    dsc="$deps/$source/${source}_${version#*:}.dsc"
    fetch_source "$deps/$source" "$@" "$source=$version" && [ -f "$dsc" ] || return 1
    keep_only_source "$deps/$source" "$dsc"
}

# JUCE is compiled from its modules as Debian installed them: its source
# package goes into the release's Corresponding Source, so without it there
# is no release. The compiler's run-time libraries are System Libraries,
# whose source the release need not carry: of them only the .dsc is kept,
# for the bill of materials to name its SHA-256.
download_installed_sources() {
    local package=juce-modules-source-data
    if ! download_installed_source "$package"; then
        echo "setup: cannot download Debian's source package of $package $(dpkg-query -W -f='${Version}' "$package")," \
            "which the release must carry; if a newer version is listed, upgrade to it:" \
            "apt-get install --only-upgrade $package" >&2
        exit 1
    fi
    for package in mingw-w64-i686-dev gcc-mingw-w64-i686-posix; do
        download_installed_source "$package" --dsc-only \
            || echo "setup: WARNING: no .dsc of the source of $package; the bill of materials names no SHA-256 for it" >&2
    done
}

use_source_packages() {
    enable_source_packages
    # A source list added just now has not been read yet.
    [ "$apt_updated" -eq 1 ] || [ -n "$(listed_source_versions libpng1.6)" ] || apt_update_once
}

install_packages
use_source_packages
build_cross_libraries
download_installed_sources
