# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler (posix thread model, so that
# std::thread and std::mutex are there). The runtime is linked statically: the programs need no
# DLL beside them. Programs built here run on this machine under Wine (cmake/wine-run.sh), which
# is how the build runs its own generators and how ctest runs the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KV_MINGW_TRIPLET}-windres)

# Libraries and headers come from the cross sysroot (and CMAKE_PREFIX_PATH, e.g. a Windows Qt);
# programs that run during the build come from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${KV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
