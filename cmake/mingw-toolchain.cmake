# What both MinGW-w64 toolchain files say, for the target whose triplet the
# including file sets as mingw_triplet (i686-w64-mingw32, x86_64-w64-mingw32).
# The -posix compilers are needed: the win32 thread model lacks parts of the
# C++ thread library that JUCE uses.
# https://github.com/mingw-w64/mingw-w64/issues/33
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
