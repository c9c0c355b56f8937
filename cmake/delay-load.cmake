# Delay-import libraries: a program linked against one maps the library only
# when it first calls into it, not when the program starts.

# Makes lib<dll>_delayed.a from the toolchain's import library of <dll>, and
# sets out_var to its path.
function(make_delay_import_library dll out_var)
    set(out "${CMAKE_BINARY_DIR}/delay-import/lib${dll}_delayed.a")
    set(${out_var} "${out}" PARENT_SCOPE)
    find_library(import_library_${dll} NAMES lib${dll}.a REQUIRED NO_CACHE)
    # What it is made from, for the list of what the launcher is linked with.
    set_property(TARGET juce_core_module APPEND PROPERTY LAUNCHER_DELAY_IMPORT_ORIGINS
        "${out}\t${import_library_${dll}}")

    if(EXISTS "${out}")
        return()
    endif()

    execute_process(COMMAND "${CMAKE_NM}" -g "${import_library_${dll}}"
        OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)

    # Every function the import library offers, by its decorated name; -k
    # below imports each by its plain name, as the system library exports it.
    # https://sourceware.org/binutils/docs/binutils/dlltool.html (--kill-at)
    set(definitions "LIBRARY ${dll}.dll\nEXPORTS\n")
    string(REGEX MATCHALL " T _[^\n]+" functions "${symbols}")
    list(REMOVE_DUPLICATES functions)
    foreach(function IN LISTS functions)
        string(SUBSTRING "${function}" 4 -1 name)
        string(APPEND definitions "${name}\n")
    endforeach()

    file(WRITE "${CMAKE_BINARY_DIR}/delay-import/${dll}.def" "${definitions}")
    execute_process(COMMAND "${CMAKE_DLLTOOL}" -k --input-def "${CMAKE_BINARY_DIR}/delay-import/${dll}.def"
        --dllname ${dll}.dll --output-delaylib "${out}"
        COMMAND_ERROR_IS_FATAL ANY)
endfunction()
