# Cross toolchain for 64-bit x86 Windows with MinGW-w64, for the sample host
# that stands for the 64-bit host most users run.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw_triplet x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake")
