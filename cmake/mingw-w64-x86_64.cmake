# Cross-compiling the Windows x86-64 build with mingw-w64 (POSIX threading model, so that
# std::thread and std::mutex are available). The runtime is linked statically: the executables
# need no compiler DLLs beside them, on Windows or under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUELLMARK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUELLMARK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUELLMARK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUELLMARK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUELLMARK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
