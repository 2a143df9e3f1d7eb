# The compiler library's front end: glslang and SPIRV-Tools, static, built
# from Debian's source packages with our patch series
# (toolchain/glslang-patches/) by scripts/build-front-end.sh, for the host or
# for mingw-w64. Never the system's glslang: its headers beside our library,
# or its library beside our headers, would build and then miscompile quietly.
#
# vrx_front_end_target() makes the imported target vrx::front_end from the
# prefix (VRX_FRONT_END_PREFIX, or the one the script prints, run here when
# none is given) and sets VRX_FRONT_END_IDENTITY to the prefix's key text
# (its lines joined by "; ").
# vrx_check_front_end_use() fails the configuration when any target would
# compile against another glslang's or SPIRV-Tools' headers or link their
# libraries.

set(VRX_FRONT_END_PREFIX "$ENV{VRX_FRONT_END_PREFIX}" CACHE PATH
    "Prefix made by scripts/build-front-end.sh; empty: the script runs at configure time")

# Found here, in the top folder's scope, so that every folder sees the
# target the front end links.
find_package(Threads REQUIRED)

set(VRX_FRONT_END_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/build-front-end.sh)
set(VRX_FRONT_END_PATCHES ${PROJECT_SOURCE_DIR}/toolchain/glslang-patches)
# The libraries in link order, and the names any glslang or SPIRV-Tools
# library goes by (the system packages' included).
set(VRX_FRONT_END_LIBRARIES glslang-default-resource-limits glslang SPIRV-Tools-opt SPIRV-Tools)
set(VRX_FRONT_END_NAME_PATTERN
    "(glslang|glslang-default-resource-limits|SPIRV|SPVRemapper|MachineIndependent|OSDependent|GenericCodeGen|OGLCompiler|HLSL|SPIRV-Tools(-[a-z]+)?)")

