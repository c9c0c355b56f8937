# The family's description: what every product shares, in products/family.cmake.
#
#   launcher_family(MANUFACTURER name          the publisher, and the folder in Program Files each product's
#                                              folder is in
#                   RELEASES_ADDRESS https://.../  where the publisher offers every product's release, and with
#                                              it the release's Corresponding Source: the notices, INSTALL.txt
#                                              and the installer's Add/Remove Programs entry name it; a folder
#                   SUPPORT_ADDRESS https://...  where the publisher's support for its products is: the
#                                              installer's Add/Remove Programs entry and the winget manifest
#                                              name it
#                   HOME_ADDRESS https://.../  the publisher's home page: the winget manifest names it
#                   HOST_FOLDER name           the host's folder below the shared application-data folder
#                   HOST_FILE name.exe         the host program in it
#                   ERROR_TITLE "text"         the title of the launcher's one box
#                   PRODUCT_VARIABLE NAME)     the host's environment entry that names the product: NAME=value
#
# read_family() sets FAMILY_<KEY> for each; write_family_header() writes
# them as the C header family_values.h, which launcher/family.h includes.
include_guard(GLOBAL)

set(LAUNCHER_FAMILY_KEYWORDS MANUFACTURER RELEASES_ADDRESS SUPPORT_ADDRESS HOME_ADDRESS HOST_FOLDER HOST_FILE
    ERROR_TITLE PRODUCT_VARIABLE)

function(refuse_family message)
    message(FATAL_ERROR "Family ${LAUNCHER_FAMILY_FILE}: ${message}")
endfunction()

function(launcher_family)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "${LAUNCHER_FAMILY_KEYWORDS}" "")
    if(arg_UNPARSED_ARGUMENTS)
        refuse_family("unknown ${arg_UNPARSED_ARGUMENTS}: the keywords are ${LAUNCHER_FAMILY_KEYWORDS}")
    endif()
    foreach(key IN LISTS LAUNCHER_FAMILY_KEYWORDS)
        if(NOT DEFINED arg_${key} OR arg_${key} STREQUAL "")
            refuse_family("no ${key}")
        endif()
        # Each value becomes a C string literal and an MSI and XML attribute.
        if(arg_${key} MATCHES "[\"\\\\<>&%$@]")
            refuse_family("${key} '${arg_${key}}' holds a character that would need quoting")
        endif()
        set(FAMILY_${key} "${arg_${key}}" PARENT_SCOPE)
    endforeach()
    foreach(key IN ITEMS MANUFACTURER HOST_FOLDER HOST_FILE)
        if(NOT arg_${key} MATCHES "^[A-Za-z0-9][A-Za-z0-9._ -]*$")
            refuse_family("${key} '${arg_${key}}' must be a plain file name")
        endif()
    endforeach()
    if(NOT arg_HOST_FILE MATCHES "\\.[eE][xX][eE]$")
        refuse_family("HOST_FILE '${arg_HOST_FILE}' is no .exe")
    endif()
    if(NOT arg_RELEASES_ADDRESS MATCHES "^https://[A-Za-z0-9.-]+(:[0-9]+)?/([A-Za-z0-9._~/-]*/)?$")
        refuse_family("RELEASES_ADDRESS '${arg_RELEASES_ADDRESS}' is no https:// address of a folder, ending in /")
    endif()
    foreach(key IN ITEMS SUPPORT_ADDRESS HOME_ADDRESS)
        if(NOT arg_${key} MATCHES "^https://[A-Za-z0-9.-]+(:[0-9]+)?/[A-Za-z0-9._~/-]*$")
            refuse_family("${key} '${arg_${key}}' is no https:// address")
        endif()
    endforeach()
    if(NOT arg_PRODUCT_VARIABLE MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
        refuse_family("PRODUCT_VARIABLE '${arg_PRODUCT_VARIABLE}' is no environment variable's name")
    endif()
endfunction()

# Sets FAMILY_<KEY> in the caller's scope from the family's description.
function(read_family file)
    get_filename_component(LAUNCHER_FAMILY_FILE "${file}" ABSOLUTE)
    include("${LAUNCHER_FAMILY_FILE}")
    foreach(key IN LISTS LAUNCHER_FAMILY_KEYWORDS)
        if(NOT DEFINED FAMILY_${key})
            refuse_family("it calls no launcher_family()")
        endif()
        set(FAMILY_${key} "${FAMILY_${key}}" PARENT_SCOPE)
    endforeach()
endfunction()

function(write_family_header header)
    set(definitions "#pragma once\n\n/* Made by the build from the family's description (products/family.cmake). */\n\n")
    foreach(key IN LISTS LAUNCHER_FAMILY_KEYWORDS)
        string(APPEND definitions "#define FAMILY_${key} \"${FAMILY_${key}}\"\n")
    endforeach()
    file(CONFIGURE OUTPUT "${header}" CONTENT "${definitions}" @ONLY)
endfunction()
