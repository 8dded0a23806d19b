# Checks how the files of platform/ include one another, and fails with the
# offending includes listed. Run as a test:
#   cmake -DPLATFORM_DIR=<source>/platform -P PlatformLayers.cmake
#
# The layers, lowest first:
#   include/   the public Win32 headers: include only one another;
#   internal/  what every DLL shares: includes only internal/ and include/;
#   <dll>/     one DLL's code and private headers: include only their own
#              folder, internal/ and include/, never another DLL's folder
#              (DLLs meet through exported functions).
# Within a folder the includes form no cycle. A header in internal/ is
# shared: files of two DLL folders or more include it (else it belongs to
# the one DLL that does), unless it is a generic building block below.
cmake_minimum_required(VERSION 3.20)

if(NOT PLATFORM_DIR)
  message(FATAL_ERROR "PLATFORM_DIR is not set")
endif()

# Templates with nothing of any DLL in them, shared by design.
set(GENERIC_BUILDING_BLOCKS handletable.h)

set(DLL_FOLDERS advapi32 crypt32 kernel32 ole32 oleaut32 user32)
set(problems "")

file(GLOB_RECURSE files RELATIVE ${PLATFORM_DIR} ${PLATFORM_DIR}/*.h ${PLATFORM_DIR}/*.cpp)
file(GLOB public_headers RELATIVE ${PLATFORM_DIR}/include ${PLATFORM_DIR}/include/*.h)

foreach(file IN LISTS files)
  string(REGEX MATCH "^[^/]+" folder "${file}")
  if(folder STREQUAL file)
    continue()  # a file at the top (none today)
  endif()
  file(STRINGS ${PLATFORM_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  set(own_includes "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
    if(NOT included MATCHES "/")
      if(NOT included IN_LIST public_headers)
        list(APPEND problems "${file}: includes \"${included}\", which is no public header")
      endif()
      continue()
    endif()
    string(REGEX MATCH "^[^/]+" target "${included}")
    if(NOT EXISTS ${PLATFORM_DIR}/${included})
      list(APPEND problems "${file}: includes \"${included}\", which does not exist")
    elseif(folder STREQUAL "include")
      list(APPEND problems "${file}: a public header includes \"${included}\"")
    elseif(folder STREQUAL "internal" AND NOT target STREQUAL "internal")
      list(APPEND problems "${file}: a shared file includes a DLL's private \"${included}\"")
    elseif(NOT target STREQUAL "internal" AND NOT target STREQUAL folder)
      list(APPEND problems "${file}: ${folder} includes ${target}'s private \"${included}\"")
    endif()
    if(target STREQUAL folder)
      list(APPEND own_includes ${included})
    endif()
    if(target STREQUAL "internal" AND folder IN_LIST DLL_FOLDERS)
      string(MAKE_C_IDENTIFIER "${included}" key)
      list(APPEND users_${key} ${folder})
    endif()
  endforeach()
  string(MAKE_C_IDENTIFIER "${file}" key)
  set(edges_${key} ${own_includes})
endforeach()

# Shared headers that only one DLL uses are private ones in disguise.
foreach(file IN LISTS files)
  if(NOT file MATCHES "^internal/.*\\.h$")
    continue()
  endif()
  get_filename_component(name ${file} NAME)
  string(MAKE_C_IDENTIFIER "${file}" key)
  set(users ${users_${key}})
  list(REMOVE_DUPLICATES users)
  list(LENGTH users count)
  if(count LESS 2 AND NOT name IN_LIST GENERIC_BUILDING_BLOCKS)
    list(APPEND problems "${file}: shared, but only '${users}' includes it: it belongs in that DLL's folder")
  endif()
endforeach()

# No cycle within a folder: every file gets a depth (one more than the
# deepest file it includes); depths that still grow after as many rounds as
# there are files come from a cycle.
list(LENGTH files rounds)
foreach(file IN LISTS files)
  string(MAKE_C_IDENTIFIER "${file}" key)
  set(depth_${key} 0)
endforeach()
set(changed TRUE)
set(round 0)
while(changed AND round LESS_EQUAL rounds)
  set(changed FALSE)
  math(EXPR round "${round} + 1")
  foreach(file IN LISTS files)
    string(MAKE_C_IDENTIFIER "${file}" key)
    foreach(included IN LISTS edges_${key})
      string(MAKE_C_IDENTIFIER "${included}" other)
      math(EXPR wanted "${depth_${other}} + 1")
      if(wanted GREATER depth_${key})
        set(depth_${key} ${wanted})
        set(changed TRUE)
      endif()
    endforeach()
  endforeach()
endwhile()
if(changed)
  list(APPEND problems "the includes within a folder form a cycle")
endif()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "platform/ includes that break its layers:\n  ${text}")
endif()
list(LENGTH files count)
message(STATUS "platform/: ${count} files, every include runs downwards")
