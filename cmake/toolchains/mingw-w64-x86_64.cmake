# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix threads).
# Programs and DLLs are linked statically against the compiler's runtime
# (libgcc, libstdc++, winpthread), so they run on a bare Windows (and under
# wine) without the compiler's DLLs beside them. tools/build-qt-windows.sh
# builds Qt with this file too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ql_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ql_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ql_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${ql_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ql_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
