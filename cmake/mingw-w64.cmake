# Cross-builds the component for Windows with Debian's MinGW-w64.
#
#   TELLVANE_WINDOWS_ARCH  i686 (32-bit, the default) or x86_64
#
# The -win32 thread-model compilers are used: the -posix ones would make the
# DLL import libwinpthread-1.dll. libgcc and libstdc++ are linked statically,
# so the DLL and the test programs import only system DLLs.
set(TELLVANE_WINDOWS_ARCH "i686" CACHE STRING "Windows target: i686 or x86_64")
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TELLVANE_WINDOWS_ARCH TELLVANE_WINDOWS_IDL_DIR)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TELLVANE_WINDOWS_ARCH})
set(_triple ${TELLVANE_WINDOWS_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${_triple}-gcc-win32)
set(CMAKE_CXX_COMPILER ${_triple}-g++-win32)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The linker leaves the time out of the PE header, so that two builds of one
# source give the same bytes.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")

# Debian's MinGW ships widl but no .idl files: the system interfaces a type
# library imports and stdole2.tlb come from Wine's Debian packages, unpacked
# here by scripts/install-windows-deps.
set(TELLVANE_WINDOWS_IDL_DIR "/usr/local/share/tellvane/windows-idl"
    CACHE PATH "Wine's .idl files (include/) and stdole2.tlb (lib/)")
