# Cross-builds the Windows program for 32-bit x86 with mingw-w64. Built, not run: 32-bit Wine
# needs the i386 architecture, which these machines do not have.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(DOREDAVIRO_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
