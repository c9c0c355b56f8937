# JUCE from Debian's juce-modules-source-data, each module compiled as its own
# unity translation unit (juce_core as two, below). JUCE is third-party code:
# it keeps its own flags and its headers are system headers to us, so our
# warning set never sees it.
set(JUCE_MODULES_DIR /usr/share/juce/modules CACHE PATH "Folder holding JUCE's modules")

if(NOT EXISTS "${JUCE_MODULES_DIR}/juce_core/juce_core.h")
    message(FATAL_ERROR "JUCE modules not found in ${JUCE_MODULES_DIR}: run tools/setup.sh")
endif()

# JUCE's module file `module` (its path below JUCE_MODULES_DIR) as JUCE's
# own unity file makes it, less its lines including each of the files given
# from its folder `folder`, written to out_file. JUCE's list of the module's
# files is its own: only those lines go, and a module that no longer includes
# one of them, or includes anything else from that folder, stops the build.
function(write_juce_module_without module folder out_file)
    set(module "${JUCE_MODULES_DIR}/${module}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${module}")
    file(READ "${module}" text)
    foreach(file IN LISTS ARGN)
        set(line "#include \"${folder}/${file}\"\n")
        string(FIND "${text}" "${line}" at)
        if(at EQUAL -1)
            message(FATAL_ERROR "${module} no longer includes ${folder}/${file} as this build expects")
        endif()
        string(REPLACE "${line}" "" text "${text}")
    endforeach()
    if(text MATCHES "${folder}/")
        message(FATAL_ERROR "${module} includes ${folder}/ in a way this build does not know")
    endif()
    # Written only when it changes: a new file would compile the module again.
    set(old_text "")
    if(EXISTS "${out_file}")
        file(READ "${out_file}" old_text)
    endif()
    if(NOT old_text STREQUAL text)
        file(WRITE "${out_file}" "${text}")
    endif()
endfunction()

# juce_core in two units: JUCE's module file less its GZIP streams and ZIP
# reader, and those, the module's only code that includes zlib.h, as a
# library of their own (juce_core_zip, below). A unit's string constants share
# one .rdata section, which the linker keeps whole once anything uses one of
# them: as one unit, zlib's version string, which the streams hand to zlib's
# inflateInit2 and deflateInit2 (ZLIB_VERSION, zlib.h), stayed in every
# program that keeps anything of juce_core, the launcher included, which
# calls none of them.
# GCC 12 (toolchain.lock: g++-mingw-w64-i686-posix) with -fdata-sections; the launcher's
# link map (-Wl,-Map) kept juce_core.cpp.obj's .rdata whole, "1.2.13" at its start.
set(juce_core_folder "${CMAKE_BINARY_DIR}/juce-core")
write_juce_module_without(juce_core/juce_core.cpp zip "${juce_core_folder}/juce_core.cpp"
    juce_GZIPDecompressorInputStream.cpp juce_GZIPCompressorOutputStream.cpp juce_ZipFile.cpp)
add_library(juce_core_module STATIC "${juce_core_folder}/juce_core.cpp")
# The module file written above includes the module's own files as JUCE's
# does, by paths relative to the module's folder.
set_source_files_properties("${juce_core_folder}/juce_core.cpp" PROPERTIES
    COMPILE_OPTIONS "-iquote;${JUCE_MODULES_DIR}/juce_core")
target_include_directories(juce_core_module SYSTEM PUBLIC "${JUCE_MODULES_DIR}")
# JUCE's build stamp is its compilation date (__DATE__ and __TIME__, which
# SOURCE_DATE_EPOCH pins): the date of Debian's JUCE package, from its
# changelog, as Debian dates what it builds of it. It moves only with the
# package, which toolchain.lock pins and a source archive's rebuild must have,
# so a commit compiles no JUCE and the archive gives the same stamp again.
# See JUCE 7.0.5 (toolchain.lock: juce-modules-source-data) juce_core/time/juce_Time.cpp, getCompilationDate().
function(pin_juce_build_date target)
    set(changelog /usr/share/doc/juce-modules-source-data/changelog.Debian.gz)
    execute_process(COMMAND dpkg-parsechangelog -l "${changelog}" -S Timestamp
        OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT date MATCHES "^[0-9]+$")
        message(FATAL_ERROR "No date of Debian's JUCE package in ${changelog}: run tools/setup.sh")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${changelog}")
    set_target_properties(${target} PROPERTIES
        C_COMPILER_LAUNCHER "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${date}"
        CXX_COMPILER_LAUNCHER "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${date}")
