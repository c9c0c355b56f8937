# The product table's vocabulary. A table is a CMake file of
# launcher_product() entries, one a product; read_product_tables() checks each
# entry against every other of every table, and make_product() makes, for each
# product, its launcher (with the product's values compiled in as constants)
# and its resources. Nothing is read at run time.
#
#   launcher_product(NAME                 shown in the version resource, the MSI, the shortcut, the install
#                                         folder Program Files\MANUFACTURER\NAME and the release's file names
#                    PRODUCTNAME value    what the launcher gives the host as PRODUCTNAME
#                    VERSION X.Y.Z        the version of its launcher, installer and release
#                    ICON file.png        its icon, 128 by 128 pixels, beside the table
#                    UPGRADE_CODE guid    its MSI UpgradeCode, the same for ever: how a later version finds this one
#                    [EXECUTABLE name]    its launcher's file name without .exe (default: NAME)
#                    [EXTRA_FILE file])   a file beside the table that this product alone ships beside its
#                                         launcher, in its install folder and its ZIP, under its own name
#
# What make_product() made of a product is kept on its target product.NAME,
# as the properties PRODUCT_<FIELD>; get_product() reads them back.
include_guard(GLOBAL)
include("${CMAKE_CURRENT_LIST_DIR}/family.cmake")

set(LAUNCHER_PRODUCT_KEYWORDS PRODUCTNAME VERSION ICON UPGRADE_CODE EXECUTABLE EXTRA_FILE)
set(LAUNCHER_PRODUCT_FIELDS NAME ${LAUNCHER_PRODUCT_KEYWORDS} TABLE RELEASE_FOLDER)
# The upgrade code of docs/maintaining.md's example of a new product: every
# product whose entry was copied from there would share it, and installing
# one would upgrade another away.
set(LAUNCHER_EXAMPLE_UPGRADE_CODE 7D3A9E52-1C64-4B8F-A0D7-52E9B6C14F08)

# A build of another version, an older one to try upgrades with, gives every
# product of its tables this version instead of the table's (docs/release.md).
set(PRODUCT_VERSION_OVERRIDE "" CACHE STRING "A version for every product of this build instead of the table's")

function(refuse_product message)
    message(FATAL_ERROR "Product table ${LAUNCHER_TABLE}, entry ${LAUNCHER_ENTRY}: ${message}")
endfunction()

# The entry's words as KEYWORD value pairs, into arg_<KEYWORD>. A word left
# over is named for what it most likely is: a keyword spelt in another case,
# a misspelt keyword (with the keyword meant), or the second of two words not
# quoted, in the name or in a value.
function(parse_product_entry)
    set(keyword "")
    set(last "")
    foreach(word IN LISTS ARGN)
        if(word IN_LIST LAUNCHER_PRODUCT_KEYWORDS)
            if(keyword)
                refuse_product("${keyword} has no value")
            endif()
            if(DEFINED arg_${word})
                refuse_product("${word} is given twice")
            endif()
            set(keyword "${word}")
        elseif(keyword)
            set(arg_${keyword} "${word}" PARENT_SCOPE)
            set(arg_${keyword} "${word}")
            set(last "${keyword}")
            set(keyword "")
        else()
            refuse_stray_word("${word}" "${last}" "${arg_${last}}")
        endif()
    endforeach()
    if(keyword)
        refuse_product("${keyword} has no value")
    endif()
endfunction()

# A word of an entry that is neither a keyword nor a keyword's value, after
# the value VALUE of the keyword LAST (none: right after the name).
function(refuse_stray_word word last value)
    string(TOUPPER "${word}" upper)
    list(JOIN LAUNCHER_PRODUCT_KEYWORDS ", " keywords)
    if(upper IN_LIST LAUNCHER_PRODUCT_KEYWORDS)
        refuse_product("'${word}' is no keyword: write it ${upper}")
    endif()
    # A keyword is letters and underscores; values seldom are in capitals.
    if(word MATCHES "^[A-Za-z_]+$")
        nearest_keyword("${upper}" meant)
        if(meant)
            refuse_product("unknown keyword ${word}: did you mean ${meant}?")
        elseif(word MATCHES "^[A-Z_][A-Z_]+$")
            refuse_product("unknown keyword ${word}: the keywords are ${keywords}")
        endif()
    endif()
    if(last)
        refuse_product("'${value} ${word}' is two words not quoted: quote them (${last} \"${value} ${word}\")")
    endif()
    set(rule "a name is one word: letters and digits, a letter first")
    refuse_product("'${LAUNCHER_ENTRY} ${word}' is two words not quoted, and ${rule}")
