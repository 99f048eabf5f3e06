# Cross-builds the Windows program for x86-64 with mingw-w64; its tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DOREDAVIRO_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

find_program(DOREDAVIRO_WINE NAMES wine wine64)
if(DOREDAVIRO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DOREDAVIRO_WINE})
endif()
