# What every program of the build shares, the sample host built for 64-bit
# Windows as a project of its own included: the language, warnings, and what
# makes two builds of one commit give identical files (the commit's time, which
# few files embed, is cmake/commit-time.cmake's).
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

# An unpacked source archive is built with the toolchain its release was
# built with, which release-inputs records ("toolchain PACKAGE VERSION"
# lines): another gives other files, so it stops the configure, naming each
# package that differs, unless LAUNCHER_ACCEPT_OTHER_TOOLCHAIN is set
# (docs/release.md says when that is safe).
option(LAUNCHER_ACCEPT_OTHER_TOOLCHAIN "Build an unpacked source archive with other toolchain versions than it records" OFF)
function(check_recorded_toolchain release_inputs)
    file(STRINGS "${release_inputs}" recorded REGEX "^toolchain ")
    set(differences)
    foreach(line IN LISTS recorded)
        string(REGEX REPLACE "^toolchain ([^ ]+) (.+)$" "\\1;\\2" entry "${line}")
        list(GET entry 0 package)
        list(GET entry 1 version)
        execute_process(COMMAND dpkg-query -W --showformat=\${Version} "${package}"
            OUTPUT_VARIABLE installed RESULT_VARIABLE not_installed ERROR_QUIET)
        if(not_installed OR NOT installed)
            set(installed "not installed")
        endif()
        if(NOT installed STREQUAL version)
            string(APPEND differences "\n  ${package}: the archive was built with ${version}, this machine has ${installed}")
        endif()
    endforeach()
    if(differences AND LAUNCHER_ACCEPT_OTHER_TOOLCHAIN)
        message(WARNING "Built with another toolchain than this source archive's release:${differences}\n"
            "The files made will differ from the release's.")
    elseif(differences)
        message(FATAL_ERROR "This source archive's release was built with other Debian packages than this "
            "machine has:${differences}\nInstall those versions, or see docs/release.md (\"Rebuilding from the "
            "source archive\") for when -DLAUNCHER_ACCEPT_OTHER_TOOLCHAIN=ON is safe.")
    endif()
endfunction()

# An unpacked source archive records what its release was built with.
if(EXISTS "${launcher_clone}/release-inputs")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${launcher_clone}/release-inputs")
    check_recorded_toolchain("${launcher_clone}/release-inputs")
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
