# Runs -decompile on every catalog of the corpus folder, each in a fresh
# directory of its own. A catalog that loads must decompile with status 0,
# without a sanitizer report, and leave nothing in its directory but the
# output directory; a catalog that does not load must be refused with the
# loader's message and status 1. Prints one line per file.
#
# Inputs (-D): SKARVEL, CORPUS, WORK.

cmake_minimum_required(VERSION 3.20)

if(NOT IS_DIRECTORY "${CORPUS}")
  message("SKIPPED: corpus folder ${CORPUS} is absent")
  return()
endif()
file(GLOB catalogs "${CORPUS}/*.car")
if(NOT catalogs)
  message("SKIPPED: no .car files in ${CORPUS}")
  return()
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

set(failed FALSE)
foreach(catalog IN LISTS catalogs)
  get_filename_component(name "${catalog}" NAME_WE)
  set(dir "${WORK}/${name}")
  file(MAKE_DIRECTORY "${dir}")
  execute_process(
    COMMAND "${SKARVEL}" -decompile "${catalog}" -out out
    WORKING_DIRECTORY "${dir}"
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    RESULT_VARIABLE status)
  file(GLOB_RECURSE written LIST_DIRECTORIES false RELATIVE "${dir}" "${dir}/*")
  set(outside "")
  set(pictures 0)
  foreach(path IN LISTS written)
    if(NOT path MATCHES "^out\\.xcassets/")
      list(APPEND outside "${path}")
    elseif(NOT path MATCHES "/Contents\\.json$")
      math(EXPR pictures "${pictures} + 1")
    endif()
  endforeach()
  file(GLOB sets LIST_DIRECTORIES true "${dir}/out.xcassets/*")
  list(LENGTH sets set_count)
  set(refusal "skarvel: failed to parse ${catalog} as an assets catalog file\n")
  if(err MATCHES "Sanitizer|runtime error")
    set(verdict "SANITIZER REPORT")
  elseif(outside)
    set(verdict "WROTE OUTSIDE: ${outside}")
  elseif(status EQUAL 0)
    set(verdict "decompiled (${set_count} sets, ${pictures} pictures)")
  elseif(status EQUAL 1 AND err MATCHES "failed to parse" AND written STREQUAL "")
    set(verdict "refused")
  else()
    set(verdict "BAD (status ${status})")
  endif()
  message("${name}: ${verdict}")
  if(verdict MATCHES "^(SANITIZER|WROTE|BAD)")
    set(failed TRUE)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "decompiling the corpus failed")
endif()
