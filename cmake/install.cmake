# What `cmake --install` puts under the prefix:
#   bin/                    vrxCompile and vrxInfo
#   lib/vrxcompile/         the compiler and writer libraries the driver loads,
#                           kept off the system library path: the driver looks
#                           in its own folder, then in ../lib/vrxcompile/
#   lib/cmake/vrxCompile/   the CMake package (vrxcompile_add_program)
#   share/man/man1/         the manual pages
#   share/doc/vrxcompile/   the read-me and the format notes
# The folders are fixed names, not GNUInstallDirs ones: the driver finds its
# libraries by the relative path, which a multiarch library folder would break.
include(CMakePackageConfigHelpers)

set(VRX_INSTALL_BINARY_DIR bin)
set(VRX_INSTALL_LIBRARY_DIR lib/vrxcompile)
set(VRX_INSTALL_PACKAGE_DIR lib/cmake/vrxCompile)
set(VRX_INSTALL_MANUAL_DIR share/man/man1)
set(VRX_INSTALL_DOCUMENT_DIR share/doc/vrxcompile)

# The executables form the package's export set: vrxCompile::vrxCompile and,
# where this build makes it, vrxCompile::vrxInfo.
set(VRX_EXPORTED_PROGRAMS vrxCompile)
if(TARGET vrxInfo)
    list(APPEND VRX_EXPORTED_PROGRAMS vrxInfo)
endif()
install(TARGETS ${VRX_EXPORTED_PROGRAMS} EXPORT vrxCompileTargets
        RUNTIME DESTINATION ${VRX_INSTALL_BINARY_DIR})
# Whichever reference libraries this build makes (the Windows build makes
# mendrix.dll only where its front end is available). Import libraries are
# of no use to anyone: the driver binds by name at run time.
foreach(library mendrix tmb)
    if(TARGET ${library})
        install(TARGETS ${library}
            RUNTIME DESTINATION ${VRX_INSTALL_LIBRARY_DIR}
            LIBRARY DESTINATION ${VRX_INSTALL_LIBRARY_DIR}
            ARCHIVE DESTINATION ${VRX_INSTALL_LIBRARY_DIR} EXCLUDE_FROM_ALL)
    endif()
endforeach()

install(FILES docs/man/vrxCompile.1 docs/man/vrxInfo.1 DESTINATION ${VRX_INSTALL_MANUAL_DIR})
install(FILES README.md docs/vrx-format.md docs/mendrix.md DESTINATION ${VRX_INSTALL_DOCUMENT_DIR})

install(EXPORT vrxCompileTargets NAMESPACE vrxCompile::
        DESTINATION ${VRX_INSTALL_PACKAGE_DIR})
configure_package_config_file(cmake/vrxCompileConfig.cmake.in
    ${CMAKE_BINARY_DIR}/package/vrxCompileConfig.cmake
    INSTALL_DESTINATION ${VRX_INSTALL_PACKAGE_DIR}
    PATH_VARS VRX_INSTALL_BINARY_DIR VRX_INSTALL_LIBRARY_DIR)
# Any 1.x satisfies a request for 1.y with y <= x.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/vrxCompileConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/package/vrxCompileConfig.cmake
              ${CMAKE_BINARY_DIR}/package/vrxCompileConfigVersion.cmake
        DESTINATION ${VRX_INSTALL_PACKAGE_DIR})
