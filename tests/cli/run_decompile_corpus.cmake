# Runs -decompile on every catalog of the corpus folder, each in a fresh
# directory of its own. Every catalog must decompile with status 0, without a
# sanitizer report, leave nothing in its directory but the output directory,
# and give the app icon sets and pictures recorded for it below. Prints one
# line per file.
#
# Inputs (-D): SKARVEL, CORPUS, WORK.

cmake_minimum_required(VERSION 3.20)

include("${CMAKE_CURRENT_LIST_DIR}/corpus_catalogs.cmake")
corpus_catalogs()

# What each corpus catalog gives: "<sets> sets, <pictures> pictures". The
# others have no facets (the macOS system catalogs), an icon set without
# renditions, or only facets the decompiler passes over (image sets, which
# share their part with AR reference images, colours and gradients), with a
# warning or the closing note.
set(expected_ios-appicon-classic-lzfse "1 sets, 25 pictures")
set(expected_ios-framework-methods8-10 "0 sets, 0 pictures")
set(expected_ios-gray-method10 "0 sets, 0 pictures")
set(expected_ios-inline-keys-rle "1 sets, 9 pictures")
set(expected_ios-lzvn-uncompressed "0 sets, 0 pictures")
set(expected_ios-no-renditions-no-bitmapkeys "0 sets, 0 pictures")
set(expected_ios-older-rawdata "0 sets, 0 pictures")
set(expected_ios-thinned-appearances-method11 "1 sets, 4 pictures")
set(expected_macos-29byte-trees-lzfse "1 sets, 4 pictures")
set(expected_macos-effects-gradients "0 sets, 0 pictures")
set(expected_macos-fontsizes-colors "0 sets, 0 pictures")
set(expected_macos-recent-colors-vectors-method11 "0 sets, 0 pictures")
set(expected_macos-two-leaf-tree "0 sets, 0 pictures")

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
  if(err MATCHES "Sanitizer|runtime error")
    set(verdict "SANITIZER REPORT")
  elseif(outside)
    set(verdict "WROTE OUTSIDE: ${outside}")
  elseif(status EQUAL 0)
    set(verdict "decompiled (${set_count} sets, ${pictures} pictures)")
  else()
    set(verdict "BAD (status ${status}): ${err}")
  endif()
  message("${name}: ${verdict}")
  if(NOT DEFINED expected_${name})
    message("  no expectation recorded for this file")
    set(failed TRUE)
  elseif(NOT verdict STREQUAL "decompiled (${expected_${name}})")
    message("  expected: decompiled (${expected_${name}})")
    set(failed TRUE)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "decompiling the corpus failed")
endif()
