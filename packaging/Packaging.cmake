# Installing the tool and packing it for Debian.
#
#   cmake --install build [--prefix DIR]   the programs, the man page, the desktop entry, the icon,
#                                          the example udev rule, the copyright
#   cpack --config build/CPackConfig.cmake -G DEB

include(GNUInstallDirs)

# The programs link only the system's libraries: no search path of our own.
set(programs velloran)
foreach(program velloran-sim velloran-cli)
    if(TARGET ${program})
        list(APPEND programs ${program})
    endif()
endforeach()
set_target_properties(${programs} PROPERTIES INSTALL_RPATH "")
install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(VELLORAN_CLI_MAN_PAGE)
    install(FILES ${VELLORAN_CLI_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/velloran.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/velloran.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# An example for the administrator to copy into /etc/udev/rules.d: a package
# that changed the rights on every USB serial device by itself would overstep.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/60-velloran.rules
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velloran/examples)

# Debian policy wants every package's copyright and licence in its doc folder.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velloran)

set(CPACK_PACKAGE_NAME velloran)
set(CPACK_PACKAGE_VENDOR Quorvel)
set(CPACK_PACKAGE_CONTACT "Quorvel <velloran@quorvel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reprograms a modem board's flash memory through a serial port")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Quorvel Velloran wakes the boot loader of a modem board on a serial port,"
    "agrees a baud rate with it, logs on, reads the flash ID, sets the load mode"
    "and sends a firmware load file record by record. It can also ask the boot"
    "loader for its version."
    ""
    "velloran-cli does the same from a shell, on one board or several at"
    "once, for scripts and production lines; it needs no display."
    ""
    "The package also holds velloran-sim, a simulated boot loader on a"
    "pseudo-terminal, for trying the tool without a board.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# dpkg-shlibdeps names the Qt libraries the programs link; Debian 12 ships
# the X11 platform plugin inside libqt6gui6, so nothing else is needed to run.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its SQL drivers as plugins, which dpkg-shlibdeps cannot see: the
# history is a SQLite file unless a factory names its PostgreSQL server. The
# window keeps a server's password in the keyring through libqt6keychain1.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6keychain1, libsodium23")
# The window's font, where the layout was drawn with its metrics.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2, libqt6sql6-psql")
# A Wayland session runs the tool through XWayland without it.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS qt6-wayland)
include(CPack)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    add_test(NAME package
             COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/check-package.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(package PROPERTIES TIMEOUT 300)
endif()
