# Installation and the Debian package. `cmake --install` lays out the same self-contained tree the
# build stages (the program finds its installation two levels above its executable); the package
# adds, in the system's own places, the commands on the PATH, the desktop entry, MIME types, icon
# and the man page.

# The programs and the shipped tree. log/ and sysex/ start empty, as in the staged tree; a
# read-only installation never writes them (its users' files go to their XDG folders).
install(TARGETS vantrel RUNTIME DESTINATION bin COMPONENT app)
if(TARGET vantrel-ide)
  install(TARGETS vantrel-ide RUNTIME DESTINATION bin COMPONENT app)
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/installation/ DESTINATION . COMPONENT app PATTERN .gitignore EXCLUDE)
install(DIRECTORY DESTINATION log COMPONENT app)
install(DIRECTORY DESTINATION sysex COMPONENT app)

# What only the package installs: absolute places, so a plain `cmake --install --prefix DIR`
# (a portable copy) leaves the system alone.
set(VANTREL_PACKAGE_PREFIX /opt/vantrel)
set(VANTREL_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package-files)

# vantrel and vantrel-ide on the PATH: links into the installation's bin folder.
file(MAKE_DIRECTORY ${VANTREL_PACKAGE_FILES}/bin)
set(VANTREL_PACKAGE_LINKS vantrel)
if(TARGET vantrel-ide)
  list(APPEND VANTREL_PACKAGE_LINKS vantrel-ide)
endif()
foreach(sName IN LISTS VANTREL_PACKAGE_LINKS)
  file(CREATE_LINK ${VANTREL_PACKAGE_PREFIX}/bin/${sName} ${VANTREL_PACKAGE_FILES}/bin/${sName} SYMBOLIC)
  install(FILES ${VANTREL_PACKAGE_FILES}/bin/${sName} DESTINATION /usr/bin COMPONENT system EXCLUDE_FROM_ALL)
endforeach()

# The package's installation is shared by the users of the system: the program never writes it,
# not even as root.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/shared-installation DESTINATION ${VANTREL_PACKAGE_PREFIX}/config
  COMPONENT system EXCLUDE_FROM_ALL)

# The man page, made from the command's own --help texts.
add_custom_command(OUTPUT ${VANTREL_PACKAGE_FILES}/man/vantrel.1.gz
  COMMAND ${CMAKE_COMMAND} -DVANTREL=$<TARGET_FILE:vantrel> -DVERSION=${PROJECT_VERSION}
    -DOUT=${VANTREL_PACKAGE_FILES}/man/vantrel.1 -P ${CMAKE_SOURCE_DIR}/packaging/manpage.cmake
  DEPENDS vantrel ${CMAKE_SOURCE_DIR}/packaging/manpage.cmake
  COMMENT "Writing the man page of vantrel")
add_custom_target(vantrel_man ALL DEPENDS ${VANTREL_PACKAGE_FILES}/man/vantrel.1.gz)
install(FILES ${VANTREL_PACKAGE_FILES}/man/vantrel.1.gz DESTINATION /usr/share/man/man1 COMPONENT system EXCLUDE_FROM_ALL)

# The desktop entry, MIME types and icon: the files the program registers per user, for the
# package's installation folder.
if(TARGET vantrel-filetypes)
  add_custom_command(OUTPUT ${VANTREL_PACKAGE_FILES}/share/applications/vantrel-ide.desktop
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${VANTREL_PACKAGE_FILES}/share
    COMMAND vantrel-filetypes ${VANTREL_PACKAGE_PREFIX} ${VANTREL_PACKAGE_FILES}/share
    DEPENDS vantrel-filetypes
    COMMENT "Writing the desktop entry, MIME types and icon")
  add_custom_target(vantrel_desktop_files ALL DEPENDS ${VANTREL_PACKAGE_FILES}/share/applications/vantrel-ide.desktop)
  install(DIRECTORY ${VANTREL_PACKAGE_FILES}/share/ DESTINATION /usr/share COMPONENT system EXCLUDE_FROM_ALL)
endif()

# The Debian package: `cpack -G DEB` in the build folder. Its dependencies come from the
# libraries the programs link (dpkg-shlibdeps).
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_CONTACT "Vantrel developers <vantrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time software synthesizer programmed in a text patch language")
set(CPACK_PACKAGE_DESCRIPTION
  "Patches are text files of sections, one per module, whose variables are formulas; Vantrel\ncompiles them and plays them live from MIDI. Includes the vantrel command and the vantrel-ide\ndesktop application, with tutorial and demo patches.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${VANTREL_PACKAGE_PREFIX})
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL app system)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)  # one package with both
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "jackd2")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "desktop-file-utils, shared-mime-info")
include(CPack)
