# The installer and the portable .zip, made with every Windows build from the program just
# linked (scripts/win-packages.sh does the work; makensis comes from Debian's nsis package).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(DOREDAVIRO_WIN_ARCH x64)
else()
  set(DOREDAVIRO_WIN_ARCH x86)
endif()
set(DOREDAVIRO_SETUP
    ${CMAKE_BINARY_DIR}/DoredAviro-${DOREDAVIRO_VERSION}-${DOREDAVIRO_WIN_ARCH}-setup.exe)
set(DOREDAVIRO_PORTABLE_ZIP
    ${CMAKE_BINARY_DIR}/DoredAviro-${DOREDAVIRO_VERSION}-${DOREDAVIRO_WIN_ARCH}-portable.zip)
find_program(DOREDAVIRO_MAKENSIS NAMES makensis REQUIRED)
find_program(DOREDAVIRO_STRIP NAMES ${DOREDAVIRO_MINGW_PREFIX}-strip REQUIRED)
add_custom_command(
  OUTPUT ${DOREDAVIRO_SETUP} ${DOREDAVIRO_PORTABLE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E env MAKENSIS=${DOREDAVIRO_MAKENSIS} STRIP=${DOREDAVIRO_STRIP}
          ${CMAKE_SOURCE_DIR}/scripts/win-packages.sh ${CMAKE_BINARY_DIR} ${DOREDAVIRO_WIN_ARCH}
  DEPENDS zivev_korvu korvu_sample ${DOREDAVIRO_ICON} ${CMAKE_SOURCE_DIR}/scripts/win-packages.sh
          ${CMAKE_SOURCE_DIR}/dist/windows/installer.nsi ${CMAKE_SOURCE_DIR}/dist/windows/readme.txt
          ${CMAKE_SOURCE_DIR}/VERSION
  COMMENT "Making the installer and the portable .zip"
  VERBATIM)
add_custom_target(windows_packages ALL DEPENDS ${DOREDAVIRO_SETUP} ${DOREDAVIRO_PORTABLE_ZIP})
