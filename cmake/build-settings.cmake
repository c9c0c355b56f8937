# What every program of the build shares, the sample host built for 64-bit
# Windows as a project of its own included: the language, warnings, and what
# makes two builds of one commit give identical files (the commit's year, which
# only the version resources embed, is cmake/commit-time.cmake's).
get_filename_component(launcher_clone "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

set(LAUNCHER_WARNINGS -Wall -Wextra)
# On in the presets the tests use, where a warning is a fault (a refusal left
# out of a switch shows an empty reason); off by default, for whoever builds
# with a newer compiler that warns of more.
option(LAUNCHER_WARNINGS_AS_ERRORS "Stop the build at a warning in the project's own code" OFF)
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
