# Runs -info and -list on every catalog of the corpus folder. Each run must
# complete: status 0, nothing on stderr, the listing's first line. A refusal,
# a crash or a sanitizer report fails the test. Prints one line per file.
#
# Inputs (-D): SKARVEL, CORPUS, WORK.

cmake_minimum_required(VERSION 3.20)

include("${CMAKE_CURRENT_LIST_DIR}/corpus_catalogs.cmake")
corpus_catalogs()

set(failed FALSE)
foreach(catalog IN LISTS catalogs)
  get_filename_component(name "${catalog}" NAME)
  set(row "${name}:")
  foreach(command -info -list)
    execute_process(
      COMMAND "${SKARVEL}" ${command} "${catalog}"
      WORKING_DIRECTORY "${WORK}"
      OUTPUT_VARIABLE out
      ERROR_VARIABLE err
      RESULT_VARIABLE status)
    set(refusal "skarvel: failed to parse ${catalog} as an assets catalog file\n")
    string(LENGTH "${refusal}" refusal_length)
    string(LENGTH "${err}" err_length)
    set(err_tail "")
    if(err_length GREATER_EQUAL refusal_length)
      math(EXPR from "${err_length} - ${refusal_length}")
      string(SUBSTRING "${err}" ${from} -1 err_tail)
    endif()
    string(FIND "${out}" "\nContents of ${catalog}...\n" heading)
    if(err MATCHES "Sanitizer|runtime error")
      set(verdict "SANITIZER REPORT")
    elseif(status EQUAL 0 AND err STREQUAL "" AND heading EQUAL 0)
      string(LENGTH "${out}" out_length)
      set(verdict "listed (${out_length} bytes)")
    elseif(status EQUAL 1 AND err_tail STREQUAL refusal AND out STREQUAL "")
      set(verdict "REFUSED")
    else()
      set(verdict "BAD (status ${status})")
    endif()
    if(verdict MATCHES "^(SANITIZER|BAD|REFUSED)")
      set(failed TRUE)
      message("${name} ${command}: ${verdict}\n-- stderr:\n${err}")
    endif()
    string(APPEND row " ${command} ${verdict},")
  endforeach()
  message("${row}")
endforeach()
if(failed)
  message(FATAL_ERROR "some corpus catalogs were not handled cleanly")
endif()