endfunction()
pin_juce_build_date(juce_core_module)
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
    # See JUCE 7.0.5 (toolchain.lock: juce-modules-source-data) juce_core/native/juce_win32_SystemStats.cpp,
    # HiResCounterHandler (timeBeginPeriod).
    JUCE_WIN32_TIMER_PERIOD=0)

find_package(Threads REQUIRED)
target_link_libraries(juce_core_module PUBLIC Threads::Threads)
# juce_core's GZIP streams call zlib. The launcher never runs them: its link
# (add_launcher sets JUCE_CORE_WITHOUT_ZLIB) keeps only the code it reaches,
# and is given neither the streams nor zlib, so that none of them can end up
# in it, and a change that called them would fail to link. JUCE's graphics
# and data structures name them in code the launcher never reaches, which
# would otherwise draw the streams' unit, and its static initialiser, into
# the link. The tests, whose link keeps every function of juce_core, and the
# native build link the streams and the system's zlib; on Windows that is
# Debian's libz-mingw-w64-dev, whose zlib.h the streams are compiled with
# (toolchain.lock).
if(WIN32)
    set(ZLIB_USE_STATIC_LIBS ON)
    # Looked up again at each configure: a build folder configured when the
    # set-up still built a zlib of its own must not keep linking that.
    unset(ZLIB_LIBRARY_RELEASE CACHE)
    unset(ZLIB_INCLUDE_DIR CACHE)
endif()
find_package(ZLIB REQUIRED)
add_library(juce_core_zip STATIC "${CMAKE_CURRENT_LIST_DIR}/juce/juce_core_zip.cpp")
target_link_libraries(juce_core_zip PRIVATE juce_core_module PUBLIC ZLIB::ZLIB)
target_compile_options(juce_core_zip PRIVATE -Wno-deprecated-declarations)
target_link_libraries(juce_core_module PUBLIC "$<$<NOT:$<BOOL:$<TARGET_PROPERTY:JUCE_CORE_WITHOUT_ZLIB>>>:juce_core_zip>")

if(NOT WIN32)
    target_link_libraries(juce_core_module PUBLIC ${CMAKE_DL_LIBS})
    return()
endif()

# JUCE's graphics module less its PNG, JPEG and GIF loaders, written to
# out_file: with them, the module would register libpng, libjpeg-turbo and
# zlib as decoders and link them into every program that draws, the
# launcher's error box included, which decodes no image. The loaders' formats
# come from juce_graphics_mingw.cpp instead, declining every image. A module
# whose image formats are not exactly these stops the build.
function(write_juce_graphics_without_image_formats out_file)
    file(GLOB loaders RELATIVE "${JUCE_MODULES_DIR}/juce_graphics/image_formats"
        "${JUCE_MODULES_DIR}/juce_graphics/image_formats/*")
    list(SORT loaders)
    set(known_loaders juce_GIFLoader.cpp juce_JPEGLoader.cpp juce_PNGLoader.cpp)
    if(NOT loaders STREQUAL known_loaders)
        message(FATAL_ERROR "JUCE's juce_graphics/image_formats holds ${loaders}, not the ${known_loaders} "
            "this build leaves out (cmake/juce.cmake): see what changed before building it")
    endif()
    write_juce_module_without(juce_graphics/juce_graphics.cpp image_formats "${out_file}" ${known_loaders})
endfunction()

