# Installation: headers, the three libraries with their symlinks, the CMake package "orv"
# (targets orv::moxlog, orv::ec, orv::alloc) and pkg-config files, in install components that
# become the Debian packages (cmake/OrvPackaging.cmake): one runtime component per library, named
# after its soname, and "dev" with everything a program needs to build against them.
include(CMakePackageConfigHelpers)

set(ORV_RUNTIME_COMPONENTS)
foreach(_lib moxlog orv_ec orv_alloc)
  string(REPLACE "_" "-" _component "lib${_lib}${PROJECT_VERSION_MAJOR}")
  list(APPEND ORV_RUNTIME_COMPONENTS ${_component})
  install(TARGETS ${_lib}
    EXPORT orvTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${_component} NAMELINK_COMPONENT dev
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${_component})
endforeach()
install(DIRECTORY logging/include/moxlog ec/include/orv_ec allocator/include/orv_alloc
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

set(ORV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orv)
install(EXPORT orvTargets NAMESPACE orv:: DESTINATION ${ORV_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/orvConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/orvConfig.cmake
  INSTALL_DESTINATION ${ORV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/orvConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/orvConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/orvConfigVersion.cmake
  DESTINATION ${ORV_CMAKE_DIR} COMPONENT dev)

# pkg-config files locate the prefix from their own place, so an installed tree can be moved.
file(RELATIVE_PATH ORV_PC_PREFIX_REL "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
foreach(_pc moxlog orv_ec orv_alloc)
  configure_file(cmake/${_pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${_pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${_pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()
