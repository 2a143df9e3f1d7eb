# The compile cache's build identity: mendrix_build_identity.h, made at build
# time by build_identity.cmake from
#  - every source file of the targets linked into the library and the
#    headers beside them, by repository-relative name and content;
#  - the compile and link flags, with the source and build folders replaced
#    by fixed placeholders, so two checkouts at different paths agree;
#  - the C++ compiler and its version;
#  - the front end's identity, VRX_FRONT_END_IDENTITY: the key text of the
#    prefix scripts/build-front-end.sh made (versions, compiler, recipe and
#    every patch), set by cmake/front_end.cmake.
# The target mendrix_build_identity makes only the header.

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

    if(NOT VRX_FRONT_END_IDENTITY)
        message(FATAL_ERROR "VRX_FRONT_END_IDENTITY is empty: the front end's prefix gave no key")
    endif()
    set(front_end "${VRX_FRONT_END_IDENTITY}")
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
