# Cross-building for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QLM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QLM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QLM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QLM_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QLM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The programs carry the C and C++ runtime of the compiler: they run where no
# mingw DLLs are installed (under Wine, on a plain Windows).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
