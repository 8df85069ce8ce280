# orv_add_shared_library(): one of the project's shared libraries, with its SONAME, hidden
# visibility and a linker version script that exports exactly the listed interface names.
#
#   orv_add_shared_library(<target>
#       OUTPUT_NAME <name>          # file name stem: lib<name>.so.1
#       EXPORT_NAME <name>          # target name in the installed package (orv::<name>)
#       EXPORTS <file>              # version script listing the exported names
#       SOURCES <files...>
#       PUBLIC_LIBS <targets...>    # libraries the public interface needs
#       PRIVATE_LIBS <targets...>)  # libraries used inside only
#
# The sources are compiled once into <target>_objects. Besides the shared library, the same objects
# form <target>_internal, a static archive for the library's own tests that exercise internal parts
# (a test links either the shared library or the archive, never both).
function(orv_add_shared_library target)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;EXPORT_NAME;EXPORTS" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  set(_public_include $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>)

  add_library(${target}_objects OBJECT ${ARG_SOURCES})
  orv_target_warnings(${target}_objects)
  target_include_directories(${target}_objects PUBLIC ${_public_include}
                             PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${target}_objects PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})

  add_library(${target} SHARED $<TARGET_OBJECTS:${target}_objects>)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${ARG_OUTPUT_NAME}
    EXPORT_NAME ${ARG_EXPORT_NAME}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    LINK_DEPENDS ${ARG_EXPORTS}
    # Installed, each library finds the project's other libraries beside it, from any prefix.
    INSTALL_RPATH "$ORIGIN")
  target_link_options(${target} PRIVATE
    "LINKER:--version-script=${ARG_EXPORTS}" "LINKER:-z,relro,-z,now")
  if(NOT ORV_SANITIZE)
    target_link_options(${target} PRIVATE "LINKER:--no-undefined")
  endif()
  target_include_directories(${target} PUBLIC ${_public_include}
                             $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${target} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  add_library(orv::${ARG_EXPORT_NAME} ALIAS ${target})

  add_library(${target}_internal STATIC EXCLUDE_FROM_ALL $<TARGET_OBJECTS:${target}_objects>)
  target_include_directories(${target}_internal PUBLIC ${_public_include} ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(${target}_internal PUBLIC ${ARG_PUBLIC_LIBS} ${ARG_PRIVATE_LIBS})
endfunction()