endfunction()

# The keyword a misspelt WORD (in capitals) most likely meant, into OUT_VAR:
# one a third of whose letters at most, and at least one, are wrong, missing
# or too many; none if no keyword is that near.
function(nearest_keyword word out_var)
    set(nearest "")
    foreach(keyword IN LISTS LAUNCHER_PRODUCT_KEYWORDS)
        string(LENGTH "${keyword}" length)
        math(EXPR allowed "${length} / 3")
        if(allowed LESS 1)
            set(allowed 1)
        endif()
        edit_distance("${word}" "${keyword}" distance)
        if(distance LESS_EQUAL allowed AND (NOT nearest OR distance LESS nearest_distance))
            set(nearest "${keyword}")
            set(nearest_distance ${distance})
        endif()
    endforeach()
    set(${out_var} "${nearest}" PARENT_SCOPE)
endfunction()

# How many letters must change, go or come to make word A word B
# (Levenshtein's distance), one row of the table at a time.
function(edit_distance a b out_var)
    string(LENGTH "${a}" a_length)
    string(LENGTH "${b}" b_length)
    set(row)
    foreach(j RANGE ${b_length})
        list(APPEND row ${j})
    endforeach()
    set(i 0)
    while(i LESS a_length)
        string(SUBSTRING "${a}" ${i} 1 a_letter)
        math(EXPR i "${i} + 1")
        set(next ${i})
        set(j 0)
        while(j LESS b_length)
            string(SUBSTRING "${b}" ${j} 1 b_letter)
            list(GET row ${j} replaced)
            math(EXPR j "${j} + 1")
            list(GET row ${j} removed)
            list(GET next -1 added)
            if(NOT a_letter STREQUAL b_letter)
                math(EXPR replaced "${replaced} + 1")
            endif()
            math(EXPR removed "${removed} + 1")
            math(EXPR added "${added} + 1")
            set(cost ${replaced})
            foreach(other IN ITEMS ${removed} ${added})
                if(other LESS cost)
                    set(cost ${other})
                endif()
            endforeach()
            list(APPEND next ${cost})
        endwhile()
        set(row ${next})
    endwhile()
    list(GET row -1 distance)
    set(${out_var} ${distance} PARENT_SCOPE)
endfunction()

# Windows reserves these names for devices in every folder, whatever follows
# them: https://learn.microsoft.com/windows/win32/fileio/naming-a-file
function(refuse_device_name what value)
    string(TOUPPER "${value}" upper)
    if(upper MATCHES "^(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9])(\\.|$)")
        refuse_product("${what} '${value}' is a name Windows keeps for a device")
    endif()
endfunction()

# Names that must differ between products of every table, compared as
# Windows compares file names and environment values the host might match:
# without case. The claims are the reading's, in read_product_tables().
function(claim_unique_value what value)
    # A variable's name may hold the values' characters, but not "=".
    string(TOUPPER "${what}_${value}" key)
    if(DEFINED LAUNCHER_CLAIM_${key})
        refuse_product("its ${what} '${value}' is already claimed by ${LAUNCHER_CLAIM_${key}}")
    endif()
    set(LAUNCHER_CLAIM_${key} "entry ${LAUNCHER_ENTRY} of ${LAUNCHER_TABLE}" PARENT_SCOPE)
    list(APPEND LAUNCHER_CLAIMS ${key})
    set(LAUNCHER_CLAIMS ${LAUNCHER_CLAIMS} PARENT_SCOPE)
endfunction()

function(check_product_version version)
    if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
        refuse_product("VERSION '${version}' is not X.Y.Z, three numbers")
    endif()
    # Windows Installer keeps a product version as major.minor.build with at
    # most 255, 255 and 65535; a larger one does not upgrade as it should.
    # https://learn.microsoft.com/en-us/windows/win32/msi/productversion
    if(CMAKE_MATCH_1 GREATER 255 OR CMAKE_MATCH_2 GREATER 255 OR CMAKE_MATCH_3 GREATER 65535)
        refuse_product("VERSION ${version} is more than an MSI can hold (at most 255.255.65535)")
    endif()
endfunction()

