# 32-bit ARM with soft float, Debian's armel baseline (ARMv5TE, ARM state):
# older ARM boards and NAS devices.
set(CMAKE_SYSTEM_PROCESSOR armv5tel)
set(cross_triplet arm-linux-gnueabi)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cross.cmake)
foreach(language C CXX)
  set(CMAKE_${language}_FLAGS_INIT "-march=armv5te -mfloat-abi=soft -marm")
endforeach()
# ARMv5 has no atomic instructions: libstdc++'s reference counts in the
# tests' C++ call libatomic. The deliverables make no such calls, and keep
# needing libc alone (as-needed).
set(CMAKE_CXX_STANDARD_LIBRARIES "-Wl,--push-state,--as-needed -latomic -Wl,--pop-state")
