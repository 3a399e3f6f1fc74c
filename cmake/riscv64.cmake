# 64-bit RISC-V (RV64GC), a release architecture from Debian 13 on. Debian
# 12's riscv64 binutils cannot link Debian 13's libc.a: those of its own
# release link it.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(cross_triplet riscv64-linux-gnu)
set(cross_binutils_release trixie)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cross.cmake)
