# Warning set and sanitizer flags shared by every target of the project.

# orv_target_warnings(<target>): the project's warning set, fatal when ORV_WERROR is on.
function(orv_target_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wformat=2
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wnull-dereference)
  if(ORV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Sanitizers apply to the whole build, libraries included, so that every test exercises
# instrumented library code.
if(ORV_SANITIZE)
  string(REPLACE "," ";" _orv_sanitizers "${ORV_SANITIZE}")
  set(_orv_san_flags "-fsanitize=${ORV_SANITIZE}" -fno-omit-frame-pointer -g)
  if("undefined" IN_LIST _orv_sanitizers)
    list(APPEND _orv_san_flags -fno-sanitize-recover=all)
  endif()
  add_compile_options(${_orv_san_flags})
  add_link_options(-fsanitize=${ORV_SANITIZE})
endif()
