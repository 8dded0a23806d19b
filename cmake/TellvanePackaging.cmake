# Installation and the Debian package. The command goes to bin/, the
# platform library to lib/ (the command's run path reaches it from there, so
# any prefix works), and the component to lib/tellvane/: it is loaded by the
# path the registry names, never linked, so it stays off the linker path.
file(RELATIVE_PATH bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(tellvane PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
install(TARGETS tellvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tellvane-platform LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET tellvane_component)
  set_target_properties(tellvane_component PROPERTIES INSTALL_RPATH "$ORIGIN/..")
  install(TARGETS tellvane_component LIBRARY DESTINATION ${TELLVANE_COMPONENT_DIR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tellvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # all four parts: 1.0.0.1
set(CPACK_PACKAGE_VENDOR Tellvane)
set(CPACK_PACKAGE_CONTACT "Tellvane developers <tellvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GOST signing automation component and its command-line host")
set(CPACK_PACKAGE_DESCRIPTION
    "An in-process automation object that lists the user's personal certificates and signs with GOST R 34.10-2001 \
keys, with the Win32 stand-in it runs on and the tellvane command that registers it, calls it by name, manages \
certificates and keys, and verifies sign tuples.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tellvane_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The dependencies are the Debian packages of the libraries the binaries
# link; the platform library is the package's own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS $<TARGET_FILE_DIR:tellvane-platform>)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pinentry-curses | pinentry")
include(CPack)
