# A launcher program, from the launcher's sources and the resources of a
# product (its values as constants, its icon group, manifest and version
# resource), with any further sources given:
#   add_launcher(NAME RESOURCES TARGET [SOURCES file...])
# TARGET is what made the resources (make_product_resources() in
# products.cmake) and names their folder in its property PRODUCT_FOLDER. Each
# product's launcher is one; the tests make others, with a stand-in for a
# system function to take the way Windows would take elsewhere, or at another
# version.
include_guard(GLOBAL)
include("${CMAKE_CURRENT_LIST_DIR}/unwind-free-link.cmake")

# The Windows layer, the same in every launcher, compiled once: only the
# entry function and the resources know the product. What every launcher is
# compiled and linked with comes with it.
add_library(launcher_windows OBJECT
    "${PROJECT_SOURCE_DIR}/launcher/windows_inputs.cpp"
    "${PROJECT_SOURCE_DIR}/launcher/held_host.cpp"
    "${PROJECT_SOURCE_DIR}/launcher/security_descriptor.cpp"
    "${PROJECT_SOURCE_DIR}/launcher/host_process.cpp"
    "${PROJECT_SOURCE_DIR}/launcher/error_box.cpp"
    "${PROJECT_SOURCE_DIR}/launcher/library_search.cpp"
    "${PROJECT_SOURCE_DIR}/launcher/lean_start.cpp")
target_link_libraries(launcher_windows PUBLIC launch_logic juce_gui_modules)
# The launcher throws nothing and catches nothing (running out of memory ends
# it where it happens), so it is linked without unwind entries, and the
# linker can then drop the code of JUCE and the run-time it never runs.
target_compile_options(launcher_windows PUBLIC "$<$<COMPILE_LANGUAGE:C,CXX>:${LAUNCHER_WARNINGS};-fno-exceptions>")
set(unwind_free_script "${PROJECT_BINARY_DIR}/unwind-free.ld")
write_unwind_free_linker_script("${unwind_free_script}")
target_link_options(launcher_windows INTERFACE "-Wl,-T,${unwind_free_script}"
    # Sections aligned to pages in the file too, so the image can be mapped
    # rather than read: only the pages a launch touches are then resident.
    ${LAUNCHER_STATIC_LINK} -s -Wl,--file-alignment,0x1000
    # A program for Vista and later (the linker's default, 4.0, marks it as
    # one for NT 4), that a Remote Desktop server runs as it is rather than
    # through its compatibility layer for old programs.
    # https://learn.microsoft.com/en-us/windows/win32/termserv/application-compatibility-layer
    -Wl,--subsystem,windows:6.0 -Wl,--tsaware)
set_target_properties(launcher_windows PROPERTIES INTERFACE_LINK_DEPENDS "${unwind_free_script}")

function(add_launcher name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "RESOURCES" "SOURCES")
    if(NOT TARGET "${arg_RESOURCES}" OR arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "add_launcher(${name} RESOURCES TARGET [SOURCES file...]): no resources target given")
    endif()
    get_target_property(folder ${arg_RESOURCES} PRODUCT_FOLDER)
    add_executable(${name} WIN32
        "${PROJECT_SOURCE_DIR}/launcher/main.cpp"
        # Its icon group, manifest and version resource, kept by the linker
        # as an object of the program's own.
        "${folder}/launcher.rc"
        ${arg_SOURCES})
    # Its copyright names the commit's year.
    set_source_files_properties("${folder}/launcher.rc" TARGET_DIRECTORY ${name} PROPERTIES
        OBJECT_DEPENDS "${folder}/IDI_ICON1.ico;${folder}/launcher.manifest;${PROJECT_BINARY_DIR}/generated/commit_time.h")
    add_dependencies(${name} ${arg_RESOURCES} commit_time)
    # The product's values, as constants.
    target_include_directories(${name} PRIVATE "${folder}")
    target_link_libraries(${name} PRIVATE launcher_windows)
    # Read by the link of JUCE and its Windows libraries (cmake/juce.cmake).
    set_target_properties(${name} PROPERTIES DELAY_LOAD_GUI_LIBRARIES ON JUCE_CORE_WITHOUT_ZLIB ON)
endfunction()
