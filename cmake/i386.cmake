# 32-bit x86 (i686, Debian's i386 baseline).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(cross_triplet i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cross.cmake)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
