# IBM Power, little-endian (POWER8 and later).
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(cross_triplet powerpc64le-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cross.cmake)
