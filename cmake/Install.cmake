# What `cmake --install` puts where (DESTDIR and CMAKE_INSTALL_PREFIX as
# usual; the folders are in cmake/InstallDirs.cmake). Three components, one
# Debian package each (cmake/Packaging.cmake):
#   Driver       the plug-in, into the panel runtime's driver folder
#   Tools        servoctl and servosim, their manual pages, the documentation
#   Development  the toolkit's archive and headers, the runtime's interface
#                headers, and a CMake package: find_package(TecoServoToolkit)
include(CMakePackageConfigHelpers)

install(TARGETS teco_servo
  LIBRARY DESTINATION ${TECO_SERVO_DRIVER_DIR} COMPONENT Driver)

install(TARGETS servoctl servosim
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tools)
if(MANPAGES)
  install(FILES ${MANPAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Tools)
endif()
if(COMPLETIONS)
  install(FILES ${COMPLETIONS} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
          COMPONENT Tools)
endif()
# The README and docs/ as they stand in the repository, so that their links
# hold where they are installed; every file of docs/ (the pictures the
# documents show, the example maps) goes with them. Uncompressed, as Debian
# allows for documents whose links would otherwise break.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Tools)
file(GLOB DOCS CONFIGURE_DEPENDS docs/*.md docs/*.png docs/*.map)
install(FILES ${DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT Tools)

# The services, an instance a line (the gateway, the listen-only logger, the
# simulated drives as a test bench), and their configurations' examples.
set(SYSTEMD_UNITS servoctl-gateway@.service servoctl-monitor@.service servosim@.service)
foreach(unit ${SYSTEMD_UNITS})
  configure_file(systemd/${unit}.in ${CMAKE_BINARY_DIR}/systemd/${unit} @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/systemd/${unit} DESTINATION lib/systemd/system COMPONENT Tools)
endforeach()
install(FILES systemd/gateway.conf.example systemd/monitor.conf.example systemd/servosim.conf.example
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Tools)

set(TOOLKIT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TecoServoToolkit)
install(TARGETS teco_servo_toolkit EXPORT TecoServoToolkitTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(FILES
    drivers/common/drv_dev_setting.h drivers/common/lib_crc.h
    drivers/common/toolkit_global.h drivers/common/tools.h drivers/common/txpackage.h
    host/abstractdeviceinterface.h host/communicatorcommand.h host/driverinterface.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/teco_servo COMPONENT Development)
install(EXPORT TecoServoToolkitTargets NAMESPACE TecoServo::
  DESTINATION ${TOOLKIT_CMAKE_DIR} COMPONENT Development)
configure_package_config_file(cmake/TecoServoToolkitConfig.cmake.in
  ${CMAKE_BINARY_DIR}/TecoServoToolkitConfig.cmake
  INSTALL_DESTINATION ${TOOLKIT_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/TecoServoToolkitConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/TecoServoToolkitConfig.cmake
              ${CMAKE_BINARY_DIR}/TecoServoToolkitConfigVersion.cmake
  DESTINATION ${TOOLKIT_CMAKE_DIR} COMPONENT Development)
