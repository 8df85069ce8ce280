# Builds the Debian packages with tools/package.sh into WORK_DIR, checks their names and
# dependencies, runs lintian on them (no errors allowed), unpacks them with dpkg -x into a scratch
# root, and builds and runs consumers from that root: through find_package(orv), through
# pkg-config, and a consumer of orv_ec alone; the installed orv_plan must run too.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${_out}\n${_err}")
  endif()
  set(run_output "${_out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} -E env ORV_BUILD_ROOT=${WORK_DIR}/build ${SOURCE_DIR}/tools/package.sh)
file(GLOB _debs ${WORK_DIR}/build/packages/*.deb)
set(_names)
foreach(_deb IN LISTS _debs)
  run(dpkg-deb -f ${_deb} Package)
  string(STRIP "${run_output}" _name)
  list(APPEND _names ${_name})
  run(dpkg-deb -f ${_deb} Depends)
  set(depends_${_name} "${run_output}")
endforeach()
list(SORT _names)
if(NOT _names STREQUAL "libmoxlog1;liborv-alloc1;liborv-dev;liborv-ec1;orv-tools")
  message(FATAL_ERROR "unexpected packages: ${_names}")
endif()
set(_v "(= ${VERSION})")
foreach(_need "liborv-ec1|libmoxlog1 ${_v}" "liborv-dev|libmoxlog1 ${_v}" "liborv-dev|liborv-ec1 ${_v}"
              "liborv-dev|liborv-alloc1 ${_v}" "orv-tools|liborv-ec1 ${_v}" "orv-tools|liborv-alloc1 ${_v}")
  string(REPLACE "|" ";" _pair "${_need}")
  list(GET _pair 0 _pkg)
  list(GET _pair 1 _dep)
  string(FIND "${depends_${_pkg}}" "${_dep}" _at)
  if(_at EQUAL -1)
    message(FATAL_ERROR "${_pkg} does not depend on ${_dep}: ${depends_${_pkg}}")
  endif()
endforeach()

# lintian: errors fail the test; its warnings are printed.
execute_process(COMMAND lintian --tag-display-limit 0 ${_debs} OUTPUT_VARIABLE _lintian ERROR_VARIABLE _lintian_err)
message(STATUS "lintian:\n${_lintian}")
if(_lintian MATCHES "(^|\n)E: ")
  message(FATAL_ERROR "lintian reports errors:\n${_lintian}\n${_lintian_err}")
endif()

set(_root ${WORK_DIR}/root)
foreach(_deb IN LISTS _debs)
  run(dpkg -x ${_deb} ${_root})
endforeach()
unset(ENV{LD_LIBRARY_PATH})

# CMake package.
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/cmake-build -DCMAKE_PREFIX_PATH=${_root}/usr
    -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${WORK_DIR}/cmake-build/orv_consumer)

# pkg-config, with the unpacked root found through PKG_CONFIG_PATH only.
file(GLOB_RECURSE _pcs ${_root}/*/orv_ec.pc)
list(GET _pcs 0 _pc)
get_filename_component(_pcdir ${_pc} DIRECTORY)
get_filename_component(_libdir ${_pcdir} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${_pcdir})
run(pkg-config --cflags --libs orv_ec orv_alloc moxlog)
separate_arguments(_flags UNIX_COMMAND "${run_output}")
run(${CXX} -std=c++17 ${CONSUMER_SOURCE}/consumer.cpp ${_flags} -Wl,-rpath,${_libdir} -o ${WORK_DIR}/pkgconfig_consumer)
run(${WORK_DIR}/pkgconfig_consumer)
run(pkg-config --cflags --libs orv_ec)
separate_arguments(_flags UNIX_COMMAND "${run_output}")
run(${CXX} -std=c++17 ${CONSUMER_SOURCE}/ec_only.cpp -Wl,--as-needed ${_flags} -Wl,--enable-new-dtags
    -Wl,-rpath,${_libdir} -o ${WORK_DIR}/ec_only_consumer)
run(${WORK_DIR}/ec_only_consumer)

# The tool finds the libraries relative to itself, and its manual page is installed.
if(NOT EXISTS ${_root}/usr/share/man/man1/orv_plan.1.gz)
  message(FATAL_ERROR "orv-tools lacks the manual page")
endif()
run(${_root}/usr/bin/orv_plan --version)
if(NOT run_output STREQUAL "orv_plan ${VERSION}\n")
  message(FATAL_ERROR "orv_plan --version printed: ${run_output}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
