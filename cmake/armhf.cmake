# 32-bit ARM with hardware floating point, Debian's armhf baseline (ARMv7-A,
# VFPv3-D16, Thumb-2), the code Debian's own armhf packages and libraries are.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(cross_triplet arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cross.cmake)
foreach(language C CXX)
  set(CMAKE_${language}_FLAGS_INIT "-march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard -mthumb")
endforeach()
