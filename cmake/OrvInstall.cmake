# Installation: headers, the three libraries with their symlinks, the CMake package "orv"
# (targets orv::moxlog, orv::ec, orv::alloc) and pkg-config files.
include(CMakePackageConfigHelpers)

install(TARGETS moxlog orv_ec orv_alloc
  EXPORT orvTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY logging/include/moxlog ec/include/orv_ec allocator/include/orv_alloc
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(ORV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orv)
install(EXPORT orvTargets NAMESPACE orv:: DESTINATION ${ORV_CMAKE_DIR})
configure_package_config_file(cmake/orvConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/orvConfig.cmake
  INSTALL_DESTINATION ${ORV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/orvConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/orvConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/orvConfigVersion.cmake
  DESTINATION ${ORV_CMAKE_DIR})

# pkg-config files locate the prefix from their own place, so an installed tree can be moved.
file(RELATIVE_PATH ORV_PC_PREFIX_REL "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
foreach(_pc moxlog orv_ec orv_alloc)
  configure_file(cmake/${_pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${_pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${_pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
