# vrx_host_headers(<target> <header>...)
#
# Makes header-only libraries installed by the host's packages (for example
# xxhash.h from libxxhash-dev) visible to <target>. A native build finds them
# in /usr/include already. A cross build must not search /usr/include, which
# holds the host's C library headers, so the named headers are linked into a
# folder of their own under the build tree and only that folder is added.
function(vrx_host_headers target)
    if(NOT CMAKE_CROSSCOMPILING)
        return()
    endif()
    set(folder ${CMAKE_BINARY_DIR}/host-headers/${target})
    foreach(header IN LISTS ARGN)
        set(source /usr/include/${header})
        if(NOT EXISTS ${source})
            message(FATAL_ERROR "${target} needs ${source}; install the package that holds it")
        endif()
        get_filename_component(subfolder ${folder}/${header} DIRECTORY)
        file(MAKE_DIRECTORY ${subfolder})
        file(CREATE_LINK ${source} ${folder}/${header} SYMBOLIC)
    endforeach()
    target_include_directories(${target} SYSTEM PUBLIC ${folder})
endfunction()
