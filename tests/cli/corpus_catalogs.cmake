# Shared by the scripts that run the program over every catalog of the corpus
# folder. corpus_catalogs() sets `catalogs` to the folder's .car files and
# makes ${WORK} a fresh, empty directory; when the folder is absent or holds
# no catalog it prints a "SKIPPED:" line and ends the calling script (a
# macro's return() leaves the script that expanded it).

macro(corpus_catalogs)
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
endmacro()
