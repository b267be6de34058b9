# What an installed Stillwick carries beside its binary, and the Debian package (`make deb`)
# that CPack makes of it. The binary, desktop entry and icon are installed by src/.

set(STILLWICK_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/stillwick)

# Debian wants the manual page and the changelog compressed at the highest level and
# without a time stamp, so the package is the same whenever it is built.
configure_file(${PROJECT_SOURCE_DIR}/data/stillwick.1.in ${PROJECT_BINARY_DIR}/data/stillwick.1
               @ONLY)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/data/stillwick.1.gz
  COMMAND gzip -9nc stillwick.1 > stillwick.1.gz
  DEPENDS ${PROJECT_BINARY_DIR}/data/stillwick.1
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/data
  VERBATIM)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/data/changelog.gz
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/data/changelog > changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/data/changelog
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/data
  VERBATIM)
add_custom_target(stillwick_docs ALL
  DEPENDS ${PROJECT_BINARY_DIR}/data/stillwick.1.gz ${PROJECT_BINARY_DIR}/data/changelog.gz)

install(FILES ${PROJECT_BINARY_DIR}/data/stillwick.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/data/io.github.stillwick.Stillwick.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/data/copyright ${PROJECT_BINARY_DIR}/data/changelog.gz
        DESTINATION ${STILLWICK_DOCDIR})

# A stripped install (the package's) also drops the compiler's notes, as Debian's own
# packaging tools do; plain `strip` keeps them.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/stillwick\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()")

set(CPACK_PACKAGE_NAME stillwick)
set(CPACK_PACKAGE_VENDOR "Stillwick developers")
set(CPACK_PACKAGE_CONTACT
    "Stillwick maintainers <maintainers@users.noreply.c-seed-4e4e947c.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "take still pictures from a camera or capture card")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/data/description)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/stillwick/stillwick)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plugins (X11 and offscreen) are a separate package, and so is the SVG image
# plugin the window icon is drawn with; v4l2src is in -good; the window's Chinese texts need a
# Song face.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libqt6svg6, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, fonts-arphic-uming")
# Without qt6-wayland a Wayland session runs the window through XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_STRIP_FILES ON)
include(CPack)
