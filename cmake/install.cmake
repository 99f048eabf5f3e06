# An installed copy keeps the program, the sample archiver and the settings
# file together in one folder of its own, since the settings file is read
# beside the program; menus and icons go where the desktop looks for them.
include(GNUInstallDirs)
set(DOREDAVIRO_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/doredaviro" CACHE STRING
    "Folder, under the prefix, that holds the program and its settings file")
set(DOREDAVIRO_INSTALL_BIN "${CMAKE_INSTALL_PREFIX}/${DOREDAVIRO_INSTALL_DIR}")

install(TARGETS zivev_korvu korvu_sample RUNTIME DESTINATION "${DOREDAVIRO_INSTALL_DIR}")
# Written at install time so it names the installed sample archiver; an
# existing settings file is the user's and is left alone.
install(CODE "
  set(ini \"\$ENV{DESTDIR}${DOREDAVIRO_INSTALL_BIN}/Zivev+Korvu.ini\")
  if(NOT EXISTS \"\${ini}\")
    file(WRITE \"\${ini}\" \"[Korvu Path]\\nPath=${DOREDAVIRO_INSTALL_BIN}/korvu-sample\\n\")
    message(STATUS \"Installing: \${ini}\")
  endif()")

configure_file(dist/org.doredaviro.ZivevKorvu.desktop.in
               "${CMAKE_CURRENT_BINARY_DIR}/org.doredaviro.ZivevKorvu.desktop" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/org.doredaviro.ZivevKorvu.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
# Dolphin's "Zivev+Korvuに送る" for files and folders.
configure_file(dist/org.doredaviro.ZivevKorvu.servicemenu.desktop.in
               "${CMAKE_CURRENT_BINARY_DIR}/org.doredaviro.ZivevKorvu.servicemenu.desktop" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/org.doredaviro.ZivevKorvu.servicemenu.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/kio/servicemenus")
install(FILES resources/doredaviro.svg DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps"
        RENAME org.doredaviro.ZivevKorvu.svg)
