# Configures project/ against a made-up front-end prefix once per case and
# checks that configuring fails exactly where a target would use another
# glslang, or the prefix does not match the tree.
#   cmake -DVRX_SOURCE_DIR=<repo> -DWORK=<scratch folder> -P check_front_end.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
set(system ${WORK}/system)
foreach(file include/glslang/Public/ShaderLang.h include/glslang/build_info.h
             include/spirv-tools/libspirv.h lib/libglslang.a lib/libSPIRV-Tools.a
             lib/libglslang-default-resource-limits.a lib/libSPIRV-Tools-opt.a)
    file(WRITE ${prefix}/${file} "")
    file(WRITE ${system}/${file} "")
endforeach()

# case | key text of the prefix | expected error, empty when configuring must pass
set(cases
    "clean|front end for host|"
    "include folder|front end for host|names ${system}/include"
    "include folder through a library|front end for host|Target wrapper names"
    "library file|front end for host|names ${system}/lib/libSPIRV-Tools-opt.a"
    "library name|front end for host|Target wrapper names glslang"
    "compile option|front end for host|names -I${system}/include"
    "clean|front end for mingw|is not a front end for host"
    "clean|front end for host\npatch 0123 0001-gone.patch|another patch series")
foreach(row IN LISTS cases)
    string(REPLACE "|" ";" fields "${row}")
    list(GET fields 0 case)
    list(GET fields 1 key)
    list(GET fields 2 expected)
    file(WRITE ${prefix}/front-end.key "${key}\n")
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/project
        -B ${WORK}/build -DVRX_SOURCE_DIR=${VRX_SOURCE_DIR} -DVRX_FRONT_END_PREFIX=${prefix}
        -DSYSTEM=${system} "-DCASE=${case}"
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    string(REGEX REPLACE "[ \n]+" " " output "${output}")
    string(FIND "${output}" "${expected}" found)
    if((expected STREQUAL "" AND NOT result EQUAL 0) OR
       (NOT expected STREQUAL "" AND (result EQUAL 0 OR found EQUAL -1)))
        message(SEND_ERROR "${case} (${key}): exit ${result}, expected "
                           "'${expected}':\n${output}")
    endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
