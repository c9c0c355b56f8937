# JUCE from Debian's juce-modules-source-data, each module compiled as its own
# unity translation unit. JUCE is third-party code: it keeps its own flags and
# its headers are system headers to us, so our warning set never sees it.
set(JUCE_MODULES_DIR /usr/share/juce/modules CACHE PATH "Folder holding JUCE's modules")

if(NOT EXISTS "${JUCE_MODULES_DIR}/juce_core/juce_core.h")
    message(FATAL_ERROR "JUCE modules not found in ${JUCE_MODULES_DIR}: run tools/setup.sh")
endif()

add_library(juce_core_module STATIC "${JUCE_MODULES_DIR}/juce_core/juce_core.cpp")
target_include_directories(juce_core_module SYSTEM PUBLIC "${JUCE_MODULES_DIR}")
# JUCE still calls some of its own deprecated classes; that is for JUCE to mend.
target_compile_options(juce_core_module PRIVATE -Wno-deprecated-declarations)
target_compile_definitions(juce_core_module PUBLIC
    JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
    JUCE_STANDALONE_APPLICATION=1
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_USE_CURL=0
    JUCE_WEB_BROWSER=0
    JUCE_INCLUDE_ZLIB_CODE=0
    JUCE_INCLUDE_JPEGLIB_CODE=0
    JUCE_INCLUDE_PNGLIB_CODE=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    # No 1 ms system timer period: nothing here runs a timer, and raising the
    # timer rate would also load winmm at every start.
    JUCE_WIN32_TIMER_PERIOD=0)

if(WIN32)
    set(ZLIB_USE_STATIC_LIBS ON)
    # Looked up again at each configure: a build folder configured when the
    # toolchain's own zlib was taken must not keep linking it.
    unset(ZLIB_LIBRARY_RELEASE CACHE)
    unset(ZLIB_INCLUDE_DIR CACHE)
endif()
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)
target_link_libraries(juce_core_module PUBLIC ZLIB::ZLIB Threads::Threads)

if(NOT WIN32)
    target_link_libraries(juce_core_module PUBLIC ${CMAKE_DL_LIBS})
    return()
endif()

# The GUI modules are needed only for the error box, and only on Windows.
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)

add_library(juce_gui_modules STATIC
    "${JUCE_MODULES_DIR}/juce_events/juce_events.cpp"
    "${JUCE_MODULES_DIR}/juce_data_structures/juce_data_structures.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/juce/juce_graphics_mingw.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/juce/juce_gui_basics_mingw.cpp")
set_source_files_properties("${CMAKE_CURRENT_LIST_DIR}/juce/juce_gui_basics_mingw.cpp"
    PROPERTIES COMPILE_OPTIONS -fpermissive)
# JUCE's own notice that it draws text without DirectWrite under MinGW; the
# error box is native and draws none.
set_source_files_properties("${CMAKE_CURRENT_LIST_DIR}/juce/juce_graphics_mingw.cpp"
    PROPERTIES COMPILE_OPTIONS -Wno-cpp)
# The PE linker keeps every function's unwind entry, and with it the function,
# so section garbage collection can drop nothing from a module compiled with
# unwind tables. The graphics and GUI modules throw no exceptions; without
# unwind tables the linker keeps only what the error box reaches from them.
set_property(SOURCE
    "${JUCE_MODULES_DIR}/juce_data_structures/juce_data_structures.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/juce/juce_graphics_mingw.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/juce/juce_gui_basics_mingw.cpp"
    APPEND PROPERTY COMPILE_OPTIONS -fno-exceptions -fno-asynchronous-unwind-tables -fno-unwind-tables)
target_include_directories(juce_gui_modules PRIVATE ${PNG_INCLUDE_DIRS} ${JPEG_INCLUDE_DIRS})
target_compile_options(juce_gui_modules PRIVATE -Wno-deprecated-declarations)
target_link_libraries(juce_gui_modules PUBLIC juce_core_module PNG::PNG JPEG::JPEG)

# The Windows libraries JUCE calls into. The first set is mapped into every
# program here anyway, through shell32, and all of them are known DLLs, which
# Windows takes from the system folder only. The second serves JUCE's GUI,
# which the launcher needs only for its error box: a program that sets
# DELAY_LOAD_GUI_LIBRARIES links those delay-loaded, so a launch that never
# shows the box never maps them, and they are loaded after the launcher has
# narrowed the library search to the system folder. version is no known DLL:
# imported directly, it would be taken from beside the launcher at start.
set(windows_libraries_loaded_anyway advapi32 gdi32 imm32 shell32 shlwapi user32)
set(windows_libraries_for_the_gui
    comctl32 comdlg32 d2d1 d3d11 dwmapi dwrite dxgi iphlpapi ole32 oleaut32 rpcrt4 setupapi version winmm wininet ws2_32
    wtsapi32)

include("${CMAKE_CURRENT_LIST_DIR}/delay-load.cmake")
set(delay_loaded_gui_libraries)
foreach(library IN LISTS windows_libraries_for_the_gui)
    make_delay_import_library(${library} delay_import_library)
    list(APPEND delay_loaded_gui_libraries "${delay_import_library}")
endforeach()

# This binutils discards the thunk of a delay-import stub when code calls
# through the import pointer (__declspec(dllimport)), leaving the pointer null;
# calling the stub itself keeps it. Public, so that code of ours calling a
# delay-loaded library directly gets the same.
target_compile_definitions(juce_core_module PUBLIC DECLSPEC_IMPORT=)

set(delay_gui "$<BOOL:$<TARGET_PROPERTY:DELAY_LOAD_GUI_LIBRARIES>>")
target_link_libraries(juce_core_module PUBLIC
    ${windows_libraries_loaded_anyway} uuid
    "$<${delay_gui}:${delay_loaded_gui_libraries}>"
    "$<$<NOT:${delay_gui}>:${windows_libraries_for_the_gui}>")