# One entry of a table, checked and kept, for read_product_tables(), as
# product_<NAME>_<FIELD> in its scope.
function(launcher_product name)
    set(LAUNCHER_ENTRY "${name}")
    parse_product_entry(${ARGN})
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
    # The name is a folder and a file name, the executable a file's, and a
    # host may well name a file after its PRODUCTNAME.
    refuse_device_name(name "${name}")
    refuse_device_name(PRODUCTNAME "${arg_PRODUCTNAME}")
    refuse_device_name(EXECUTABLE "${arg_EXECUTABLE}")
    string(TOUPPER "${arg_UPGRADE_CODE}" upgrade_code)
    # CMake's expressions know no counted repeats: the GUID's pattern is spelt out.
    string(REPEAT "[0-9A-F]" 4 four)
    if(NOT upgrade_code MATCHES "^${four}${four}-${four}-${four}-${four}-${four}${four}${four}$")
        refuse_product("UPGRADE_CODE '${arg_UPGRADE_CODE}' is not a GUID (XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX)")
    endif()
    if(upgrade_code STREQUAL LAUNCHER_EXAMPLE_UPGRADE_CODE)
        set(own "give it a GUID of its own: python3 -c 'import uuid; print(str(uuid.uuid4()).upper())'")
        set(example "docs/maintaining.md's example, shared by every entry copied from it")
        refuse_product("UPGRADE_CODE ${arg_UPGRADE_CODE} is ${example}: ${own}")
    endif()
    get_filename_component(icon "${arg_ICON}" ABSOLUTE BASE_DIR "${LAUNCHER_TABLE_FOLDER}")
    if(NOT EXISTS "${icon}" OR IS_DIRECTORY "${icon}")
        refuse_product("no icon at ${icon}")
    endif()
    set(extra_file "")
    if(DEFINED arg_EXTRA_FILE)
        get_filename_component(extra_file "${arg_EXTRA_FILE}" ABSOLUTE BASE_DIR "${LAUNCHER_TABLE_FOLDER}")
        get_filename_component(extra_name "${extra_file}" NAME)
        # Its name is a file's in the install folder and the ZIP, on Windows.
        if(NOT EXISTS "${extra_file}" OR IS_DIRECTORY "${extra_file}")
            refuse_product("no EXTRA_FILE at ${extra_file}")
        elseif(NOT extra_name MATCHES "^[A-Za-z0-9][A-Za-z0-9._-]*$")
            refuse_product("EXTRA_FILE '${extra_name}' may hold only letters, digits, '.', '-' and '_'")
        endif()
        refuse_device_name(EXTRA_FILE "${extra_name}")
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

    foreach(key IN LISTS LAUNCHER_CLAIMS)
        set(LAUNCHER_CLAIM_${key} "${LAUNCHER_CLAIM_${key}}" PARENT_SCOPE)
    endforeach()
    set(LAUNCHER_CLAIMS ${LAUNCHER_CLAIMS} PARENT_SCOPE)
    set(LAUNCHER_TABLE_PRODUCTS ${LAUNCHER_TABLE_PRODUCTS} "${name}" PARENT_SCOPE)
    set(product_${name}_NAME "${name}" PARENT_SCOPE)
    set(product_${name}_PRODUCTNAME "${arg_PRODUCTNAME}" PARENT_SCOPE)
    set(product_${name}_EXECUTABLE "${arg_EXECUTABLE}" PARENT_SCOPE)
    set(product_${name}_VERSION "${version}" PARENT_SCOPE)
    set(product_${name}_ICON "${icon}" PARENT_SCOPE)
    set(product_${name}_EXTRA_FILE "${extra_file}" PARENT_SCOPE)
    set(product_${name}_UPGRADE_CODE "${upgrade_code}" PARENT_SCOPE)
    set(product_${name}_TABLE "${LAUNCHER_TABLE}" PARENT_SCOPE)
endfunction()

