# The year of the commit the build stands for, which each launcher's version
# resource names in its copyright, and nothing else embeds: read at every
# build, so a commit followed by a build gives what a fresh clone of that
# commit gives, and rebuilds the version resources only in the commit that
# changes the year. (JUCE's build stamp is its package's date, cmake/juce.cmake.)
#
# The commit is the git clone's, or in an unpacked source archive the one its
# release-inputs records ("commit-time SECONDS"). Anything else has no commit
# time, and stops the build rather than make files no commit stands for.
#
# As a module it makes the target commit_time, which every build runs and
# which writes generated/commit_time.h (the year) only when it changes. As a
# script (cmake -DSOURCE_DIR=... -DGENERATED=... -P) it writes that file.

function(read_commit_time source_dir out_var)
    set(recorded "${source_dir}/release-inputs")
    set(time "")
    if(EXISTS "${recorded}")
        file(STRINGS "${recorded}" time REGEX "^commit-time [0-9]+$")
        string(REPLACE "commit-time " "" time "${time}")
    else()
        # Only a clone of its own: an unpacked archive may lie inside another clone.
        execute_process(COMMAND git rev-parse --show-toplevel WORKING_DIRECTORY "${source_dir}"
            OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        file(REAL_PATH "${source_dir}" real_source_dir)
        if(top STREQUAL real_source_dir)
            execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY "${source_dir}"
                OUTPUT_VARIABLE time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        endif()
    endif()
    if(NOT time MATCHES "^[0-9]+$")
        message(FATAL_ERROR "${source_dir} is neither a git clone with a commit nor an unpacked source archive "
            "(its release-inputs): the build has no commit time to pin its files' dates to")
    endif()
    set(${out_var} ${time} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    read_commit_time("${SOURCE_DIR}" time)
    execute_process(COMMAND date -u -d "@${time}" +%Y OUTPUT_VARIABLE year OUTPUT_STRIP_TRAILING_WHITESPACE
        COMMAND_ERROR_IS_FATAL ANY)
    # file(CONFIGURE) leaves a file that would not change untouched.
    file(CONFIGURE OUTPUT "${GENERATED}/commit_time.h" CONTENT "#pragma once

/* Made by each build from the commit it stands for (cmake/commit-time.cmake):
   the year its version resource's copyright names. */

#define LAUNCHER_COMMIT_YEAR \"${year}\"
")
    return()
endif()

include_guard(GLOBAL)
add_custom_target(commit_time ALL
    COMMAND "${CMAKE_COMMAND}" "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}" "-DGENERATED=${PROJECT_BINARY_DIR}/generated"
        -P "${CMAKE_CURRENT_LIST_FILE}"
    BYPRODUCTS "${PROJECT_BINARY_DIR}/generated/commit_time.h"
    COMMENT "Reading the commit's time"
    VERBATIM)

