# Runs one command-line case and compares what the program printed with the
# case's expected files.
#
# Inputs (-D): SKARVEL (the program), CASES (the folder of cases), CASE (the
# case name), FIXTURES (files written by the build), WORK (a directory that is
# emptied and used as the working directory).
#
# A case is <name>.args (one argument per line; @FIXTURES@, @WORK@ and any
# variable set by the setup script are substituted), <name>.stdout,
# <name>.stderr (absent = empty), <name>.status (absent = 0) and optionally
# <name>.setup.cmake, run first in the fresh directory.
#
# Before the comparison the output is masked: the fixture and work
# directories become @FIXTURES@ and @WORK@, the version digits @VERSION@, the
# catalog UUID @UUID@ and its checksum @CHECKSUM@.
# With SKARVEL_UPDATE_GOLDEN=1 in the environment the expected files are
# rewritten instead.

cmake_minimum_required(VERSION 3.20)

foreach(var SKARVEL CASES CASE FIXTURES WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_case.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(base "${CASES}/${CASE}")
if(EXISTS "${base}.setup.cmake")
  include("${base}.setup.cmake")
endif()

set(args)
if(EXISTS "${base}.args")
  file(STRINGS "${base}.args" lines)
  foreach(line IN LISTS lines)
    string(CONFIGURE "${line}" arg @ONLY)
    list(APPEND args "${arg}")
  endforeach()
endif()

execute_process(
  COMMAND "${SKARVEL}" ${args}
  WORKING_DIRECTORY "${WORK}"
  OUTPUT_VARIABLE actual_stdout
  ERROR_VARIABLE actual_stderr
  RESULT_VARIABLE actual_status)

function(mask var)
  set(text "${${var}}")
  string(REPLACE "${FIXTURES}" "@FIXTURES@" text "${text}")
  string(REPLACE "${WORK}" "@WORK@" text "${text}")
  set(d "[0-9]")
  string(REGEX REPLACE "version ${d}${d}${d}${d}${d}${d}${d}${d}" "version @VERSION@" text "${text}")
  set(h "[0-9a-f]")
  string(REGEX REPLACE "UUID: ${h}+-${h}+-${h}+-${h}+-${h}+" "UUID: @UUID@" text "${text}")
  string(REGEX REPLACE "checksum\\?\\?\\?: 0x${h}+" "checksum???: @CHECKSUM@" text "${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()
mask(actual_stdout)
mask(actual_stderr)
set(actual_status "${actual_status}\n")

set(update "$ENV{SKARVEL_UPDATE_GOLDEN}")
set(failed FALSE)
foreach(stream stdout stderr status)
  set(expected "")
  if(stream STREQUAL "status")
    set(expected "0\n")
  endif()
  if(EXISTS "${base}.${stream}")
    file(READ "${base}.${stream}" expected)
  endif()
  if(update STREQUAL "1")
    if(NOT actual_${stream} STREQUAL expected)
      if(actual_${stream} STREQUAL "" OR (stream STREQUAL "status" AND actual_${stream} STREQUAL "0\n"))
        file(REMOVE "${base}.${stream}")
      else()
        file(WRITE "${base}.${stream}" "${actual_${stream}}")
      endif()
    endif()
  elseif(NOT actual_${stream} STREQUAL expected)
    file(WRITE "${WORK}/actual.${stream}" "${actual_${stream}}")
    message("== ${CASE}: ${stream} differs (actual kept in ${WORK}/actual.${stream})")
    message("-- expected:\n${expected}-- actual:\n${actual_${stream}}--")
    set(failed TRUE)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "case ${CASE} failed")
endif()