# Reads the product tables, each followed by the folder its products'
# releases go to, and checks every entry against every other:
#   read_product_tables(PRODUCTS_VAR TABLE RELEASE_FOLDER [TABLE RELEASE_FOLDER...])
# PRODUCTS_VAR gets the names of all their products, in order, and
# product_<NAME>_<FIELD> each product's values.
function(read_product_tables products_var)
    set(tables ${ARGN})
    set(products)
    set(LAUNCHER_CLAIMS)
    while(tables)
        list(POP_FRONT tables table release_folder)
        get_filename_component(LAUNCHER_TABLE "${table}" ABSOLUTE)
        get_filename_component(LAUNCHER_TABLE_FOLDER "${LAUNCHER_TABLE}" DIRECTORY)
        set(LAUNCHER_TABLE_PRODUCTS)
        include("${LAUNCHER_TABLE}")
        if(NOT LAUNCHER_TABLE_PRODUCTS)
            message(FATAL_ERROR "Product table ${LAUNCHER_TABLE} describes no product")
        endif()
        foreach(product IN LISTS LAUNCHER_TABLE_PRODUCTS)
            set(product_${product}_RELEASE_FOLDER "${release_folder}")
        endforeach()
        list(APPEND products ${LAUNCHER_TABLE_PRODUCTS})
    endwhile()
    foreach(product IN LISTS products)
        foreach(field IN LISTS LAUNCHER_PRODUCT_FIELDS)
            set(product_${product}_${field} "${product_${product}_${field}}" PARENT_SCOPE)
        endforeach()
    endforeach()
    set(${products_var} ${products} PARENT_SCOPE)
endfunction()

# Sets, in the caller's scope, product_<field> for each field of a product
# that make_product() made, and product_FOLDER, product_LINK_MAP and
# product_DESCRIPTION.
macro(get_product product)
    foreach(field IN LISTS LAUNCHER_PRODUCT_FIELDS ITEMS FOLDER LINK_MAP DESCRIPTION)
        get_target_property(product_${field} product.${product} PRODUCT_${field})
    endforeach()
endmacro()

# The resources of a launcher of a product that make_product() made, at
# VERSION, in FOLDER: the header of its values, its manifest, its icon group
# and its version resource. The target RESOURCES_TARGET makes what must be
# built, and names the folder for add_launcher().
function(make_product_resources product version folder resources_target)
    get_product(${product})
    set(PRODUCT_NAME "${product}")
    set(PRODUCT_VERSION "${version}")
    set(PRODUCT_EXECUTABLE "${product_EXECUTABLE}")
    set(PRODUCT_VALUE "${product_PRODUCTNAME}")
    string(REPLACE "." ";" version_numbers "${version}")
    list(GET version_numbers 0 PRODUCT_VERSION_MAJOR)
    list(GET version_numbers 1 PRODUCT_VERSION_MINOR)
    list(GET version_numbers 2 PRODUCT_VERSION_PATCH)

    configure_file("${PROJECT_SOURCE_DIR}/resources/product.h.in" "${folder}/product.h" @ONLY)
    set(PRODUCT_MANIFEST "${folder}/launcher.manifest")
    configure_file("${PROJECT_SOURCE_DIR}/resources/launcher.manifest.in" "${PRODUCT_MANIFEST}" @ONLY)
    set(PRODUCT_ICON "${folder}/IDI_ICON1.ico")
    add_custom_command(OUTPUT "${PRODUCT_ICON}"
        COMMAND "${PROJECT_SOURCE_DIR}/resources/make-icon-group.sh" "${product_ICON}" "${PRODUCT_ICON}"
        DEPENDS "${PROJECT_SOURCE_DIR}/resources/make-icon-group.sh" "${product_ICON}"
        COMMENT "Making ${product}'s icon group")
    configure_file("${PROJECT_SOURCE_DIR}/resources/launcher.rc.in" "${folder}/launcher.rc" @ONLY)
    add_custom_target(${resources_target} DEPENDS "${PRODUCT_ICON}")
    set_target_properties(${resources_target} PROPERTIES PRODUCT_FOLDER "${folder}")
endfunction()

# A launcher of a product at VERSION, named TARGET, its file PRODUCT's
# executable in FOLDER, which also holds its resources and the link map the
# release's notices and bill of materials are read from.
function(add_product_launcher product version folder target)
    get_product(${product})
    make_product_resources(${product} ${version} "${folder}" ${target}_resources)
    add_launcher(${target} RESOURCES ${target}_resources)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME "${product_EXECUTABLE}")
    target_link_options(${target} PRIVATE "-Wl,-Map,${folder}/${product_EXECUTABLE}.map")
endfunction()

# A product that read_product_tables() read: its values kept on the target
# product.NAME, and its launcher, in the build's folder of programs, made in
# its folder of the build (build/products/NAME), which also holds NAME.product,
# its description for the release scripts (installer/ writes it).
function(make_product product)
    set(folder "${PROJECT_BINARY_DIR}/products/${product}")
    set(executable "${product_${product}_EXECUTABLE}")
    add_custom_target(product.${product})
    foreach(field IN LISTS LAUNCHER_PRODUCT_FIELDS)
        set_target_properties(product.${product} PROPERTIES PRODUCT_${field} "${product_${product}_${field}}")
    endforeach()
    set_target_properties(product.${product} PROPERTIES PRODUCT_FOLDER "${folder}"
        PRODUCT_LINK_MAP "${folder}/${executable}.map" PRODUCT_DESCRIPTION "${folder}/${product}.product")
    add_product_launcher(${product} ${product_${product}_VERSION} "${folder}" ${executable})
