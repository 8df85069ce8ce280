# Test plumbing: GoogleTest (Debian package, or built from /usr/src/googletest for cross builds)
# and orv_add_tests(), which turns every <name>_test.cpp of a tests/ folder into one test program.

if(ORV_GTEST_FROM_SOURCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
find_package(Threads REQUIRED)

# True when the build targets aarch64, where the processor gate reads the real register.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
  set(ORV_TARGET_AARCH64 ON)
else()
  set(ORV_TARGET_AARCH64 OFF)
endif()

# Simulated Main ID Register values for gate tests on non-Arm hosts, with the verdict each expects.
set(ORV_GATE_CASES
  "accept_arm_any_part|0x414fd0c1|accept"
  "accept_second_vendor_part|0xc00fac30|accept"
  "reject_second_vendor_other_part|0xc00fac40|reject"
  "reject_other_vendor|0x461f0010|reject"
  "reject_unparsable_value|not-a-number|reject")

# orv_add_tests(<label> LIBS <targets...> [INTERNAL_LIBS <targets...>])
# Every *_test.cpp in the calling folder becomes a program linked with GoogleTest and LIBS; one
# whose name starts with "internal_" tests internal parts and links INTERNAL_LIBS instead.
# A *_gate_test.cpp program is a processor-gate test: it reads the expected verdict from
# ORV_EXPECTED_GATE ("accept" or "reject"). On non-Arm hosts it is registered once per simulated
# register value above; on aarch64 once, with the expectation taken from the environment of the
# ctest run (the register is real there, or chosen by QEMU_CPU under emulation).
function(orv_add_tests label)
  cmake_parse_arguments(ARG "" "" "LIBS;INTERNAL_LIBS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(_src IN LISTS _sources)
    get_filename_component(_name ${_src} NAME_WE)
    set(_exe ${label}_${_name})
    add_executable(${_exe} ${_src})
    if(_name MATCHES "^internal_")
      target_link_libraries(${_exe} PRIVATE ${ARG_INTERNAL_LIBS})
    else()
      target_link_libraries(${_exe} PRIVATE ${ARG_LIBS})
    endif()
    target_link_libraries(${_exe} PRIVATE orv_test_support GTest::gtest_main Threads::Threads)
    orv_target_warnings(${_exe})
    if(_name MATCHES "_gate_test$")
      if(ORV_TARGET_AARCH64)
        add_test(NAME ${label}.${_name} COMMAND ${_exe})
        set_tests_properties(${label}.${_name} PROPERTIES LABELS "${label};gate")
      else()
        foreach(_case IN LISTS ORV_GATE_CASES)
          string(REPLACE "|" ";" _parts "${_case}")
          list(GET _parts 0 _case_name)
          list(GET _parts 1 _midr)
          list(GET _parts 2 _verdict)
          add_test(NAME ${label}.${_name}.${_case_name} COMMAND ${_exe})
          set_tests_properties(${label}.${_name}.${_case_name} PROPERTIES
            LABELS "${label};gate"
            ENVIRONMENT "ORV_MIDR=${_midr};ORV_EXPECTED_GATE=${_verdict}")
        endforeach()
      endif()
    else()
      add_test(NAME ${label}.${_name} COMMAND ${_exe})
      set_tests_properties(${label}.${_name} PROPERTIES LABELS "${label}" TIMEOUT 600)
    endif()
  endforeach()
endfunction()
