# The plug-in for a panel, built against its Qt 4: a tarball of the library
# (stripped) and the integrator's notes, made by `cpack` in the build folder
# (scripts/test-qt4 puts the armhf one into dist/). It depends on no
# package: the panel's firmware brings Qt 4.
install(TARGETS teco_servo LIBRARY DESTINATION . COMPONENT Panel)
install(FILES docs/integration.md DESTINATION . COMPONENT Panel)
if(DEBIAN_ARCH)
  set(panel_arch ${DEBIAN_ARCH})
else()
  set(panel_arch ${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME teco-servo-panel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME teco-servo-panel-${PROJECT_VERSION}-qt${QT4_VERSION}-${panel_arch})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL Panel)
include(CPack)