# The GUI modules are needed only for the error box, and only on Windows.
set(juce_graphics_folder "${CMAKE_BINARY_DIR}/juce-graphics")
write_juce_graphics_without_image_formats("${juce_graphics_folder}/juce_graphics_without_image_formats.cpp")

add_library(juce_gui_modules STATIC
    "${JUCE_MODULES_DIR}/juce_events/juce_events.cpp"
    "${JUCE_MODULES_DIR}/juce_data_structures/juce_data_structures.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/juce/juce_graphics_mingw.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/juce/juce_gui_basics_mingw.cpp")
set_source_files_properties("${CMAKE_CURRENT_LIST_DIR}/juce/juce_gui_basics_mingw.cpp"
    PROPERTIES COMPILE_OPTIONS -fpermissive)
# The module file written above includes the module's own files as JUCE's
# does, by paths relative to the module's folder. -Wno-cpp: JUCE's own notice
# that it draws text without DirectWrite under MinGW; the error box is native
# and draws none. See JUCE 7.0.5 (toolchain.lock: juce-modules-source-data)
# modules/juce_graphics/juce_graphics.cpp: #warning under JUCE_MINGW && JUCE_USE_DIRECTWRITE.
set_source_files_properties("${CMAKE_CURRENT_LIST_DIR}/juce/juce_graphics_mingw.cpp" PROPERTIES
    COMPILE_OPTIONS "-iquote;${juce_graphics_folder};-iquote;${JUCE_MODULES_DIR}/juce_graphics;-Wno-cpp"
    OBJECT_DEPENDS "${juce_graphics_folder}/juce_graphics_without_image_formats.cpp")
# The PE linker keeps every function's unwind entry, and with it the function,
# so section garbage collection can drop nothing from a module compiled with
# unwind tables. The graphics and GUI modules throw no exceptions; without
# unwind tables the linker keeps only what the error box reaches from them.
# binutils 2.40 (toolchain.lock: binutils-mingw-w64-i686) ld/scripttempl/pe.sc: KEEP(*(.eh_frame*)),
# as `i686-w64-mingw32-ld --verbose` prints it.
set_property(SOURCE
    "${JUCE_MODULES_DIR}/juce_data_structures/juce_data_structures.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/juce/juce_graphics_mingw.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/juce/juce_gui_basics_mingw.cpp"
    APPEND PROPERTY COMPILE_OPTIONS -fno-exceptions -fno-asynchronous-unwind-tables -fno-unwind-tables)
target_compile_options(juce_gui_modules PRIVATE -Wno-deprecated-declarations)
target_link_libraries(juce_gui_modules PUBLIC juce_core_module)

# The Windows libraries JUCE calls into. The first set is mapped into every
# program here anyway, through shell32, and all of them are known DLLs, which
# Windows takes from the system folder only. The second serves JUCE's GUI,
# which the launcher needs only for its error box: a program that sets
# DELAY_LOAD_GUI_LIBRARIES links those delay-loaded, so a launch that never
# shows the box never maps them, and they are loaded after the launcher has
# narrowed the library search to the system folder. version is no known DLL:
# imported directly, it would be taken from beside the launcher at start.
# https://learn.microsoft.com/windows/win32/dlls/dynamic-link-library-search-order
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
# Seen with binutils 2.40 here (toolchain.lock: binutils-mingw-w64-i686); reported as binutils bug 14339
# (https://github.com/pbatard/rufus/issues/2728).
target_compile_definitions(juce_core_module PUBLIC DECLSPEC_IMPORT=)

set(delay_gui "$<BOOL:$<TARGET_PROPERTY:DELAY_LOAD_GUI_LIBRARIES>>")
target_link_libraries(juce_core_module PUBLIC
    ${windows_libraries_loaded_anyway} uuid
    "$<${delay_gui}:${delay_loaded_gui_libraries}>"
    "$<$<NOT:${delay_gui}>:${windows_libraries_for_the_gui}>")
