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
# The toolchain file that includes this one is named after the preset.
get_filename_component(cross_preset ${CMAKE_PARENT_LIST_FILE} NAME_WE)
# The host's binutils cannot read these files, and an older release's may
# not link the root's libc.a (Debian 12's riscv64 ld cannot link Debian
# 13's): the processor's binutils of the root's own release do, and run
# from this machine's root of that release (scripts/roots).
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/roots binutils ${cross_preset}
  OUTPUT_VARIABLE cross_binutils OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT --ld-path=${cross_binutils}/${cross_triplet}-ld)
endforeach()
foreach(tool AR RANLIB STRIP OBJCOPY)
  string(TOLOWER ${tool} name)
  set(CMAKE_${tool} ${cross_binutils}/${cross_triplet}-${name})
endforeach()
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/roots path ${cross_preset}
  OUTPUT_VARIABLE CMAKE_SYSROOT OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
# The root whose static libc the tool links: the target's own, unless the
# toolchain file names another target's (tool_preset, with the tool's
# tool_options).
set(tool_sysroot ${CMAKE_SYSROOT})
if(tool_preset)
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/roots path ${tool_preset}
    OUTPUT_VARIABLE tool_sysroot OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND tool_options --sysroot=${tool_sysroot})
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/in-root ${CMAKE_SYSROOT})
# The build's own tools (javac, the host's JDK headers) are the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