# The script's target name for this build, empty where it has none.
function(vrx_front_end_script_target out)
    if(NOT CMAKE_CROSSCOMPILING)
        set(${out} host PARENT_SCOPE)
    elseif(MINGW AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
        set(${out} mingw PARENT_SCOPE)
    else()
        set(${out} "" PARENT_SCOPE)
    endif()
endfunction()

# The prefix to use: the given one, or the script's (built now when it is not
# cached yet).
function(vrx_front_end_prefix out)
    vrx_front_end_script_target(target)
    if(VRX_FRONT_END_PREFIX)
        set(${out} ${VRX_FRONT_END_PREFIX} PARENT_SCOPE)
        return()
    endif()
    if(NOT target)
        message(FATAL_ERROR "No front-end build for this target in scripts/build-front-end.sh: "
                            "build glslang and SPIRV-Tools the same way and give the prefix as "
                            "VRX_FRONT_END_PREFIX.")
    endif()
    message(STATUS "Front end: bash scripts/build-front-end.sh ${target}")
    execute_process(COMMAND bash ${VRX_FRONT_END_SCRIPT} ${target}
        OUTPUT_VARIABLE prefix OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
    if(NOT result EQUAL 0 OR NOT prefix)
        message(FATAL_ERROR "The compiler library's front end could not be built (messages "
                            "above). Run `bash scripts/build-front-end.sh ${target}` as root, or "
                            "give the prefix it prints as VRX_FRONT_END_PREFIX.")
    endif()
    set(${out} ${prefix} PARENT_SCOPE)
endfunction()

# The "patch" lines the prefix's key must hold for the series in the tree.
function(vrx_front_end_patch_lines out)
    file(GLOB patches RELATIVE ${VRX_FRONT_END_PATCHES} ${VRX_FRONT_END_PATCHES}/*.patch)
    list(SORT patches)
    set(lines "")
    foreach(patch IN LISTS patches)
        file(SHA256 ${VRX_FRONT_END_PATCHES}/${patch} digest)
        list(APPEND lines "patch ${digest} ${patch}")
    endforeach()
    set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# Fails unless the prefix is complete, made for this target and from the
# patch series in the tree.
function(vrx_front_end_check_prefix prefix key_text)
    set(rebuild "build it again with scripts/build-front-end.sh, or leave "
                "VRX_FRONT_END_PREFIX empty to have it built")
    vrx_front_end_script_target(target)
    if(target AND NOT key_text MATCHES "(^|\n)front end for ${target}\n")
        message(FATAL_ERROR "${prefix} is not a front end for ${target}: " ${rebuild})
    endif()
    string(REGEX MATCHALL "patch [0-9a-f]+ [^\n]+" built "${key_text}")
    vrx_front_end_patch_lines(wanted)
    if(NOT built STREQUAL wanted)
        message(FATAL_ERROR "The front end in ${prefix} was built from another patch series than "
                            "toolchain/glslang-patches/: " ${rebuild})
    endif()
    foreach(header glslang/Public/ShaderLang.h glslang/build_info.h spirv-tools/libspirv.h)
        if(NOT EXISTS ${prefix}/include/${header})
            message(FATAL_ERROR "${prefix}/include/${header} is missing: " ${rebuild})
        endif()
    endforeach()
endfunction()

# Every <glslang/...>, <spirv-tools/...> and <spirv/...> header our sources
# name must be in the prefix: one that is not would come from the system's
# include folder, where an older glslang may stand.
function(vrx_front_end_check_includes prefix)
    file(GLOB_RECURSE sources ${PROJECT_SOURCE_DIR}/toolchain/*.cpp ${PROJECT_SOURCE_DIR}/toolchain/*.h
         ${PROJECT_SOURCE_DIR}/tests/*.cpp ${PROJECT_SOURCE_DIR}/tests/*.h
         ${PROJECT_SOURCE_DIR}/fuzz/*.cpp ${PROJECT_SOURCE_DIR}/bench/*.cpp)
    foreach(source IN LISTS sources)
        file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](glslang|spirv-tools|spirv)/")
        foreach(line IN LISTS lines)
            string(REGEX REPLACE "^[^<\"]*[<\"]([^>\"]+)[>\"].*" "\\1" header "${line}")
            if(NOT EXISTS ${prefix}/include/${header})
                message(FATAL_ERROR "${source} includes ${header}, which the front end in "
                                    "${prefix} does not have: it would come from the system.")
            endif()
        endforeach()
    endforeach()
endfunction()

function(vrx_front_end_target)
    vrx_front_end_prefix(prefix)
    get_filename_component(prefix ${prefix} ABSOLUTE)
    if(NOT EXISTS ${prefix}/front-end.key)
        message(FATAL_ERROR "${prefix} holds no front-end.key: not a prefix made by "
                            "scripts/build-front-end.sh")
    endif()
    file(READ ${prefix}/front-end.key key_text)
    vrx_front_end_check_prefix(${prefix} "${key_text}")
    vrx_front_end_check_includes(${prefix})

    set(files "")
    foreach(name IN LISTS VRX_FRONT_END_LIBRARIES)
        set(file ${prefix}/lib/${CMAKE_STATIC_LIBRARY_PREFIX}${name}${CMAKE_STATIC_LIBRARY_SUFFIX})
        if(NOT EXISTS ${file})
            message(FATAL_ERROR "${file} is missing: build the front end again with "
                                "scripts/build-front-end.sh")
        endif()
        list(APPEND files ${file})
    endforeach()
    add_library(vrx_front_end INTERFACE IMPORTED GLOBAL)
    add_library(vrx::front_end ALIAS vrx_front_end)
    # The definitions glslang was built with: its headers change inline
    # functions by them.
    set_target_properties(vrx_front_end PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES ${prefix}/include
        INTERFACE_COMPILE_DEFINITIONS "ENABLE_HLSL;ENABLE_SPIRV;ENABLE_OPT=1"
        INTERFACE_LINK_LIBRARIES "${files};Threads::Threads")

    set(VRX_FRONT_END_USED_PREFIX ${prefix} CACHE INTERNAL "The front end's prefix in use")
    # One line: a cache variable holds no line break.
    string(STRIP "${key_text}" identity)
    string(REPLACE "\n" "; " identity "${identity}")
    set(VRX_FRONT_END_IDENTITY "${identity}" CACHE STRING
        "The front end's build identity: the key text of its prefix, lines joined by '; '" FORCE)
    if(EXISTS ${prefix}/bin/glslangValidator)
        set(VRX_FRONT_END_VALIDATOR ${prefix}/bin/glslangValidator CACHE INTERNAL
            "glslangValidator built from the front end's sources")
    else()
        unset(VRX_FRONT_END_VALIDATOR CACHE)
    endif()
    # An edited, added or removed patch, or a changed script, configures
    # again, which builds the matching front end.
    file(GLOB patches ${VRX_FRONT_END_PATCHES}/*)
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
        ${VRX_FRONT_END_SCRIPT} ${VRX_FRONT_END_PATCHES} ${patches} ${prefix}/front-end.key)
    message(STATUS "Front end: ${prefix}")
endfunction()

# --- The check that no target uses another glslang -----------------------

# True in `out` when a path or link item names a glslang or SPIRV-Tools
# header folder or library that is not the prefix's.
function(vrx_front_end_foreign item prefix out)
    set(${out} FALSE PARENT_SCOPE)
    string(FIND "${item}/" "${prefix}/" inside)
    if(item MATCHES "^\\$<" OR inside EQUAL 0)
        return()
    endif()
    string(REGEX REPLACE "^-(I|isystem|L)" "" path "${item}")
    # The compiler's own folders never reach the command line (CMake drops
    # them); what our sources include from them is checked header by header.
    if(path IN_LIST CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES
       OR path IN_LIST CMAKE_C_IMPLICIT_INCLUDE_DIRECTORIES)
        return()
    endif()
    get_filename_component(name "${path}" NAME)
    if(EXISTS "${path}/glslang/Public/ShaderLang.h" OR EXISTS "${path}/spirv-tools/libspirv.h"
       OR EXISTS "${path}/Public/ShaderLang.h" OR EXISTS "${path}/libspirv.h"
       OR item MATCHES "^-l${VRX_FRONT_END_NAME_PATTERN}$"
       OR name MATCHES "^(lib)?${VRX_FRONT_END_NAME_PATTERN}(\\.a|\\.so.*|\\.dll.*|\\.lib)$"
       OR item MATCHES "^(glslang|SPIRV-Tools[^:]*)::"
       OR (item MATCHES "^${VRX_FRONT_END_NAME_PATTERN}$" AND NOT TARGET ${item}))
        set(${out} TRUE PARENT_SCOPE)
    endif()
endfunction()

# Every target of the directory and its subdirectories, in `out`.
function(vrx_front_end_all_targets directory out)
    get_property(found DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
    foreach(subdirectory IN LISTS subdirectories)
        vrx_front_end_all_targets(${subdirectory} more)
        list(APPEND found ${more})
    endforeach()
    set(${out} ${found} PARENT_SCOPE)
endfunction()

# Fails the configuration when a target, or anything it links, names a
# glslang or SPIRV-Tools other than the prefix's: in its include folders,
# compile or link options, or link items (also imported targets' files).
function(vrx_check_front_end_use)
    if(NOT VRX_FRONT_END_USED_PREFIX)
        return()
    endif()
    set(prefix ${VRX_FRONT_END_USED_PREFIX})
    set(items ${CMAKE_CXX_FLAGS} ${CMAKE_C_FLAGS} ${CMAKE_EXE_LINKER_FLAGS}
              ${CMAKE_SHARED_LINKER_FLAGS} ${CMAKE_MODULE_LINKER_FLAGS})
    string(REPLACE " " ";" items "${items}")
    foreach(item IN LISTS items)
        vrx_front_end_foreign("${item}" ${prefix} foreign)
        if(foreign)
            message(FATAL_ERROR "The build flags name ${item}: only the front end in ${prefix} "
                                "may be used.")
        endif()
    endforeach()
    vrx_front_end_all_targets(${PROJECT_SOURCE_DIR} pending)
    set(seen "")
    while(pending)
        list(POP_FRONT pending target)
        if(target IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${target})
        set(properties INTERFACE_INCLUDE_DIRECTORIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES
            INTERFACE_LINK_LIBRARIES INTERFACE_COMPILE_OPTIONS INTERFACE_LINK_OPTIONS
            INTERFACE_LINK_DIRECTORIES)
        get_target_property(imported ${target} IMPORTED)
        get_target_property(type ${target} TYPE)
        if(imported)
            list(APPEND properties IMPORTED_LOCATION IMPORTED_LOCATION_RELEASE
                 IMPORTED_LOCATION_NOCONFIG IMPORTED_IMPLIB)
        elseif(NOT type STREQUAL "INTERFACE_LIBRARY")
            list(APPEND properties INCLUDE_DIRECTORIES LINK_LIBRARIES COMPILE_OPTIONS
                 LINK_OPTIONS LINK_DIRECTORIES)
        endif()
        foreach(property IN LISTS properties)
            get_target_property(values ${target} ${property})
            if(NOT values)
                continue()
            endif()
            foreach(value IN LISTS values)
                # $<LINK_ONLY:x> and similar wrappers around a plain item.
                string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" value "${value}")
                string(REGEX REPLACE "^::@\\([^)]*\\)" "" value "${value}")
                vrx_front_end_foreign("${value}" ${prefix} foreign)
                if(foreign)
                    message(FATAL_ERROR "Target ${target} names ${value} (${property}): only the "
                                        "front end in ${prefix} may be used.")
                endif()
                if(property MATCHES "LINK_LIBRARIES$" AND TARGET "${value}")
                    list(APPEND pending ${value})
                endif()
            endforeach()
        endforeach()
    endwhile()
endfunction()
