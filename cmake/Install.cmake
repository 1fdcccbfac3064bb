# Installs the program the way a Linux desktop expects: the binary, its desktop entry, its
# AppStream metainfo and its icon in the hicolor theme. `cmake --install` and the packages
# share these rules.
include(GNUInstallDirs)

set(BRAMBLE_ICON_SIZES 16 22 24 32 48 64 128 256 512)
set(BRAMBLE_ICON_SOURCE ${PROJECT_SOURCE_DIR}/resources/icons/bramble.svg)
set(BRAMBLE_ICON_RENDERS ${CMAKE_BINARY_DIR}/icons/hicolor)

set(icon_outputs)
foreach(size IN LISTS BRAMBLE_ICON_SIZES)
  list(APPEND icon_outputs ${BRAMBLE_ICON_RENDERS}/${size}x${size}/apps/bramble.png)
endforeach()
add_custom_command(OUTPUT ${icon_outputs}
  COMMAND bramble-render-icon ${BRAMBLE_ICON_SOURCE} ${BRAMBLE_ICON_RENDERS} bramble ${BRAMBLE_ICON_SIZES}
  DEPENDS bramble-render-icon ${BRAMBLE_ICON_SOURCE}
  COMMENT "Rendering the application icon at ${BRAMBLE_ICON_SIZES} px"
  VERBATIM)
add_custom_target(bramble-icons ALL DEPENDS ${icon_outputs})

install(TARGETS bramble RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/bramble.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/bramble.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size IN LISTS BRAMBLE_ICON_SIZES)
  install(FILES ${BRAMBLE_ICON_RENDERS}/${size}x${size}/apps/bramble.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${BRAMBLE_ICON_SOURCE}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/bramble-symbolic.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/symbolic/apps)
