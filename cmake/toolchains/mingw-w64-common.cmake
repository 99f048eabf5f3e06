# What both mingw-w64 toolchains share; each sets DOREDAVIRO_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX thread model: GoogleTest needs std::mutex, which the win32 one lacks in GCC 12.
set(CMAKE_C_COMPILER ${DOREDAVIRO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DOREDAVIRO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${DOREDAVIRO_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${DOREDAVIRO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program of this build, the tests' too, carries its C++ runtime: Windows has none.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
