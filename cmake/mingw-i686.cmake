# Cross toolchain for 32-bit x86 Windows with MinGW-w64. The -posix compilers
# are needed: the win32 thread model lacks parts of the C++ thread library
# that JUCE uses.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

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
set(CMAKE_NM i686-w64-mingw32-nm)
set(CMAKE_DLLTOOL i686-w64-mingw32-dlltool)
