# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the -posix compilers, whose
# std::thread and std::mutex the scan's reader threads need). Used both to build Qt for Windows
# and to build the programs against it: tools/build-windows passes the Qt it built as
# ORVANTIS_WINDOWS_QT.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw}-windres)

# Libraries and headers come from the mingw root and the Windows Qt, programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw})
# try_compile projects read this file again: hand them the same Qt.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORVANTIS_WINDOWS_QT)
if(ORVANTIS_WINDOWS_QT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${ORVANTIS_WINDOWS_QT})
  list(APPEND CMAKE_PREFIX_PATH ${ORVANTIS_WINDOWS_QT})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's moc, rcc and uic run on the host: Debian's own, of the same Qt version.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
