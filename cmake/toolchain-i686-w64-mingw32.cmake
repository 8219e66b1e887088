# Cross-build for 32-bit Windows with Debian's mingw-w64 (posix threads) and a static Qt 5.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake -DQT5_MINGW_PREFIX=<qt> ...
# QT5_MINGW_PREFIX (or the environment variable of that name) is the unpacked static Qt tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TARNIX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TARNIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARNIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARNIX_MINGW_TRIPLE}-windres)

if(NOT QT5_MINGW_PREFIX)
    if(DEFINED ENV{QT5_MINGW_PREFIX})
        set(QT5_MINGW_PREFIX "$ENV{QT5_MINGW_PREFIX}")
    else()
        message(FATAL_ERROR "Set QT5_MINGW_PREFIX to the unpacked static Qt for i686-w64-mingw32")
    endif()
endif()
set(QT5_MINGW_PREFIX "${QT5_MINGW_PREFIX}" CACHE PATH "Static Qt 5 for i686-w64-mingw32")
# try_compile() re-reads this file in a fresh project.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QT5_MINGW_PREFIX)

# Target headers, libraries and packages come from the mingw sysroot and the Qt tree only; programs
# (moc, uic, rcc in Qt's bin/, which are Linux executables) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TARNIX_MINGW_TRIPLE} "${QT5_MINGW_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_PREFIX_PATH "${QT5_MINGW_PREFIX}")
# pkg-config would otherwise hand out the build machine's .pc files (Linux libraries and headers).
set(ENV{PKG_CONFIG_LIBDIR} "/usr/${TARNIX_MINGW_TRIPLE}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# The plug-in lands in a host program's folder on its own, so every binary carries its C/C++ runtime
# and winpthreads (-static alone is what drops libwinpthread-1.dll) and links zlib's archive, not
# its DLL import library.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)
# Lets the plug-in's --gc-sections drop what it does not use of the project's static libraries.
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
