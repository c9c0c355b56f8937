# Cross toolchain for 32-bit x86 Windows with MinGW-w64: the launchers, the
# tests and the 32-bit sample host.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(mingw_triplet i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake")

# Cross-built programs, tests included, run under Wine.
get_filename_component(launcher_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${launcher_source_dir}/tools/wine-run.sh")

# Builds delay-import libraries (cmake/delay-load.cmake).
set(CMAKE_NM ${mingw_triplet}-nm)
set(CMAKE_DLLTOOL ${mingw_triplet}-dlltool)
