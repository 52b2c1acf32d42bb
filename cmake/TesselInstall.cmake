include(CMakePackageConfigHelpers)

install(TARGETS TesselWrapper EXPORT TesselWrapperTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/TesselWrapper
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")

set(_cfgdir ${CMAKE_INSTALL_LIBDIR}/cmake/TesselWrapper)
install(EXPORT TesselWrapperTargets NAMESPACE TesselWrapper:: DESTINATION ${_cfgdir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TesselWrapperConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TesselWrapperConfig.cmake INSTALL_DESTINATION ${_cfgdir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TesselWrapperConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TesselWrapperConfig.cmake
  ${PROJECT_BINARY_DIR}/TesselWrapperConfigVersion.cmake DESTINATION ${_cfgdir})

# The .pc file finds its prefix from where it lies, so an installed tree can be
# moved (or installed with --prefix at install time) and still be found.
file(RELATIVE_PATH TESSEL_PC_TO_PREFIX "/_/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/_")
string(REGEX REPLACE "/$" "" TESSEL_PC_TO_PREFIX "${TESSEL_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/TesselWrapper.pc.in
  ${PROJECT_BINARY_DIR}/TesselWrapper.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/TesselWrapper.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
