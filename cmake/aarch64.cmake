# The aarch64 build: clang for aarch64-linux-gnu, with Debian's cross
# binutils and its cross glibc, libgcc and libstdc++ (found by clang in
# /usr/aarch64-linux-gnu and /usr/lib/gcc-cross without a --sysroot, whose
# absolute paths in the cross libc.so the linker could not follow). Its
# programs run here through qemu-aarch64 (see scripts/install-deps).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# The host's binutils cannot read aarch64 files.
set(CMAKE_AR /usr/bin/aarch64-linux-gnu-ar)
set(CMAKE_RANLIB /usr/bin/aarch64-linux-gnu-ranlib)
set(CMAKE_STRIP /usr/bin/aarch64-linux-gnu-strip)
set(CMAKE_OBJCOPY /usr/bin/aarch64-linux-gnu-objcopy)
