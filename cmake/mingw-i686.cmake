# Cross toolchain for 32-bit x86 Windows with MinGW-w64: the launchers, the
# tests and the 32-bit sample host.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(mingw_triplet i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake")

# Without "..": the first configure would find the libraries below by a path
# spelt with it and the next by the plain path the cache keeps, so every
# reconfigure changed the compile lines and rebuilt JUCE and the launcher.
get_filename_component(launcher_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

# Cross-built programs, tests included, run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "${launcher_source_dir}/tools/wine-run.sh")

# zlib, libpng and libjpeg-turbo for this target, built by tools/setup.sh:
# searched first, so that a zlib of the toolchain's own is never taken.
list(PREPEND CMAKE_FIND_ROOT_PATH "${launcher_source_dir}/build/deps/mingw-i686")

# Builds delay-import libraries (cmake/delay-load.cmake).
set(CMAKE_NM ${mingw_triplet}-nm)
set(CMAKE_DLLTOOL ${mingw_triplet}-dlltool)
