# An installed copy keeps the program, the sample archiver and the settings
# file together in one folder of its own, since the settings file is read
# beside the program; menus and icons go where the desktop looks for them.
include(GNUInstallDirs)
set(DOREDAVIRO_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/doredaviro" CACHE STRING
    "Folder, under the prefix, that holds the program and its settings file")
set(DOREDAVIRO_INSTALL_BIN "${CMAKE_INSTALL_PREFIX}/${DOREDAVIRO_INSTALL_DIR}")
# A package keeps the settings file where configuration lives (a conffile under
# /etc) and links it into the program's folder, where the program reads it.
set(DOREDAVIRO_SETTINGS_DIR "" CACHE PATH
    "Absolute folder for the settings file, linked from the program's folder; empty: in that folder")
option(DOREDAVIRO_BIN_LINK "Link the program into the prefix's bin folder" ON)

set(ini_name "Zivev+Korvu.ini")
if(DOREDAVIRO_SETTINGS_DIR)
  if(NOT IS_ABSOLUTE "${DOREDAVIRO_SETTINGS_DIR}")
    message(FATAL_ERROR "DOREDAVIRO_SETTINGS_DIR must be absolute")
  endif()
  set(DOREDAVIRO_SETTINGS_FILE "${DOREDAVIRO_SETTINGS_DIR}/${ini_name}")
  set(DOREDAVIRO_SETTINGS_LINK_NOTE "; here that is a link to \\%${DOREDAVIRO_SETTINGS_FILE}")
  set(DOREDAVIRO_SETTINGS_LINK_NOTE_JA
      "（ここでは \\%${DOREDAVIRO_SETTINGS_FILE} へのリンクです）")
else()
  set(DOREDAVIRO_SETTINGS_FILE "${DOREDAVIRO_INSTALL_BIN}/${ini_name}")
  set(DOREDAVIRO_SETTINGS_LINK_NOTE "")
  set(DOREDAVIRO_SETTINGS_LINK_NOTE_JA "")
endif()

install(TARGETS zivev_korvu korvu_sample RUNTIME DESTINATION "${DOREDAVIRO_INSTALL_DIR}")
# Written at install time so it names the installed sample archiver; an
# existing settings file is the user's and is left alone.
install(CODE "
  set(ini \"\$ENV{DESTDIR}${DOREDAVIRO_SETTINGS_FILE}\")
  if(NOT EXISTS \"\${ini}\")
    file(WRITE \"\${ini}\" \"[Korvu Path]\\nPath=${DOREDAVIRO_INSTALL_BIN}/korvu-sample\\n\")
    message(STATUS \"Installing: \${ini}\")
  endif()")
if(DOREDAVIRO_SETTINGS_DIR)
  install(CODE "
    file(CREATE_LINK \"${DOREDAVIRO_SETTINGS_FILE}\"
         \"\$ENV{DESTDIR}${DOREDAVIRO_INSTALL_BIN}/${ini_name}\" SYMBOLIC)")
endif()
if(DOREDAVIRO_BIN_LINK)
  file(RELATIVE_PATH bin_to_program "${CMAKE_INSTALL_FULL_BINDIR}"
       "${DOREDAVIRO_INSTALL_BIN}/Zivev+Korvu")
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}${CMAKE_INSTALL_FULL_BINDIR}\")
    file(CREATE_LINK \"${bin_to_program}\" \"\$ENV{DESTDIR}${CMAKE_INSTALL_FULL_BINDIR}/Zivev+Korvu\"
         SYMBOLIC)
    message(STATUS \"Installing: \$ENV{DESTDIR}${CMAKE_INSTALL_FULL_BINDIR}/Zivev+Korvu\")")
endif()

set(app_id org.doredaviro.ZivevKorvu)
configure_file(dist/${app_id}.desktop.in "${CMAKE_CURRENT_BINARY_DIR}/${app_id}.desktop" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/${app_id}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
configure_file(dist/${app_id}.metainfo.xml.in "${CMAKE_CURRENT_BINARY_DIR}/${app_id}.metainfo.xml"
               @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/${app_id}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

# Dolphin's "Zivev+Korvuに送る" for files and folders.
configure_file(dist/${app_id}.servicemenu.desktop.in
               "${CMAKE_CURRENT_BINARY_DIR}/${app_id}.servicemenu.desktop" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/${app_id}.servicemenu.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/kio/servicemenus")

install(FILES resources/doredaviro.svg DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps"
        RENAME ${app_id}.svg)
# Menus that cannot draw SVG take the 48-pixel picture.
find_program(DOREDAVIRO_RSVG_CONVERT NAMES rsvg-convert REQUIRED)
set(icon_png "${CMAKE_CURRENT_BINARY_DIR}/icons/48x48/${app_id}.png")
add_custom_command(
  OUTPUT "${icon_png}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/icons/48x48"
  COMMAND ${DOREDAVIRO_RSVG_CONVERT} --width=48 --height=48 --keep-aspect-ratio
          --output "${icon_png}" "${CMAKE_CURRENT_SOURCE_DIR}/resources/doredaviro.svg"
  DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/resources/doredaviro.svg"
  COMMENT "Drawing the 48-pixel icon"
  VERBATIM)
add_custom_target(doredaviro_icon_png ALL DEPENDS "${icon_png}")
install(FILES "${icon_png}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps")

foreach(page Zivev+Korvu korvu-sample)
  configure_file(dist/man/${page}.1.in "${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1" @ONLY)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  configure_file(dist/man/ja/${page}.1.in "${CMAKE_CURRENT_BINARY_DIR}/man/ja/${page}.1" @ONLY)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/man/ja/${page}.1"
          DESTINATION "${CMAKE_INSTALL_MANDIR}/ja/man1")
endforeach()
unset(ini_name)
unset(bin_to_program)
unset(icon_png)
