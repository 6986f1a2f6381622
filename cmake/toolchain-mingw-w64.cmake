# Cross-compiles nimbus for 64-bit Windows with Debian's mingw-w64 (x86_64-w64-mingw32, posix
# thread model, GCC 12): cmake --preset windows. Programs built here run under Wine, each in the
# build folder's own Wine prefix (made on first use by cmake/wine-run).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NIMBUS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NIMBUS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NIMBUS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NIMBUS_MINGW_TRIPLE}-windres)

# Libraries and headers only from the cross environment; programs (wine, the build tools) from
# the host.
set(CMAKE_FIND_ROOT_PATH /usr/${NIMBUS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run ${CMAKE_BINARY_DIR}/wine/prefix)
