# 32-bit ARM with hardware floating point: ARMv6 with VFPv2, in ARM state,
# the Raspberry Pi 1 and Zero (Raspberry Pi OS's 32-bit release). Debian's
# armhf (ARMv7-A, Thumb-2) runs that code too.
set(CMAKE_SYSTEM_PROCESSOR armv6l)
set(cross_triplet arm-linux-gnueabihf)
# The static tool links no armhf code either: Debian armhf's libc.a is
# ARMv7 code, so it links armel's (ARMv5TE). A static program's float ABI
# is its own business.
set(tool_preset armel)
set(tool_options --target=arm-linux-gnueabi -march=armv6 -mfloat-abi=soft -marm)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cross.cmake)
foreach(language C CXX)
  set(CMAKE_${language}_FLAGS_INIT "-march=armv6 -mfpu=vfpv2 -mfloat-abi=hard -marm")
endforeach()
# The library loads no code but libc's, so the start-up files, ARMv7 code
# here, stay out: it carries its own code alone. It has no static
# destructors, and its constructors are in .init_array.
string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -nostartfiles")
