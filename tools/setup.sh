#!/usr/bin/env bash
# Installs everything the build and the tests need, and builds the cross
# target's libpng and libjpeg-turbo from Debian's source packages, with
# Debian's patches applied. The source versions used are recorded in
# build/deps/mingw-i686/debian-sources for the bill of materials.
# Idempotent: a second run installs nothing and builds nothing, unless the
# package lists now name another source version.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
deps="$repo/build/deps"
prefix="$deps/mingw-i686"

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
    cmake ninja-build g++ zlib1g-dev googletest
    clang-14 libclang-rt-14-dev
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 libz-mingw-w64-dev
    juce-modules-source-data
    wine wine32:i386 xvfb xauth xdotool
    icoutils imagemagick file
    openssl osslsigncode unzip
    wixl msitools fonts-wine
    dpkg-dev python3 python3-jsonschema
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
    local src=/etc/apt/sources.list.d/tessalune-deb-src.sources
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

# Fetches the newest source version of a package that downloads whole and
# prints the path of its .dsc. A mirror has been seen to answer 404 for the
# newest .dsc while older listed versions download whole, so each listed
# version is tried in turn. apt checks every file against the signed lists.
download_source() {
    local pkg=$1 dir=$2 version dsc tried=()
    rm -rf "$dir"
    mkdir -p "$dir"
    for version in $(listed_source_versions "$pkg"); do
        tried+=("$version")
        # The file names leave out the epoch.
        dsc="$dir/${pkg}_${version#*:}.dsc"
        (cd "$dir" && apt-get source --download-only -qq "$pkg=$version" >/dev/null 2>&1) && [ -f "$dsc" ] \
            && { echo "$dsc"; return; }
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
cross_build_recipe="4 $cross_c_flags"

cross_build() {
    local src=$1; shift
    cmake -S "$src" -B "$src/_build" -G Ninja -Wno-dev \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_C_FLAGS="$cross_c_flags" -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_PREFIX_PATH="$prefix" "$@" >/dev/null
    cmake --build "$src/_build" >/dev/null
    cmake --install "$src/_build" >/dev/null
}

# What the libraries are built from: the recipe and the source versions listed
# now. A new Debian revision in the lists (after an apt-get update) rebuilds them.
cross_build_inputs() {
    local pkg versions
    echo "$cross_build_recipe"
    for pkg in libjpeg-turbo libpng1.6; do
        versions=$(listed_source_versions "$pkg")
        echo "$pkg ${versions%%$'\n'*}"
    done
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

build_from_source() {
    local pkg=$1 dir=$2 library=$3 dsc; shift 3
    dsc=$(download_source "$pkg" "$dir")
    unpack_source "$dsc" "$dir/src"
    cross_build "$dir/src" "$@"
    record_source "$library" "$dsc" "$dir/src"
}

build_cross_libraries() {
    local stamp="$prefix/build-inputs"
    enable_source_packages
    # A source list added just now has not been read yet.
    [ "$apt_updated" -eq 1 ] || [ -n "$(listed_source_versions libpng1.6)" ] || apt_update_once
    [ -f "$prefix/lib/libpng16.a" ] && [ -f "$prefix/lib/libjpeg.a" ] && [ -f "$prefix/include/jpegint.h" ] \
        && [ "$(cat "$stamp" 2>/dev/null)" = "$(cross_build_inputs)" ] && return
    rm -rf "$prefix"
    mkdir -p "$prefix"
    # A fixed build name: by default it is the day of the build, which would
    # end up in the launcher and make two builds differ.
    build_from_source libjpeg-turbo "$deps/libjpeg-turbo" libjpeg.a \
        -DWITH_SIMD=0 -DENABLE_SHARED=0 -DWITH_TURBOJPEG=0 -DBUILD=debian-source
    # JUCE's JPEG loader reaches into the library's internals.
    cp "$deps/libjpeg-turbo/src/jpegint.h" "$prefix/include/"
    build_from_source libpng1.6 "$deps/libpng" libpng16.a -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
    cross_build_inputs >"$stamp"
}

install_packages
build_cross_libraries
