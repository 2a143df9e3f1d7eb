# Binary packages made with CPack from the install rules: a .deb from the
# Linux build (`cpack -G DEB` in the build folder), a .zip from the Windows
# build (`cpack -G ZIP`).
set(CPACK_PACKAGE_NAME vrxcompile)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "vrxCompile developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Shader compiler driver with its reference compiler and writer libraries")
set(CPACK_PACKAGE_DESCRIPTION
    "vrxCompile compiles one shader program from GLSL or ESSL sources into a .vrx shader file, \
with the reference compiler library (GLSL front end) and .vrx writer library, the vrxInfo \
inspector, manual pages and a CMake package for build integration.")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "vrxcompile-${PROJECT_VERSION}-windows-x64")
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "vrxCompile developers")
    set(CPACK_DEBIAN_PACKAGE_SECTION devel)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    # Run-time dependencies from the shared libraries the binaries link
    # (dpkg-shlibdeps): the C and C++ run times, nothing of the build.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The compile cache's remote storages open these client libraries when
    # VRXCOMPILE_REMOTE_CACHE names a storage; without them it stays local.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libhiredis0.14, libcurl4")
endif()
include(CPack)
