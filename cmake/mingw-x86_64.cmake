# Cross-build for 64-bit Windows; the tests run under wine64, which needs no
# 32-bit support from the machine. The emulator is the loader itself, not
# /usr/bin/wine: that one picks wine32 when it is installed, even where
# 32-bit programs cannot run.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
