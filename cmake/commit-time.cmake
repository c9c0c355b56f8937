# The time of the commit the build stands for, which only a few files embed:
# JUCE's build stamp (Time::getCompilationDate() reads __DATE__ and __TIME__,
# which SOURCE_DATE_EPOCH pins) and each launcher's version resource, whose
# copyright names the commit's year. Pinned to it, two builds of one commit
# give identical files; read at every build, a commit followed by a build
# gives what a fresh clone of that commit gives, and rebuilds only those.
#
# The commit is the git clone's, or in an unpacked source archive the one its
# release-inputs records ("commit-time SECONDS"). Anything else has no commit
# time, and stops the build rather than make files no commit stands for.
#
# As a module it makes the target commit_time, which every build runs and
# which writes generated/commit-time (the time) and generated/commit_time.h
# (its year) only when they change; embed_commit_time(TARGET) compiles a
# target's sources with it. As a script (cmake -DSOURCE_DIR=... -DGENERATED=...
# -P) it writes those two files.

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
    file(CONFIGURE OUTPUT "${GENERATED}/commit-time" CONTENT "${time}\n")
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
    BYPRODUCTS "${PROJECT_BINARY_DIR}/generated/commit_time.h" "${PROJECT_BINARY_DIR}/generated/commit-time"
    COMMENT "Reading the commit's time"
    VERBATIM)

# The sources of TARGET are compiled with the commit's time as
# SOURCE_DATE_EPOCH, and again whenever it changes.
function(embed_commit_time target)
    add_dependencies(${target} commit_time)
    get_target_property(sources ${target} SOURCES)
    set(time_file "${PROJECT_BINARY_DIR}/generated/commit-time")
    set_property(SOURCE ${sources} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS "${time_file}")
    set_target_properties(${target} PROPERTIES
        C_COMPILER_LAUNCHER "${PROJECT_SOURCE_DIR}/cmake/with-commit-time.sh;${time_file}"
        CXX_COMPILER_LAUNCHER "${PROJECT_SOURCE_DIR}/cmake/with-commit-time.sh;${time_file}")
endfunction()
