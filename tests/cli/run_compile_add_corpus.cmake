# Runs -compile-add of a source tree into a copy of every catalog of the
# corpus folder, each in a fresh directory of its own. The catalogs the
# compiler can extend (single-node trees with 21-byte headers, the default key
# format, no other labelled trees) must take the new assets with status 0 and
# still list; every other one must be refused with status 1 and a "skarvel: "
# message, and be left byte for byte as it was. Prints one line per file.
#
# Inputs (-D): SKARVEL, CORPUS, SOURCE (an .xcassets directory), WORK.

cmake_minimum_required(VERSION 3.20)

include("${CMAKE_CURRENT_LIST_DIR}/corpus_catalogs.cmake")
corpus_catalogs()

# The corpus catalogs in the older form that new assets can be added to.
set(extendable ios-older-rawdata)

set(failed FALSE)
foreach(catalog IN LISTS catalogs)
  get_filename_component(name "${catalog}" NAME_WE)
  set(dir "${WORK}/${name}")
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${catalog}" "${dir}/Out.car")
  file(CHMOD "${dir}/Out.car" PERMISSIONS OWNER_READ OWNER_WRITE)
  file(SHA256 "${dir}/Out.car" before)
  execute_process(
    COMMAND "${SKARVEL}" -compile-add "${SOURCE}" -out Out.car
    WORKING_DIRECTORY "${dir}"
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    RESULT_VARIABLE status)
  file(SHA256 "${dir}/Out.car" after)
  file(GLOB written RELATIVE "${dir}" "${dir}/*")
  if(name IN_LIST extendable)
    set(expected "added")
  else()
    set(expected "refused")
  endif()
  if(err MATCHES "Sanitizer|runtime error")
    set(verdict "SANITIZER REPORT")
  elseif(NOT written STREQUAL "Out.car")
    set(verdict "WROTE OTHER FILES: ${written}")
  elseif(status EQUAL 1 AND err MATCHES "^skarvel: cannot add to Out.car: [^\n]*\n$"
         AND before STREQUAL after)
    set(verdict "refused")
  elseif(status EQUAL 0 AND NOT before STREQUAL after)
    execute_process(
      COMMAND "${SKARVEL}" -info Out.car
      WORKING_DIRECTORY "${dir}"
      OUTPUT_QUIET
      ERROR_VARIABLE info_err
      RESULT_VARIABLE info_status)
    if(info_status EQUAL 0 AND info_err STREQUAL "")
      set(verdict "added")
    else()
      set(verdict "ADDED BUT DOES NOT LIST (status ${info_status}): ${info_err}")
    endif()
  else()
    set(verdict "BAD (status ${status}, ${err})")
  endif()
  message("${name}: ${verdict}")
  if(NOT verdict STREQUAL expected)
    message("  expected: ${expected}")
    set(failed TRUE)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "-compile-add over the corpus failed")
endif()
