# A build for another processor: clang for the triplet `cross_triplet`, with
# Debian's cross binutils and its cross glibc, libgcc and libstdc++ (found by
# clang in /usr/TRIPLET and /usr/lib/gcc-cross without a --sysroot, whose
# absolute paths in the cross libc.so the linker could not follow). Debian's
# cross g++ packages conflict with g++-multilib, which the i386 build needs.
# The programs run here through qemu-user (see scripts/install-deps).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${cross_triplet})
set(CMAKE_CXX_COMPILER_TARGET ${cross_triplet})
set(CMAKE_LIBRARY_ARCHITECTURE ${cross_triplet})
# The host's binutils cannot read these files.
foreach(tool AR RANLIB STRIP OBJCOPY)
  string(TOLOWER ${tool} name)
  set(CMAKE_${tool} /usr/bin/${cross_triplet}-${name})
endforeach()
