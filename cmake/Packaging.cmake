# The Debian package (`cpack -G DEB` on a build folder; `make package` does it from a clean
# tree). Its runtime dependencies come from dpkg-shlibdeps; what Qt loads as plugins rather
# than links is named by hand below.
set(CPACK_PACKAGE_NAME bramble)
set(CPACK_PACKAGE_VENDOR "The Bramble developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bookmark manager that keeps web links in named groups")
set(CPACK_PACKAGE_DESCRIPTION
  "Bramble keeps web links in named groups. Each link shows its address, the page's title, a\n"
  "one-line summary and the site's icon, fetched from the page when the link is added. Links\n"
  "are reordered by dragging, opened one by one or a whole group at once, reached from the\n"
  "system tray, exported to and imported from JSON files, and added from the command line.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "The Bramble developers <bramble@bramble.invalid>")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://bramble.invalid/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The store is SQLite through Qt's SQL plugin; without it the program cannot start.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
# Site icons in WebP and other formats beyond Qt's own; the window works without them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins")

include(CPack)
