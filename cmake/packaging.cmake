# Installation (cmake --install, any prefix, DESTDIR honoured) and the Debian
# package (cpack -G DEB). Included after the programs are defined, so that the
# helper's rule sees whether its target exists.
#
#   <prefix>/bin/tarnwick, tarnwick-cli
#   <prefix>/libexec/tarnwick/tarnwick-helper       the privileged helper
#   <prefix>/share/tarnwick/help.htm                found by Help when not beside the executable
#   <prefix>/share/applications, icons/hicolor, metainfo, man/man1
#   <prefix>/lib/systemd/system/tarnwick-watch.service
#
# The programs find help.htm and the helper relative to their own folder
# (../share/tarnwick, ../libexec/tarnwick), so any prefix works.
include(GNUInstallDirs)

set(data_dir ${PROJECT_SOURCE_DIR}/data)
set(TARNWICK_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the systemd unit is installed, relative to the prefix")

install(TARGETS tarnwick-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tarnwick)
  install(TARGETS tarnwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET tarnwick-helper)
  # Not for everyone: the package gives it to root:tarnwick with its
  # capabilities in postinst; until then only its owner may run it.
  install(TARGETS tarnwick-helper RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tarnwick
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
endif()

install(FILES ${data_dir}/help.htm DESTINATION ${CMAKE_INSTALL_DATADIR}/tarnwick)
install(FILES ${data_dir}/systemd/tarnwick-watch.service DESTINATION ${TARNWICK_SYSTEMD_UNIT_DIR})

# Man pages, compressed as Debian keeps them; -n leaves name and time out, so
# the same page always gives the same bytes.
find_program(TARNWICK_GZIP gzip REQUIRED)
set(man_pages tarnwick-cli.1)
if(TARGET tarnwick)
  list(APPEND man_pages tarnwick.1)
endif()
set(man_outputs)
foreach(page ${man_pages})
  set(output ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
                     COMMAND ${CMAKE_COMMAND} -E copy ${data_dir}/man/${page} ${CMAKE_CURRENT_BINARY_DIR}/man/${page}
                     COMMAND ${TARNWICK_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/man/${page}
                     DEPENDS ${data_dir}/man/${page} COMMENT "Compressing man page ${page}" VERBATIM)
  list(APPEND man_outputs ${output})
endforeach()
add_custom_target(tarnwick_man_pages ALL DEPENDS ${man_outputs})
install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TARGET tarnwick)
  install(FILES ${data_dir}/tarnwick.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${data_dir}/tarnwick.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${data_dir}/icons/tarnwick.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # Rendered from the SVG by scripts/render_icons.sh and kept in git.
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${data_dir}/icons/${size}x${size}/tarnwick.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

# The Debian package. Its dependencies on shared libraries come from the
# binaries (dpkg-shlibdeps); adduser and setcap are for its maintainer scripts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop monitor of the machine's network connections")
# Lines of the control file's long description (no semicolons: CMake would cut there).
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Tarnwick lists every TCP connection and listener and every open UDP port\n"
       "of the machine, IPv4 and IPv6, with the remote host, the services, the TCP\n"
       "state and the program that owns the socket, and logs every change. Rules\n"
       "act on new connections, and a capture window shows their packets.\n"
       "\n"
       "tarnwick-cli is the same monitor for servers and scripts, and the service\n"
       "tarnwick-watch runs it with the machine's rules.")
set(TARNWICK_PACKAGE_MAINTAINER "Tarnwick maintainers <maintainers@tarnwick.invalid>" CACHE STRING
    "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${TARNWICK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARNWICK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tarnwick_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libcap2-bin")
# The countries and networks of remote addresses: the data libloc reads, and
# `location update`, which keeps it fresh. Without them those show "-".
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libloc-database, location")
set(CPACK_STRIP_FILES ON)

set(TARNWICK_HELPER_PATH ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/tarnwick/tarnwick-helper)
set(script_dir ${CMAKE_CURRENT_BINARY_DIR}/debian)
foreach(script postinst prerm postrm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${script}.in ${script_dir}/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${script_dir}/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_SOURCE_IGNORE_FILES "/build/" "/\\\\.git/")
include(CPack)
