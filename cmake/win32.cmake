# The native Windows program on the portable core, cross-built with mingw-w64.
enable_language(RC)

set(DOREDAVIRO_WIN32_DEFINITIONS UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                 _WIN32_WINNT=0x0601 WINVER=0x0601)

# The settings reader the core's contract names: the system's own.
add_library(doredaviro_ini_win32 STATIC src/win32/private_profile_win32.cpp)
target_include_directories(doredaviro_ini_win32 PRIVATE src)
target_compile_definitions(doredaviro_ini_win32 PRIVATE ${DOREDAVIRO_WIN32_DEFINITIONS})
target_link_libraries(doredaviro_ini_win32 PRIVATE doredaviro_utf doredaviro_warnings)
set(DOREDAVIRO_INI_READER doredaviro_ini_win32)

# Everything statically: the program needs no DLL beyond Windows' own.
set(DOREDAVIRO_WIN32_LINK_OPTIONS -static -static-libgcc -static-libstdc++)

add_library(doredaviro_win32 STATIC
  src/win32/accessible.cpp
  src/win32/hand_over.cpp
  src/win32/hand_over_data.cpp
  src/win32/hand_over_server.cpp
  src/win32/main_window.cpp
  src/win32/queue_list.cpp
  src/win32/system.cpp
  src/win32/text.cpp
  src/win32/win32_form.cpp
  src/win32/win32_system.cpp)
target_include_directories(doredaviro_win32 PUBLIC src)
target_compile_definitions(doredaviro_win32 PUBLIC ${DOREDAVIRO_WIN32_DEFINITIONS})
target_link_libraries(doredaviro_win32 PUBLIC doredaviro_core doredaviro_ini_win32 comctl32 shell32
                                              ole32 uuid gdi32 user32
                                       PRIVATE doredaviro_warnings)

# The icon, drawn from the same picture as the Linux build's.
find_program(DOREDAVIRO_CONVERT NAMES convert REQUIRED)
set(DOREDAVIRO_ICON ${CMAKE_CURRENT_BINARY_DIR}/win32-resources/doredaviro.ico)
add_custom_command(
  OUTPUT ${DOREDAVIRO_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/win32-resources
  COMMAND ${DOREDAVIRO_CONVERT} -background none -density 768
          ${CMAKE_CURRENT_SOURCE_DIR}/resources/doredaviro.svg -depth 8
          -define icon:auto-resize=256,48,32,16 ${DOREDAVIRO_ICON}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resources/doredaviro.svg
  COMMENT "Drawing the program icon"
  VERBATIM)

# The version record's numbers and the manifest's version, from the VERSION file.
configure_file(resources/win32/version.h.in win32-resources/doredaviro_version.h @ONLY)
configure_file(resources/win32/Zivev+Korvu.manifest.in win32-resources/Zivev+Korvu.manifest @ONLY)

set(DOREDAVIRO_RC ${CMAKE_CURRENT_SOURCE_DIR}/resources/win32/Zivev+Korvu.rc)
set_source_files_properties(${DOREDAVIRO_RC} PROPERTIES
  OBJECT_DEPENDS "${DOREDAVIRO_ICON};${CMAKE_CURRENT_BINARY_DIR}/win32-resources/Zivev+Korvu.manifest")

add_executable(zivev_korvu WIN32 app/win32_main.cpp ${DOREDAVIRO_RC} ${DOREDAVIRO_ICON})
set_target_properties(zivev_korvu PROPERTIES OUTPUT_NAME "Zivev+Korvu")
target_include_directories(zivev_korvu PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/win32-resources
                                               ${CMAKE_CURRENT_SOURCE_DIR}/resources/win32)
target_link_libraries(zivev_korvu PRIVATE doredaviro_win32 doredaviro_warnings)
target_link_options(zivev_korvu PRIVATE -municode -mwindows ${DOREDAVIRO_WIN32_LINK_OPTIONS})
