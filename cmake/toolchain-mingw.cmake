# Cross-builds the Windows modules with mingw-w64, for the processor and
# triplet that the including toolchain file sets. The -posix
# compilers carry std::thread and std::mutex, which GoogleTest needs. Tests
# run under Wine as the emulator when it is installed.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${CALQUOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CALQUOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${CALQUOR_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CALQUOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The modules carry their C++ runtime inside, so that they load on a bare
# system beside nothing but the system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

find_program(CALQUOR_WINE wine)
if(CALQUOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CALQUOR_WINE})
endif()
