# Install layout and the Debian package (the Windows package: scripts/build-windows.sh).
#
#   bin/                         kq517poll, kq517sim, kq517mon, Test_KQ517T (install rules beside each target)
#   share/kq517/                 map.cfg, qvztmap.cfg, limits.cfg: the programs look here last,
#                                from ../share/kq517
#   share/applications/          kq517.desktop (with the window)
#   share/icons/hicolor/scalable/apps/kq517.svg
#
# cmake --install build --prefix DIR installs it; cpack -G DEB (in the build
# folder) makes a package that installs it under /usr.

# On Windows everything sits in one folder (see the top CMakeLists.txt and
# WindowsDeploy.cmake): the map files beside the programs, no desktop entry.
if(WIN32)
  set(map_destination ${CMAKE_INSTALL_BINDIR})
else()
  set(map_destination ${CMAKE_INSTALL_DATADIR}/kq517)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/app/maps/map.cfg ${PROJECT_SOURCE_DIR}/app/maps/qvztmap.cfg
              ${PROJECT_SOURCE_DIR}/app/maps/limits.cfg
        DESTINATION ${map_destination})

if(TARGET Test_KQ517T AND NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kq517.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # The window reads map.cfg from its working folder: the desktop entry starts
  # it in share/kq517. The paths are those of the prefix installed to, which
  # is only known at install time (cmake --install --prefix, cpack).
  install(CODE "
    set(KQ_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(KQ_MAPDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/kq517\")
    configure_file(\"${PROJECT_SOURCE_DIR}/packaging/kq517.desktop.in\"
                   \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/kq517.desktop\"
                   @ONLY)
    message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/kq517.desktop\")
  ")
endif()

set(CPACK_PACKAGE_NAME kq517)
set(CPACK_PACKAGE_VENDOR "KQ517 test tool")
set(CPACK_PACKAGE_CONTACT "KQ517 test tool maintainers <kq517@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Test tool for KQ517 electricity meters over Modbus TCP and RTU")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The Qt, HTTP and C++ runtime libraries the programs link, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
