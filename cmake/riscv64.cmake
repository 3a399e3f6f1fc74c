# 64-bit RISC-V (RV64GC), a release architecture from Debian 13 on.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(cross_triplet riscv64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cross.cmake)
