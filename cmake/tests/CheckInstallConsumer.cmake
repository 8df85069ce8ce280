# Installs the build tree into WORK_DIR/prefix, then builds and runs a small consumer twice:
# through find_package(orv) and through pkg-config; and a consumer of orv_ec alone, whose need of
# libmoxlog is liborv_ec's, so that liborv_ec's own $ORIGIN run path must find it.
file(REMOVE_RECURSE ${WORK_DIR})
set(_prefix ${WORK_DIR}/prefix)
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${_out}\n${_err}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${_prefix})

# CMake package.
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/cmake-build
    -DCMAKE_PREFIX_PATH=${_prefix} -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${WORK_DIR}/cmake-build/orv_consumer)

# pkg-config, with the installed tree found through PKG_CONFIG_PATH only.
file(GLOB_RECURSE _pcs ${_prefix}/*/orv_ec.pc)
list(GET _pcs 0 _pc)
get_filename_component(_pcdir ${_pc} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${_pcdir})
execute_process(COMMAND pkg-config --cflags --libs orv_ec orv_alloc moxlog
  OUTPUT_VARIABLE _flags RESULT_VARIABLE _rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know the installed libraries")
endif()
separate_arguments(_flags UNIX_COMMAND "${_flags}")
get_filename_component(_libdir ${_pcdir} DIRECTORY)
run(${CXX} -std=c++17 ${CONSUMER_SOURCE}/consumer.cpp ${_flags} -Wl,-rpath,${_libdir}
    -o ${WORK_DIR}/pkgconfig_consumer)
run(${WORK_DIR}/pkgconfig_consumer)

# orv_ec alone, linked --as-needed with a RUNPATH to the prefix: the program does not need
# libmoxlog itself, and its RUNPATH does not apply to liborv_ec's needs.
execute_process(COMMAND pkg-config --cflags --libs orv_ec
  OUTPUT_VARIABLE _ec_flags RESULT_VARIABLE _rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know orv_ec")
endif()
separate_arguments(_ec_flags UNIX_COMMAND "${_ec_flags}")
run(${CXX} -std=c++17 ${CONSUMER_SOURCE}/ec_only.cpp -Wl,--as-needed ${_ec_flags} -Wl,--enable-new-dtags
    -Wl,-rpath,${_libdir} -o ${WORK_DIR}/ec_only_consumer)
unset(ENV{LD_LIBRARY_PATH})
run(${WORK_DIR}/ec_only_consumer)
