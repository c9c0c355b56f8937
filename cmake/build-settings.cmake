# What every program of the build shares, the sample host built for 64-bit
# Windows as a project of its own included: the language, warnings, and what
# makes two builds of one commit give identical files (the commit's year, which
# only the version resources embed, is cmake/commit-time.cmake's).
get_filename_component(launcher_clone "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

set(LAUNCHER_WARNINGS -Wall -Wextra)
# A warning is a fault here (a refusal left out of a switch shows an empty
# reason), so a fresh build folder, CI's, stops at one. No preset sets it: a
# developer whose newer compiler warns of more turns it off once, and the
# cache keeps that across every later `cmake --preset`.
option(LAUNCHER_WARNINGS_AS_ERRORS "Stop the build at a warning in the project's own code" ON)
if(LAUNCHER_WARNINGS_AS_ERRORS)
    list(APPEND LAUNCHER_WARNINGS -Werror)
endif()

if(WIN32)
    # Lets the linker drop whatever of JUCE the launcher never reaches.
    add_compile_options(-ffunction-sections -fdata-sections)
    # Every Windows program and DLL here, the test kit's included, is the same
    # file in any clone: no link time in its header, and the source paths that
    # test assertions keep written relative to the clone.
    add_link_options(-Wl,--no-insert-timestamp)
    add_compile_options("-ffile-prefix-map=${launcher_clone}/=")
    # Fully static: a clean Windows has no MinGW run-time DLLs. Seen here: without
    # -static, `objdump -p` lists libstdc++-6.dll and libgcc_s_dw2-1.dll among the imports.
    set(LAUNCHER_STATIC_LINK -static -Wl,--gc-sections)
endif()
