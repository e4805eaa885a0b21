# What both Windows toolchains share; each sets CMAKE_SYSTEM_PROCESSOR and TF_MINGW_TRIPLET first.
#
# Test executables run under wine through ctest (CMAKE_CROSSCOMPILING_EMULATOR). Set WINEPREFIX
# in the environment to share one prefix between builds; .ci/legs/platforms.sh does.
set(CMAKE_C_COMPILER ${TF_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TF_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TF_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${TF_MINGW_TRIPLET}-objdump)

# Libraries and headers come only from the cross root; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TF_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable and module links the compiler's runtime and the threads library statically, so
# that it needs only the system's own DLLs, on Windows and under wine alike.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(TF_WINE NAMES wine)
if(TF_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TF_WINE})
endif()
