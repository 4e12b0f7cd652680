# The bundled example compiled with a fixed time, then listed.
file(COPY "${CASES}/../../../examples/Example.xcassets" DESTINATION "${WORK}")
set(ENV{SOURCE_DATE_EPOCH} 1577836800)
execute_process(COMMAND "${SKARVEL}" -compile Example.xcassets -out Example.car
  WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "compiling the example failed (${status}): ${errors}")
endif()
