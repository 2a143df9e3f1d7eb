# The compile cache's build identity: mendrix_build_identity.h, made at build
# time by build_identity.cmake from
#  - every source file and header that can be linked into the library, by
#    repository-relative name and content: everything under
#    toolchain/mendrix/ (every room, and the recipe files) and
#    toolchain/common/, source/ and platform/, and the interface headers in
#    libraries/. One recursive list, so a file moved between folders never
#    drops out of it;
#  - the compile and link flags, with the source and build folders replaced
#    by fixed placeholders, so two checkouts at different paths agree;
#  - the C++ compiler and its version;
#  - the front end's identity, VRX_FRONT_END_IDENTITY: the key text of the
#    prefix scripts/build-front-end.sh made (versions, compiler, recipe and
#    every patch), set by cmake/front_end.cmake.
# The target mendrix_build_identity makes only the header.

# Repository-relative names of the files the identity covers, sorted.
function(vrx_identity_sources result)
    set(patterns "")
    foreach(folder toolchain/mendrix toolchain/common source platform)
        foreach(kind *.cpp *.h *.cmake CMakeLists.txt)
            list(APPEND patterns ${PROJECT_SOURCE_DIR}/${folder}/${kind})
        endforeach()
    endforeach()
    file(GLOB_RECURSE files CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR} ${patterns})
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
         ${PROJECT_SOURCE_DIR}/libraries/*.h)
    list(APPEND files ${headers})
    # A build folder kept inside one of those folders holds no source.
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${PROJECT_BINARY_DIR}" NORMALIZE inside)
    if(inside)
        file(RELATIVE_PATH build_folder ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
        list(FILTER files EXCLUDE REGEX "^${build_folder}/")
    endif()
    list(SORT files)
    set(${result} ${files} PARENT_SCOPE)
endfunction()

# `library` is the shared library, `core` the target whose flags (with
# those of everything it links) are taken, `user` the target that includes
# the header.
function(vrx_mendrix_build_identity library core user)
    vrx_identity_sources(sources)
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
    target_sources(${user} PRIVATE ${header})
    target_include_directories(${user} PRIVATE ${generated})
    add_dependencies(${user} mendrix_build_identity)
endfunction()
