# What both Windows cross-builds share, included by mingw-i686.cmake and
# mingw-x86_64.cmake after they name their compilers.

# Everything built here runs on a bare Windows (or wine) with system DLLs
# only: the C++ runtime, libgcc and winpthreads are linked in statically.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# printf-family formatting from mingw's own C99 implementation, so "%.2f"
# rounds and prints exactly as the native build does.
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
