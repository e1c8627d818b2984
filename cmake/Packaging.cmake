# The Debian package (cpack -G DEB): the programs, the fax printer's backend,
# the desktop entry, icon and file type. Help books, stock cover templates
# and the fax font are built into the programs; the cover fonts come from
# fonts-liberation.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/corvane)

set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_CONTACT "Corvane maintainers <corvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop fax program for Class 1, 2 and 2.0 fax modems")
set(CPACK_PACKAGE_DESCRIPTION
    "Corvane sends and receives faxes through a fax modem on a serial port, keeps them as APF image files, "
    "lists faxes and a phone book, designs cover pages, and views and prints faxes. Its fax printer turns "
    "anything printed into a fax.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
# Libraries from the binaries themselves; the rest are programs and data
# Corvane runs or reads.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ghostscript, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-daemon, cups-client, xdg-utils, libglib2.0-bin")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "efax")
include(CPack)
