# Type libraries described once, in IDL.
#
#   tellvane_typelib(<variable> <file.idl>)
#
# Adds the build step that compiles <file.idl> into <binary folder>/<name>.tlb
# and sets <variable> to that path, for a resource list line such as
# "TYPELIB 1 @TLB_FILE@". On Windows widl makes the real type library, with
# the system .idl files and stdole2.tlb found in TELLVANE_WINDOWS_IDL_DIR (set
# by the toolchain file); on Linux typelibgen makes the platform stand-in's
# compact form of the same library. Either is for the system kind of the
# target (win64 or win32).
function(tellvane_typelib variable idl)
  get_filename_component(idl_path "${idl}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(stem "${idl}" NAME_WE)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${stem}.tlb")
  if(WIN32)
    find_program(WIDL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-widl widl REQUIRED)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(syskind --win64)
    else()
      set(syskind --win32)
    endif()
    set(idl_dir "${TELLVANE_WINDOWS_IDL_DIR}")
    if(NOT EXISTS "${idl_dir}/include/oaidl.idl" OR NOT EXISTS "${idl_dir}/lib/stdole2.tlb")
      message(FATAL_ERROR "No Wine .idl files and stdole2.tlb in ${idl_dir}: run scripts/install-windows-deps")
    endif()
    # A type library keeps its help strings in 8 bits, which Windows reads in
    # the system's ANSI code page: widl compiles a Windows-1251 copy of the
    # .idl (UTF-8), as a Russian Windows reads it. widl also writes the time
    # it ran into the library, as text and as a number after it; a fixed one
    # (the epoch) makes two builds of a source equal.
    find_program(ICONV iconv REQUIRED)
    set(ansi_idl "${CMAKE_CURRENT_BINARY_DIR}/${stem}.cp1251.idl")
    add_custom_command(OUTPUT "${output}"
      COMMAND "${ICONV}" -f UTF-8 -t CP1251 -o "${ansi_idl}" "${idl_path}"
      COMMAND "${WIDL}" ${syskind} -I "${idl_dir}/include" -L "${idl_dir}/lib" -t -o "${output}" "${ansi_idl}"
      COMMAND perl -0777 -pi -e "s/(Created by WIDL version [\\d.]+ at ).{24}(\\nW*\\x13\\x00).{4}/\$1Thu Jan  1 00:00:00 1970\$2\\0\\0\\0\\0/s"
              "${output}"
      DEPENDS "${idl_path}"
      COMMENT "Compiling the type library ${stem}" VERBATIM)
  else()
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(syskind win64)
    else()
      set(syskind win32)
    endif()
    add_custom_command(OUTPUT "${output}"
      COMMAND typelibgen "${idl_path}" "${output}" --syskind ${syskind}
      DEPENDS typelibgen "${idl_path}"
      COMMENT "Compiling the type library ${stem}" VERBATIM)
  endif()
  set(${variable} "${output}" PARENT_SCOPE)
endfunction()
