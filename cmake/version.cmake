# The version has one home, the VERSION file at the top of the tree: the project, the Debian
# package (scripts/deb.sh), the Windows version record and both installers take it from there.
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../VERSION" DOREDAVIRO_VERSION LIMIT_COUNT 1)
if(NOT DOREDAVIRO_VERSION MATCHES "^(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)$")
  message(FATAL_ERROR "VERSION must read MAJOR.MINOR.PATCH, not '${DOREDAVIRO_VERSION}'")
endif()
set(DOREDAVIRO_VERSION_MAJOR ${CMAKE_MATCH_1})
set(DOREDAVIRO_VERSION_MINOR ${CMAKE_MATCH_2})
set(DOREDAVIRO_VERSION_PATCH ${CMAKE_MATCH_3})

# Windows shows the version as MAJOR.MM ("1.00"), the form the program has always had.
if(DOREDAVIRO_VERSION_MINOR GREATER 99)
  message(FATAL_ERROR "a minor version above 99 does not fit the Windows version text")
endif()
string(LENGTH "${DOREDAVIRO_VERSION_MINOR}" minor_digits)
if(minor_digits EQUAL 1)
  set(DOREDAVIRO_VERSION_TEXT "${DOREDAVIRO_VERSION_MAJOR}.0${DOREDAVIRO_VERSION_MINOR}")
else()
  set(DOREDAVIRO_VERSION_TEXT "${DOREDAVIRO_VERSION_MAJOR}.${DOREDAVIRO_VERSION_MINOR}")
endif()
unset(minor_digits)
