# Installing: the program on the PATH, its manual pages, desktop entry, icons, file type,
# shell completion and examples in the usual FHS and freedesktop places; and a Debian
# package of all that (cpack -G DEB, scripts/package.sh).
include(GNUInstallDirs)

# The windows look for the manual at <bindir>/../share/doc/chronoreel/: the folder is fixed.
set(chronoreel_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/chronoreel)
set(chronoreel_pkg ${CMAKE_SOURCE_DIR}/packaging)

install(TARGETS chronoreel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The demo's still maker, for the installed demo script only.
install(TARGETS make_stills RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/chronoreel)

install(FILES README.md DESTINATION ${chronoreel_docdir})
if(CHRONOREEL_WITH_UI)
  install(FILES ${CMAKE_BINARY_DIR}/docs/manual.html DESTINATION ${chronoreel_docdir})
  install(DIRECTORY ${CMAKE_BINARY_DIR}/docs/screenshots DESTINATION ${chronoreel_docdir})

  install(FILES ${chronoreel_pkg}/desktop/chronoreel.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${chronoreel_pkg}/desktop/chronoreel-setup.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages)
  install(FILES ${chronoreel_pkg}/icons/chronoreel.svg
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${chronoreel_pkg}/icons/chronoreel-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps RENAME chronoreel.png)
  endforeach()
endif()

install(FILES ${chronoreel_pkg}/completion/chronoreel DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
install(FILES demo/garden.tls DESTINATION ${chronoreel_docdir}/examples/demo)
install(FILES ${chronoreel_pkg}/systemd/chronoreel@.timer DESTINATION ${chronoreel_docdir}/examples/systemd)

# The files that name installed paths are written at install time, so that they hold the
# prefix given then (cmake --install --prefix, or the package's /usr).
install(CODE "
  set(chronoreel_version \"${PROJECT_VERSION}\")
  set(chronoreel_pkg \"${chronoreel_pkg}\")
  set(chronoreel_bindir \"${CMAKE_INSTALL_BINDIR}\")
  set(chronoreel_libexecdir \"${CMAKE_INSTALL_LIBEXECDIR}\")
  set(chronoreel_mandir \"${CMAKE_INSTALL_MANDIR}\")
  set(chronoreel_docdir \"${chronoreel_docdir}\")")
install(SCRIPT ${CMAKE_SOURCE_DIR}/cmake/install_configured.cmake)

set(CHRONOREEL_PACKAGE_MAINTAINER "Chronoreel maintainers <maintainers@users.noreply.c-seed-91de8066.example>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME chronoreel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CHRONOREEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "time-lapse movies from webcam stills")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Chronoreel turns a folder of still images, the JPEGs a webcam writes every few
seconds or minutes, into a time-lapse movie. A setup file (.tls) describes the
movie: the stills, the span of time, the frames per hour of real time, the size,
frame rate and encoder, and a command to run afterwards. It runs in a window or
unattended from cron or a systemd timer.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# The library packages come from the libraries the program links (Debian's libqt6gui6
# holds the X11 display plugin too).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CHRONOREEL_WITH_UI)
  # Help opens the manual in the browser through xdg-open; Wayland needs Qt's own plugin
  # (without it the windows use XWayland).
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Installed with DESTDIR, so that the install-time files name /usr, not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
include(CPack)
