# The x86-64 build: the host's compilers, asked for 64-bit code explicitly.
set(CMAKE_C_FLAGS_INIT "-m64")
set(CMAKE_CXX_FLAGS_INIT "-m64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m64")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m64")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m64")
