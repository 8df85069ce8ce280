# Build settings for -DORV_FUZZ=ON: the libFuzzer targets of fuzz/ need clang, and the whole build
# (libraries included) is compiled with the fuzzer's coverage instrumentation, AddressSanitizer and
# UndefinedBehaviorSanitizer, so that the fuzzers see and check the library code they drive.
# Included before OrvCompileOptions, which applies ORV_SANITIZE to every target.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "ORV_FUZZ needs clang (libFuzzer): configure with "
                      "-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14")
endif()
if(ORV_SANITIZE AND NOT ORV_SANITIZE STREQUAL "address,undefined")
  message(FATAL_ERROR "ORV_FUZZ builds with address,undefined; ORV_SANITIZE=${ORV_SANITIZE} does not combine")
endif()
set(ORV_SANITIZE "address,undefined")
add_compile_options(-fsanitize=fuzzer-no-link)
