# Cross-compiling the x86 build (the primary one) with Debian's mingw-w64.
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KORVANE_ARCH x86)
set(KORVANE_MANIFEST_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
