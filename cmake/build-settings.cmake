# What every program of the build shares, the sample host built for 64-bit
# Windows as a project of its own included: the language, warnings, and what
# makes two builds of one commit give identical files.
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

# JUCE records its compilation date from __DATE__ and __TIME__. Pinned to the
# time of the commit, two builds of one commit give identical files: the
# commit of the git clone this is, or in an unpacked source archive, the
# commit its release-inputs records. Anything else has no commit time, and
# stops the configure rather than build files that no commit stands for.
set(release_inputs "${launcher_clone}/release-inputs")
set(commit_time "")
if(EXISTS "${release_inputs}")
    file(STRINGS "${release_inputs}" commit_time REGEX "^commit-time [0-9]+$")
    string(REPLACE "commit-time " "" commit_time "${commit_time}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${release_inputs}")
    check_recorded_toolchain("${release_inputs}")
else()
    execute_process(COMMAND git rev-parse --show-toplevel
        WORKING_DIRECTORY "${launcher_clone}"
        OUTPUT_VARIABLE git_top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    file(REAL_PATH "${launcher_clone}" real_clone)
    if(git_top AND git_top STREQUAL real_clone)
        execute_process(COMMAND git log -1 --format=%ct
            WORKING_DIRECTORY "${launcher_clone}"
            OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        # A new commit changes git's index and the log of HEAD: the build is
        # configured again for its time, rather than go on dating its files,
        # and its release, with the time of the commit it was configured at.
        execute_process(COMMAND git rev-parse --path-format=absolute --git-path index --git-path logs/HEAD
            WORKING_DIRECTORY "${launcher_clone}"
            OUTPUT_VARIABLE git_files OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        string(REPLACE "\n" ";" git_files "${git_files}")
        foreach(file IN LISTS git_files)
            if(EXISTS "${file}")
                set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
            endif()
        endforeach()
    endif()
endif()
if(NOT commit_time MATCHES "^[0-9]+$")
    message(FATAL_ERROR "${launcher_clone} is neither a git clone with a commit nor an unpacked source archive "
        "(its release-inputs): the build has no commit time to pin its files' dates to")
endif()
# The copyright year every launcher states is the commit's, like every other date in it.
execute_process(COMMAND date -u -d "@${commit_time}" +%Y
    OUTPUT_VARIABLE LAUNCHER_COPYRIGHT_YEAR OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(CMAKE_C_COMPILER_LAUNCHER "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=${commit_time})
set(CMAKE_CXX_COMPILER_LAUNCHER "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=${commit_time})

if(WIN32)
    # Lets the linker drop whatever of JUCE the launcher never reaches.
    add_compile_options(-ffunction-sections -fdata-sections)
    # Every Windows program and DLL here, the test kit's included, is the same
    # file in any clone: no link time in its header, and the source paths that
    # test assertions keep written relative to the clone.
    add_link_options(-Wl,--no-insert-timestamp)
    add_compile_options("-ffile-prefix-map=${launcher_clone}/=")
    # Fully static: a clean Windows has no MinGW run-time DLLs.
    set(LAUNCHER_STATIC_LINK -static -Wl,--gc-sections)
endif()
