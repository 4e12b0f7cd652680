# Common flags and the helper that declares one static library per folder.

set(SKARVEL_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wimplicit-fallthrough)
if(SKARVEL_WERROR)
  list(APPEND SKARVEL_WARNINGS -Werror)
endif()

# Same floating-point bits on every machine: never fuse multiply and add.
add_compile_options(-fno-exceptions -ffp-contract=off)
if(SKARVEL_ASSERTIONS)
  add_compile_definitions(_GLIBCXX_ASSERTIONS)
endif()

if(SKARVEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(SKARVEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "SKARVEL_FUZZ needs clang (configure with CXX=clang++ CC=clang)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# skarvel_library(<name> [CONVERSION] SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# Declares static library skarvel_<name>; includes are rooted at the repository root.
function(skarvel_library name)
  cmake_parse_arguments(ARG "CONVERSION" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(skarvel_${name} STATIC ${ARG_SOURCES})
  target_include_directories(skarvel_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(skarvel_${name} PRIVATE ${SKARVEL_WARNINGS})
  if(ARG_CONVERSION)
    target_compile_options(skarvel_${name} PRIVATE -Wconversion)
  endif()
  if(ARG_DEPS)
    target_link_libraries(skarvel_${name} PUBLIC ${ARG_DEPS})
  endif()
  if(ARG_PRIVATE_DEPS)
    target_link_libraries(skarvel_${name} PRIVATE ${ARG_PRIVATE_DEPS})
  endif()
endfunction()
