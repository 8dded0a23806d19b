# Module resources declared in one place.
#
#   tellvane_embed_resources(<target> <resource-list> [DEPENDS <file-or-target>...])
#
# The resource list is a text file, one resource a line ('#' starts a comment):
#
#   REGISTRY    101  module.rgs           TYPE ID FILE: TYPE is a name (REGISTRY,
#   TYPELIB     1    @TLB_FILE@           TYPELIB, ...), a number, or an RT_ name
#   RT_MANIFEST 2    app.manifest         (RT_STRING=6, RT_VERSION=16, RT_MANIFEST=24);
#   STRING      100  "Tellvane"           ID a number or a name. STRING lines make
#                                         the string table (UTF-8, \" \\ \n \t).
#   VERSIONINFO 1    version.txt          The version resource, from "Name = value"
#                                         lines: FileVersion and ProductVersion
#                                         (dotted numbers), FileDescription, ...
#
# Relative files are found beside the list; @VARIABLE@ is replaced by CMake
# variables of the calling folder (for files made at build time, which are
# then also named after DEPENDS when another folder makes them).
#
# On Windows the list becomes a .rc script compiled by the resource compiler.
# On Linux the resource compiler tvrc turns it into a C++ source linked into
# the target: the bytes and one exported table, tellvane_module_resources_v1,
# that FindResourceW, LoadResource and LoadStringW read through the module's
# handle. A module learns its own handle as on Windows, with
# GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
# GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, (LPCWSTR)&anyFunctionOfIt, &h).

set(TELLVANE_RESOURCES_DIR "${CMAKE_CURRENT_LIST_DIR}")
if(WIN32)
  enable_language(RC)
endif()

# The VERSIONINFO statement of a .rc script, from a "Name = value" file.
function(_tellvane_rc_version out id file)
  file(STRINGS "${file}" lines ENCODING UTF-8)
  set(numbers_FileVersion "0,0,0,0")
  set(numbers_ProductVersion "0,0,0,0")
  set(values "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*([A-Za-z]+)[ \t]*=[ \t]*(.*[^ \t])[ \t]*$")
      set(name "${CMAKE_MATCH_1}")
      set(value "${CMAKE_MATCH_2}")
      if(name STREQUAL "FileVersion" OR name STREQUAL "ProductVersion")
        string(REPLACE "." "," numbers_${name} "${value}")
      endif()
      string(REPLACE "\"" "\"\"" value "${value}")
      string(APPEND values "      VALUE \"${name}\", \"${value}\"\n")
    endif()
  endforeach()
  set(${out} "${id} VERSIONINFO
FILEVERSION ${numbers_FileVersion}
PRODUCTVERSION ${numbers_ProductVersion}
FILEFLAGSMASK 0x3fL
FILEFLAGS 0x0L
FILEOS 0x40004L
FILETYPE 0x2L
FILESUBTYPE 0x0L
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904b0\"
    BEGIN
${values}    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1200
  END
END
" PARENT_SCOPE)
endfunction()

function(tellvane_embed_resources target list)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(list_path "${list}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(folder "${list_path}" DIRECTORY)
  set(configured "${CMAKE_CURRENT_BINARY_DIR}/${target}.resources")
  configure_file("${list_path}" "${configured}" @ONLY)

  # The files the list names, so that a change to any of them rebuilds.
  file(STRINGS "${configured}" lines ENCODING UTF-8)
  set(files)
  set(rc_lines "#pragma code_page(65001)\n")
  set(rc_strings)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line MATCHES "^([^ \t#]+)[ \t]+([^ \t]+)[ \t]+(.+)$")
      set(type "${CMAKE_MATCH_1}")
      set(id "${CMAKE_MATCH_2}")
      set(rest "${CMAKE_MATCH_3}")
      string(TOUPPER "${type}" type_upper)
      if(type_upper STREQUAL "STRING")
        string(REGEX REPLACE "\\\\\"" "\"\"" rc_text "${rest}")
        string(APPEND rc_strings "  ${id}, ${rc_text}\n")
        continue()
      endif()
      string(REGEX REPLACE "[ \t]*#.*$" "" rest "${rest}")
      get_filename_component(file "${rest}" ABSOLUTE BASE_DIR "${folder}")
      list(APPEND files "${file}")
      if(type_upper STREQUAL "VERSIONINFO")
        if(WIN32)
          _tellvane_rc_version(version_rc "${id}" "${file}")
          string(APPEND rc_lines "${version_rc}")
        endif()
        continue()
      endif()
      set(rc_types RT_CURSOR 1 RT_BITMAP 2 RT_ICON 3 RT_MENU 4 RT_DIALOG 5 RT_STRING 6 RT_RCDATA 10
                   RT_GROUP_CURSOR 12 RT_GROUP_ICON 14 RT_VERSION 16 RT_MANIFEST 24)
      list(FIND rc_types "${type_upper}" at)
      if(at GREATER_EQUAL 0)
        math(EXPR at "${at} + 1")
        list(GET rc_types ${at} type)
      endif()
      string(APPEND rc_lines "${id} ${type} \"${file}\"\n")
    elseif(line AND NOT line MATCHES "^#")
      message(FATAL_ERROR "${list_path}: cannot read the resource line '${line}'")
    endif()
  endforeach()

  if(WIN32)
    if(rc_strings)
      string(APPEND rc_lines "STRINGTABLE\nBEGIN\n${rc_strings}END\n")
    endif()
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc")
    file(GENERATE OUTPUT "${rc}" CONTENT "${rc_lines}")
    # The resource compiler reads the files the script names; files made at
    # build time (the type library) are made first as sources of the target.
    set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${files}")
    foreach(dependency IN LISTS ARG_DEPENDS)
      if(NOT TARGET ${dependency})
        target_sources(${target} PRIVATE "${dependency}")
      endif()
    endforeach()
    target_sources(${target} PRIVATE "${rc}")
    return()
  endif()

  if(NOT TARGET tvrc)
    add_executable(tvrc "${TELLVANE_RESOURCES_DIR}/tvrc.cpp")
  endif()
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND tvrc "${configured}" "${folder}" "${output}"
    DEPENDS tvrc "${configured}" ${files} ${ARG_DEPENDS}
    COMMENT "Embedding the resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${output}")
  # An executable exports only this one symbol, so that FindResourceW on the
  # program's own handle finds its table.
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_link_options(${target} PRIVATE "LINKER:--export-dynamic-symbol=tellvane_module_resources_v1")
  endif()
endfunction()
