# The product table's vocabulary. A table is a CMake file of
# launcher_product() entries, one a product; read_product_table() checks each
# entry against every other and makes, for each product, its launcher (with
# the product's values compiled in as constants), its resources, and the
# description the release is made from. Nothing is read at run time.
#
#   launcher_product(NAME                 shown in the version resource, the MSI, the shortcut, the install
#                                         folder Program Files\Orvanel\NAME and the release's file names
#                    PRODUCTNAME value    what the launcher gives the host as PRODUCTNAME
#                    VERSION X.Y.Z        the version of its launcher, installer and release
#                    ICON file.png        its icon, 128 by 128 pixels, beside the table
#                    UPGRADE_CODE guid    its MSI UpgradeCode, the same for ever: how a later version finds this one
#                    [EXECUTABLE name])   its launcher's file name without .exe (default: NAME)

# The values every product of the family shares, read from the header the
# launcher and the benchmark's bare stub include.
function(read_family_values)
    file(STRINGS "${PROJECT_SOURCE_DIR}/launcher/family.h" lines REGEX "^#define FAMILY_[A-Z_]+ \"")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^#define (FAMILY_[A-Z_]+) \"(.*)\"$" "\\1;\\2" definition "${line}")
        list(GET definition 0 name)
        list(GET definition 1 value)
        set(${name} "${value}" PARENT_SCOPE)
    endforeach()
endfunction()
read_family_values()

# A build of another version, an older one to try upgrades with, gives every
# product of its tables this version instead of the table's (README).
set(PRODUCT_VERSION_OVERRIDE "" CACHE STRING "A version for every product of this build instead of the table's")

function(refuse_product message)
    message(FATAL_ERROR "Product table ${LAUNCHER_TABLE}, entry ${LAUNCHER_ENTRY}: ${message}")
endfunction()

# Names that must differ between products, compared as Windows compares file
# names and environment values the host might match: without case.
function(claim_unique_value what value)
    string(TOUPPER "${what}=${value}" key)
    get_property(owner GLOBAL PROPERTY LAUNCHER_CLAIMED_${key})
    if(owner)
        refuse_product("its ${what} '${value}' is already ${owner}'s")
    endif()
    set_property(GLOBAL PROPERTY LAUNCHER_CLAIMED_${key} "${LAUNCHER_ENTRY}")
endfunction()

function(check_product_version version)
    if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
        refuse_product("VERSION '${version}' is not X.Y.Z, three numbers")
    endif()
    # Windows Installer keeps a product version as major.minor.build with at
    # most 255, 255 and 65535; a larger one does not upgrade as it should.
    if(CMAKE_MATCH_1 GREATER 255 OR CMAKE_MATCH_2 GREATER 255 OR CMAKE_MATCH_3 GREATER 65535)
        refuse_product("VERSION ${version} is more than an MSI can hold (at most 255.255.65535)")
    endif()
endfunction()

function(launcher_product name)
    set(LAUNCHER_ENTRY "${name}")
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "PRODUCTNAME;VERSION;ICON;UPGRADE_CODE;EXECUTABLE" "")
    if(arg_UNPARSED_ARGUMENTS)
        refuse_product("unknown ${arg_UNPARSED_ARGUMENTS}")
    endif()
    foreach(required IN ITEMS PRODUCTNAME VERSION ICON UPGRADE_CODE)
        if(NOT DEFINED arg_${required} OR arg_${required} STREQUAL "")
            refuse_product("no ${required}")
        endif()
    endforeach()
    if(NOT arg_EXECUTABLE)
        set(arg_EXECUTABLE "${name}")
    endif()

    if(NOT name MATCHES "^[A-Za-z][A-Za-z0-9]*$")
        refuse_product("the name must be letters and digits, a letter first: it names files, folders and the MSI")
    endif()
    # The environment's entries are NAME=value with no null; the host finds
    # the value by the first "=". Letters, digits, dot, dash and underscore
    # also need no quoting wherever the value is written.
    if(NOT arg_PRODUCTNAME MATCHES "^[A-Za-z0-9._-]+$")
        refuse_product("PRODUCTNAME '${arg_PRODUCTNAME}' may hold only letters, digits, '.', '-' and '_' (no '=')")
    endif()
    if(NOT arg_EXECUTABLE MATCHES "^[A-Za-z0-9._-]+$" OR arg_EXECUTABLE MATCHES "\\.[eE][xX][eE]$")
        refuse_product("EXECUTABLE '${arg_EXECUTABLE}' must be a file name without .exe")
    endif()
    string(TOUPPER "${arg_UPGRADE_CODE}" upgrade_code)
    # CMake's expressions know no counted repeats: the GUID's pattern is spelt out.
    string(REPEAT "[0-9A-F]" 4 four)
    if(NOT upgrade_code MATCHES "^${four}${four}-${four}-${four}-${four}-${four}${four}${four}$")
        refuse_product("UPGRADE_CODE '${arg_UPGRADE_CODE}' is not a GUID (XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX)")
    endif()
    get_filename_component(icon "${arg_ICON}" ABSOLUTE BASE_DIR "${LAUNCHER_TABLE_FOLDER}")
    if(NOT EXISTS "${icon}" OR IS_DIRECTORY "${icon}")
        refuse_product("no icon at ${icon}")
    endif()
    set(version "${arg_VERSION}")
    if(PRODUCT_VERSION_OVERRIDE)
        set(version "${PRODUCT_VERSION_OVERRIDE}")
    endif()
    check_product_version("${version}")

    claim_unique_value(name "${name}")
    claim_unique_value(PRODUCTNAME "${arg_PRODUCTNAME}")
    claim_unique_value(EXECUTABLE "${arg_EXECUTABLE}")
    claim_unique_value(UPGRADE_CODE "${upgrade_code}")
    # The host's file shares the launchers' folder of programs in the build.
    string(TOLOWER "${arg_EXECUTABLE}.exe" executable_file)
    string(TOLOWER "${FAMILY_HOST_FILE}" host_file)
    if(executable_file STREQUAL host_file)
        refuse_product("EXECUTABLE ${arg_EXECUTABLE} is the host's own name")
    endif()

    set_property(GLOBAL APPEND PROPERTY LAUNCHER_TABLE_ENTRIES "${name}")
    foreach(field IN ITEMS PRODUCTNAME EXECUTABLE)
        set_property(GLOBAL PROPERTY PRODUCT_${name}_${field} "${arg_${field}}")
    endforeach()
    set_property(GLOBAL PROPERTY PRODUCT_${name}_VERSION "${version}")
    set_property(GLOBAL PROPERTY PRODUCT_${name}_ICON "${icon}")
    set_property(GLOBAL PROPERTY PRODUCT_${name}_UPGRADE_CODE "${upgrade_code}")
