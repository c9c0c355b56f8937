# The Debian packages whose versions shape the build's files, checked against
# this machine's at each configure.
#
# In a clone, toolchain.lock names the versions the build was last built and
# tested with, which its workarounds cite. Another version is said in one
# line, as the build may still be right (a newcomer's machine is at whatever
# point release Debian is at): the lock is bumped once it is proven
# (docs/maintaining.md), and only a signed or tagged release stops.
#
# An unpacked source archive (it holds release-inputs) is built to give its
# release's files again, so it is checked against what that release was
# built with, release-inputs' "toolchain PACKAGE VERSION" lines, not against
# the lock it carries: a release made with other versions than its lock
# (told to accept them) records those. Another version stops the configure,
# naming each package, unless LAUNCHER_ACCEPT_OTHER_TOOLCHAIN is set
# (docs/release.md says when that is safe).
#
# As a script (cmake -DSOURCE_DIR=... [-DLAUNCHER_ACCEPT_OTHER_TOOLCHAIN=ON]
# -P) it checks the clone or unpacked archive at SOURCE_DIR.
include_guard(GLOBAL)

# The "PACKAGE VERSION" entries of a lock; a line that is neither one nor a
# comment stops the configure, as it stops the release.
function(read_toolchain_lock lock out_var)
    if(NOT EXISTS "${lock}")
        message(FATAL_ERROR "${lock} is missing: it names the Debian packages this build was tested with")
    endif()
    file(READ "${lock}" text)
    string(REGEX REPLACE "#[^\n]*" "" text "${text}")
    # Debian's names and versions hold none of the characters that would
    # split CMake's lists elsewhere than at a line's end.
    if(text MATCHES "[][;\\\\]")
        message(FATAL_ERROR "${lock} holds a '[', ']', ';' or '\\' outside its comments: no package or version does")
    endif()
    string(REPLACE "\n" ";" lines "${text}")
    set(entries)
    foreach(line IN LISTS lines)
        string(STRIP "${line}" line)
        if(line STREQUAL "")
            continue()
        elseif(NOT line MATCHES "^([^ \t]+)[ \t]+([^ \t]+)$")
            message(FATAL_ERROR "${lock} holds a line that is no \"PACKAGE VERSION\": ${line}")
        endif()
        list(APPEND entries "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
    endforeach()
    set(${out_var} "${entries}" PARENT_SCOPE)
endfunction()

# The "PACKAGE VERSION" entries an unpacked source archive's release was built with.
function(read_recorded_toolchain release_inputs out_var)
    file(STRINGS "${release_inputs}" lines REGEX "^toolchain [^ ]+ [^ ]+$")
    list(TRANSFORM lines REPLACE "^toolchain " "")
    set(${out_var} "${lines}" PARENT_SCOPE)
endfunction()

# Each entry whose package is installed at another version than the entry's,
# or not at all, as "PACKAGE INSTALLED (HELD_BY: VERSION)".
# A library installed for several architectures has a version for each under
# its bare name, of which none is the build's: such a name stops the configure.
function(toolchain_differences out_var held_by)
    set(differences "")
    foreach(entry IN LISTS ARGN)
        string(REPLACE " " ";" entry "${entry}")
        list(GET entry 0 package)
        list(GET entry 1 recorded)
        execute_process(COMMAND dpkg-query -W "--showformat=\${Version}\n" "${package}"
            OUTPUT_VARIABLE installed RESULT_VARIABLE not_installed ERROR_QUIET)
        string(STRIP "${installed}" installed)
        if(installed MATCHES "\n")
            message(FATAL_ERROR "${package} is known to dpkg for several architectures: name it with the build "
                "machine's, as ${package}:ARCH (toolchain.lock says why)")
        elseif(not_installed OR NOT installed)
            set(installed "not installed")
        endif()
        if(NOT installed STREQUAL recorded)
            list(APPEND differences "${package} ${installed} (${held_by}: ${recorded})")
        endif()
    endforeach()
    set(${out_var} "${differences}" PARENT_SCOPE)
endfunction()

# In a clone, only the cross build, which makes the release's files, says it,
# in one line.
function(check_toolchain_lock lock)
    if(NOT CMAKE_CROSSCOMPILING AND NOT CMAKE_SCRIPT_MODE_FILE)
        return()
    endif()
    read_toolchain_lock("${lock}" locked)
    toolchain_differences(differences locked ${locked})
    if(differences)
        list(JOIN differences ", " differences)
        message(NOTICE "toolchain.lock: this machine's Debian packages differ from the lock: ${differences}; the "
            "build goes on, a release says so and its source archive records them, and a signed or tagged release "
            "stops (docs/maintaining.md, \"Bumping the toolchain lock\")")
    endif()
endfunction()

function(check_recorded_toolchain release_inputs)
    read_recorded_toolchain("${release_inputs}" built_with)
    toolchain_differences(differences "the archive was built with" ${built_with})
    list(JOIN differences "\n  " differences)
    if(differences AND LAUNCHER_ACCEPT_OTHER_TOOLCHAIN)
        message(WARNING "Built with another toolchain than this source archive's release:\n  ${differences}\n"
            "The files made will differ from the release's.")
    elseif(differences)
        message(FATAL_ERROR "This source archive's release was built with other Debian packages than this "
            "machine has:\n  ${differences}\nInstall those versions, or see docs/release.md (\"Rebuilding from "
            "the source archive\") for when -DLAUNCHER_ACCEPT_OTHER_TOOLCHAIN=ON is safe.")
    endif()
endfunction()

# The configure runs again when what it checked against changes.
function(check_toolchain source_dir)
    if(EXISTS "${source_dir}/release-inputs")
        set(record "${source_dir}/release-inputs")
        check_recorded_toolchain("${record}")
    else()
        set(record "${source_dir}/toolchain.lock")
        check_toolchain_lock("${record}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${record}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    check_toolchain("${SOURCE_DIR}")
    return()
endif()

option(LAUNCHER_ACCEPT_OTHER_TOOLCHAIN
    "Build an unpacked source archive with other toolchain versions than it records" OFF)
check_toolchain("${PROJECT_SOURCE_DIR}")
