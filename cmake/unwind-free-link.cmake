# A linker script for a program that unwinds no exceptions: the toolchain's
# own default script, except that it keeps no unwind entries of its own.
#
# The PE linker script keeps every .eh_frame section, and each one refers to
# every function of its object file, so section garbage collection could drop
# nothing from an object compiled with unwind tables: JUCE's core module and
# the run-time's stream and locale objects were linked whole. Only the unwind
# entries of crtbegin.o and crtend.o stay: crtbegin registers the table by its
# first entry, and crtend's entry ends it.
# binutils 2.40 (toolchain.lock: binutils-mingw-w64-i686) ld/scripttempl/pe.sc: KEEP(*(.eh_frame*)),
# as `i686-w64-mingw32-ld --verbose` prints it.
# GCC libgcc/config/i386/cygming-crtbegin.c, __EH_FRAME_BEGIN__; cygming-crtend.c, __FRAME_END__.

# Writes the script to out_file.
function(write_unwind_free_linker_script out_file)
    execute_process(COMMAND "${CMAKE_LINKER}" --verbose
        OUTPUT_VARIABLE linker_help COMMAND_ERROR_IS_FATAL ANY)

    # The default script is printed between two lines of "=" signs.
    string(REGEX MATCH "\n=+\n(.*)\n=+\n" script_block "${linker_help}")
    set(default_script "${CMAKE_MATCH_1}")

    set(keep_all "KEEP(*(.eh_frame*))")
    set(keep_table_ends "KEEP(*crtbegin.o(.eh_frame*)) KEEP(*crtend.o(.eh_frame*))")
    string(FIND "${default_script}" "${keep_all}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "${CMAKE_LINKER}'s default script does not keep .eh_frame as expected: "
            "check what it does before linking without unwind entries")
    endif()
    string(REPLACE "${keep_all}" "${keep_table_ends}" script "${default_script}")

    file(GENERATE OUTPUT "${out_file}" CONTENT "${script}\n")
endfunction()