endfunction()

# Reads the table TABLE and makes each of its products, their releases to go
# into RELEASE_FOLDER; PRODUCTS_VAR gets the names of its products, in order.
function(read_product_table table release_folder products_var)
    get_filename_component(LAUNCHER_TABLE "${table}" ABSOLUTE)
    get_filename_component(LAUNCHER_TABLE_FOLDER "${LAUNCHER_TABLE}" DIRECTORY)
    set_property(GLOBAL PROPERTY LAUNCHER_TABLE_ENTRIES)
    include("${LAUNCHER_TABLE}")
    get_property(products GLOBAL PROPERTY LAUNCHER_TABLE_ENTRIES)
    if(NOT products)
        message(FATAL_ERROR "Product table ${LAUNCHER_TABLE} describes no product")
    endif()
    foreach(product IN LISTS products)
        set_property(GLOBAL PROPERTY PRODUCT_${product}_RELEASE_FOLDER "${release_folder}")
        add_product_launcher(${product})
    endforeach()
    set_property(GLOBAL APPEND PROPERTY LAUNCHER_PRODUCTS ${products})
    set(${products_var} ${products} PARENT_SCOPE)
endfunction()

# Sets, in the caller's scope, product_<field> for each field of a product.
macro(get_product product)
    foreach(field IN ITEMS PRODUCTNAME EXECUTABLE VERSION ICON UPGRADE_CODE RELEASE_FOLDER FOLDER)
        get_property(product_${field} GLOBAL PROPERTY PRODUCT_${product}_${field})
    endforeach()
endmacro()

# The launcher of a product: the program add_launcher() makes, with the
# product's header, icon group, manifest and version resource, and a link map
# the release's notices and bill of materials are read from. Its folder in
# the build (build/products/NAME) holds what was made for it, and
# NAME.product, its description for the release scripts.
function(add_product_launcher product)
    get_product(${product})
    set(folder "${PROJECT_BINARY_DIR}/products/${product}")
    set_property(GLOBAL PROPERTY PRODUCT_${product}_FOLDER "${folder}")
    string(REPLACE "." ";" version_numbers "${product_VERSION}")
    list(GET version_numbers 0 PRODUCT_VERSION_MAJOR)
    list(GET version_numbers 1 PRODUCT_VERSION_MINOR)
    list(GET version_numbers 2 PRODUCT_VERSION_PATCH)
    set(PRODUCT_NAME "${product}")
    set(PRODUCT_VERSION "${product_VERSION}")
    set(PRODUCT_EXECUTABLE "${product_EXECUTABLE}")
    set(PRODUCT_VALUE "${product_PRODUCTNAME}")

    configure_file("${PROJECT_SOURCE_DIR}/resources/product.h.in" "${folder}/product.h" @ONLY)
    set(PRODUCT_MANIFEST "${folder}/launcher.manifest")
    configure_file("${PROJECT_SOURCE_DIR}/resources/launcher.manifest.in" "${PRODUCT_MANIFEST}" @ONLY)
    set(PRODUCT_ICON "${folder}/IDI_ICON1.ico")
    add_custom_command(OUTPUT "${PRODUCT_ICON}"
        COMMAND "${PROJECT_SOURCE_DIR}/resources/make-icon-group.sh" "${product_ICON}" "${PRODUCT_ICON}"
        DEPENDS "${PROJECT_SOURCE_DIR}/resources/make-icon-group.sh" "${product_ICON}"
        COMMENT "Making ${product}'s icon group")
    configure_file("${PROJECT_SOURCE_DIR}/resources/launcher.rc.in" "${folder}/launcher.rc" @ONLY)
    # For the launchers of other folders of the build too.
    add_custom_target(${product}_resources DEPENDS "${PRODUCT_ICON}")

    add_launcher(${product_EXECUTABLE} ${product} "${folder}/launcher.rc")
    set(link_map "${folder}/${product_EXECUTABLE}.map")
    target_link_options(${product_EXECUTABLE} PRIVATE "-Wl,-Map,${link_map}")
    set_property(GLOBAL PROPERTY PRODUCT_${product}_LINK_MAP "${link_map}")
endfunction()
