# The compile cache's build identity: mendrix_build_identity.h, made at build
# time by build_identity.cmake from
#  - every source file of the targets linked into the library and the
#    headers beside them, by repository-relative name and content;
#  - the compile and link flags, with the source and build folders replaced
#    by fixed placeholders, so two checkouts at different paths agree;
#  - the C++ compiler and its version;
#  - the front end's identity: VRX_FRONT_END_IDENTITY when set (the key of a
#    front end built from source), else the found glslang and SPIRV-Tools
#    package versions.
# The target mendrix_build_identity makes only the header.
set(VRX_FRONT_END_IDENTITY "" CACHE STRING
    "Identity of the glslang and SPIRV-Tools build linked into the compiler library; empty: their package versions")

# The package version of SPIRV-Tools, which installs no version file for
# CMake: taken from its pkg-config file beside the CMake package.
function(vrx_spirv_tools_version result)
    set(version "${SPIRV-Tools_VERSION}")
    if(NOT version)
        file(GLOB pc_files "${SPIRV-Tools_DIR}/../../pkgconfig/SPIRV-Tools.pc"
                           "${SPIRV-Tools_DIR}/../../../lib/pkgconfig/SPIRV-Tools.pc")
        foreach(pc_file IN LISTS pc_files)
            file(STRINGS "${pc_file}" lines REGEX "^Version: ")
            if(lines)
                list(GET lines 0 line)
                string(REGEX REPLACE "^Version: *" "" version "${line}")
                break()
            endif()
        endforeach()
    endif()
    if(NOT version)
        set(version "unknown")
    endif()
    set(${result} "${version}" PARENT_SCOPE)
endfunction()

# Repository-relative names of the sources of `targets` and of the headers
# in their folders.
function(vrx_identity_sources result)
    set(files "")
    foreach(target IN LISTS ARGN)
        get_target_property(folder ${target} SOURCE_DIR)
        get_target_property(sources ${target} SOURCES)
        file(GLOB headers ${folder}/*.h)
        foreach(source IN LISTS sources headers)
            if(source MATCHES "^\\$<")
                continue()
            endif()
            cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${folder} NORMALIZE)
            cmake_path(IS_PREFIX PROJECT_BINARY_DIR "${source}" NORMALIZE generated)
            if(NOT generated)
                file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${source})
                list(APPEND files ${relative})
            endif()
        endforeach()
    endforeach()
    file(GLOB shared_headers RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/libraries/*.h)
    file(GLOB recipe RELATIVE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*.cmake
                                                    ${CMAKE_CURRENT_SOURCE_DIR}/CMakeLists.txt)
    list(APPEND files ${shared_headers} ${recipe})
    list(REMOVE_DUPLICATES files)
    list(SORT files)
    set(${result} ${files} PARENT_SCOPE)
endfunction()

function(vrx_mendrix_build_identity library core)
    set(linked ${library} ${core} toolchain_common vrx_source vrx_platform)
    vrx_identity_sources(sources ${linked})
    list(TRANSFORM sources PREPEND "${PROJECT_SOURCE_DIR}/" OUTPUT_VARIABLE source_paths)

    if(VRX_FRONT_END_IDENTITY)
        set(front_end "${VRX_FRONT_END_IDENTITY}")
    else()
        vrx_spirv_tools_version(spirv_tools_version)
        set(front_end "glslang ${glslang_VERSION}, SPIRV-Tools ${spirv_tools_version}")
    endif()
    string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/generated)
    set(flags_file ${generated}/mendrix_build_flags.txt)
    # The flags as the compiler and linker get them (usage requirements of
    # linked targets included), written when the build files are.
    file(GENERATE OUTPUT ${flags_file} CONTENT
"compiler ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}
front end ${front_end}
cxx flags ${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${config}}
linker flags ${CMAKE_SHARED_LINKER_FLAGS} ${CMAKE_SHARED_LINKER_FLAGS_${config}}
standard $<TARGET_PROPERTY:${core},CXX_STANDARD> $<TARGET_PROPERTY:${core},CXX_EXTENSIONS>
options $<TARGET_PROPERTY:${core},COMPILE_OPTIONS>
definitions $<TARGET_PROPERTY:${core},COMPILE_DEFINITIONS>
includes $<TARGET_PROPERTY:${core},INCLUDE_DIRECTORIES>
link options $<TARGET_PROPERTY:${library},LINK_OPTIONS>
")
    set(header ${generated}/toolchain/mendrix/mendrix_build_identity.h)
    add_custom_command(
        OUTPUT ${header}
        COMMAND ${CMAKE_COMMAND} -DSOURCE_ROOT=${PROJECT_SOURCE_DIR}
                -DBUILD_ROOT=${PROJECT_BINARY_DIR} "-DSOURCES=${sources}"
                -DFLAGS_FILE=${flags_file} -DOUTPUT=${header}
                -DPROJECT_VERSION=${PROJECT_VERSION} "-DFRONT_END=${front_end}"
                -P ${CMAKE_CURRENT_SOURCE_DIR}/build_identity.cmake
        DEPENDS ${source_paths} ${flags_file}
        COMMENT "Taking the compiler library's build identity for the compile cache"
        VERBATIM)
    add_custom_target(mendrix_build_identity DEPENDS ${header})
    target_sources(${core} PRIVATE ${header})
    target_include_directories(${core} PRIVATE ${generated})
    add_dependencies(${core} mendrix_build_identity)
endfunction()
