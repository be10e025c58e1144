# Install rules and packages: a .deb for the Linux builds, a .zip with the
# image and the README for each Windows build. The version is the project's.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME anykey)
set(CPACK_PACKAGE_VENDOR "The anykey developers")
set(CPACK_PACKAGE_CONTACT "anykey developers <anykey@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "wait for a keystroke in a terminal, then end")
set(CPACK_STRIP_FILES ON)
# Values reach the package as written, quotes included.
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  install(TARGETS anykey RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(CPACK_SYSTEM_NAME win${bits})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS anykey RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Debian wants manual pages and the changelog compressed, reproducibly.
  set(docs ${PROJECT_BINARY_DIR}/docs)
  add_custom_command(OUTPUT ${docs}/anykey.1.gz ${docs}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${docs}
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/doc/anykey.1 > ${docs}/anykey.1.gz
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/doc/changelog > ${docs}/changelog.gz
    DEPENDS doc/anykey.1 doc/changelog)
  add_custom_target(docs ALL DEPENDS ${docs}/anykey.1.gz ${docs}/changelog.gz)
  install(FILES ${docs}/anykey.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${docs}/changelog.gz doc/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The .deb is Debian's; elsewhere (macOS, the BSDs) a plain archive.
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    if(CMAKE_CROSSCOMPILING)
      # dpkg-shlibdeps knows the libraries of this machine's architecture only.
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ANYKEY_DEB_ARCH})
      set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
      set(CPACK_ANYKEY_BINARY ${PROJECT_BINARY_DIR}/anykey)
      set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CrossDepends.cmake)
    endif()
  else()
    set(CPACK_GENERATOR TGZ)
  endif()
  set(CPACK_PACKAGE_DESCRIPTION "anykey writes \"Press any key to end polling\", waits until a key is pressed
on the controlling terminal, discards what was typed and ends with status 0.
It keeps a window open at the end of a script until someone has read it.")
endif()
include(CPack)
