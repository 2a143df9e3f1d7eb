# Cross build for 64-bit Windows with Debian's mingw-w64 compilers (posix
# thread model, package g++-mingw-w64-x86-64-posix).
#
# Everything is linked statically against the mingw runtime (libgcc,
# libstdc++, winpthread), so the executables and DLLs need no runtime DLL
# beside them: a DLL that depends on one fails LoadLibraryW with error 126
# when it is copied into a folder of its own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VRX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VRX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VRX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VRX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VRX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test executables run through wine; the preset or the caller may name
# another emulator.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(VRX_WINE_PROGRAM NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
    if(VRX_WINE_PROGRAM)
        set(CMAKE_CROSSCOMPILING_EMULATOR ${VRX_WINE_PROGRAM})
    endif()
endif()