endfunction()

# Forgets what an earlier configure made of products that no table has any
# longer, so that no script offers them and no check expects them: the
# folder of products/ of each, and what the description in it names. Writes
# products/list, the names of PRODUCTS, the products of the tables, one a
# line: the scripts offer those, whatever folders an earlier build left.
function(keep_only_products)
    set(launchers)
    foreach(product IN LISTS ARGN)
        list(APPEND launchers "${product_${product}_EXECUTABLE}.exe")
    endforeach()
    file(GLOB folders LIST_DIRECTORIES true "${PROJECT_BINARY_DIR}/products/*")
    foreach(folder IN LISTS folders)
        get_filename_component(name "${folder}" NAME)
        if(IS_DIRECTORY "${folder}" AND NOT name IN_LIST ARGN)
            forget_product("${folder}" "${launchers}")
        endif()
    endforeach()
    list(JOIN ARGN "\n" names)
    file(WRITE "${PROJECT_BINARY_DIR}/products/list" "${names}\n")
endfunction()

# A product's FOLDER in the build, and what its description there names: its
# launcher and the launcher's objects, unless the launcher is one of
# LAUNCHERS, the tables' (a product taken out may have had the file name one
# of them has now); its release folder, unless it holds what no release
# made; and its test kits of every version.
function(forget_product folder launchers)
    get_filename_component(name "${folder}" NAME)
    message(STATUS "Forgetting ${name}, which no product table has any longer")
    set(forgotten "${folder}")
    set(description "${folder}/${name}.product")
    if(EXISTS "${description}")
        file(READ "${description}" values)
        foreach(key IN ITEMS launcher release kit)
            string(REGEX MATCH "(^|\n)${key}=([^\n]*)" found "${values}")
            set(${key} "${CMAKE_MATCH_2}")
        endforeach()
        get_filename_component(launcher_file "${launcher}" NAME)
        if(launcher AND NOT launcher_file IN_LIST launchers)
            get_filename_component(executable "${launcher}" NAME_WLE)
            list(APPEND forgotten "${launcher}" "${PROJECT_BINARY_DIR}/CMakeFiles/${executable}.dir")
        endif()
        if(release)
            forgettable_release("${name}" "${release}" release)
        endif()
        if(kit)
            get_filename_component(kit_folder "${kit}" DIRECTORY)
            file(GLOB kits "${kit_folder}/${name}-*-windows-tests.zip")
            list(FILTER kits INCLUDE REGEX "/${name}-[0-9.]+-windows-tests\\.zip$")
        endif()
        list(APPEND forgotten ${release} ${kits})
    endif()
    remove_from_build(${forgotten})
endfunction()

# FOLDER, a release folder of the product NAME, into OUT_VAR if it holds
# release files alone, each named for the product and its version, NAME-X.Y.Z
# and more (or, from an earlier release, SHA256SUMS): what else is there is no release's, and
# keeps it, as the release step's pruning does.
function(forgettable_release name folder out_var)
    file(GLOB others LIST_DIRECTORIES true "${folder}/*")
    set(release_file "${name}-[0-9]+\\.[0-9]+\\.[0-9]+[.-][^/]*|SHA256SUMS|SHA256SUMS\\.minisig")
    list(FILTER others EXCLUDE REGEX "/(${release_file})$")
    set(${out_var} "${folder}" PARENT_SCOPE)
    if(others)
        list(JOIN others ", " others)
        message(WARNING "${folder} is kept: it holds ${others}, which no release of ${name} made")
        set(${out_var} "" PARENT_SCOPE)
    endif()
endfunction()

# Removes each path that lies below the build folder, and nothing else: a
# description that an older build, or a copy from elsewhere, left may name
# any path.
function(remove_from_build)
    foreach(path IN LISTS ARGN)
        cmake_path(NORMAL_PATH path)
        string(FIND "${path}" "${PROJECT_BINARY_DIR}/" at)
        if(at EQUAL 0)
            file(REMOVE_RECURSE "${path}")
        endif()
    endforeach()
endfunction()
