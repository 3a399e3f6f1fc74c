# A build for another processor: clang for the triplet `cross_triplet`, with
# that processor's binutils, against the Debian root of the target (its
# glibc, libgcc and libstdc++, made by scripts/roots). Its programs run in
# that root (scripts/in-root), through qemu-user.
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
# The toolchain file that includes this one is named after the preset.
get_filename_component(cross_preset ${CMAKE_PARENT_LIST_FILE} NAME_WE)
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/roots path ${cross_preset}
  OUTPUT_VARIABLE CMAKE_SYSROOT OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/in-root ${CMAKE_SYSROOT})
# The build's own tools (javac, the host's JDK headers) are the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
