# Installed documents and cpack's packages, included from the top CMakeLists.
#
#   cpack --preset default    build/vexmo_VERSION-1_ARCH.deb
#   cpack --preset windows    build-windows/vexmo-VERSION-win64.zip
#
# The Debian package holds /usr/bin/vexmo, its manual page and the README;
# its postinst grants cap_net_raw+ep where it can. The .zip holds vexmo.exe,
# a short readme for Windows users, the README, the licence and the manual
# page as plain text.

if(WIN32)
  install(FILES README.md LICENSE DESTINATION .)
  # What a Windows user needs first, with Windows line ends.
  configure_file(doc/README-windows.txt ${CMAKE_BINARY_DIR}/README-Windows.txt NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README-Windows.txt DESTINATION .)
  # The manual page as text with Windows line ends, made with groff.
  find_program(VEXMO_GROFF groff)
  if(VEXMO_GROFF)
    set(vexmo_page_text ${CMAKE_BINARY_DIR}/vexmo.txt)
    add_custom_command(
      OUTPUT ${vexmo_page_text}
      COMMAND ${CMAKE_COMMAND} -DGROFF=${VEXMO_GROFF} -DPAGE=${PROJECT_SOURCE_DIR}/doc/vexmo.1
              -DTEXT=${vexmo_page_text} -P ${PROJECT_SOURCE_DIR}/cmake/man-to-text.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/doc/vexmo.1 ${PROJECT_SOURCE_DIR}/cmake/man-to-text.cmake
      COMMENT "Formatting the manual page as text")
    add_custom_target(vexmo_page_text ALL DEPENDS ${vexmo_page_text})
    install(FILES ${vexmo_page_text} DESTINATION .)
  else()
    message(STATUS "groff not found: the Windows package will lack the manual page "
                   "(Debian: groff-base)")
  endif()
else()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Debian's own form of the licence, where its tools look for it.
  install(FILES cmake/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES cmake/debian/changelog DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME changelog.Debian)
  # Each override says why it is one.
  install(FILES cmake/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME vexmo)
endif()

set(CPACK_PACKAGE_NAME vexmo)
set(CPACK_PACKAGE_VENDOR "vexmo developers")
set(CPACK_PACKAGE_CONTACT "vexmo developers <vexmo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ICMP echo diagnostic for IPv4 and IPv6 hosts")
set(CPACK_PACKAGE_DESCRIPTION
    "vexmo sends ICMP echo requests to an IPv4 or IPv6 host one at a time and\n\
prints one line per outcome: the round-trip time of an echo reply, the kind\n\
and reason of an ICMP error about the request, or a failure such as a\n\
timeout, then a summary.")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # setcap, which the postinst needs to grant cap_net_raw on a bare system.
  # The libraries' versions from dpkg-shlibdeps (dpkg-dev) where it is
  # installed (cpack adds them to these), otherwise the library alone (the
  # program needs libc only).
  find_program(VEXMO_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(VEXMO_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin")
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libcap2-bin")
  endif()
  set(vexmo_packaged_program ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vexmo)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/postinst.in
                 ${CMAKE_BINARY_DIR}/debian/postinst @ONLY)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/postinst)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Debian keeps its manual pages compressed.
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/compress-pages.cmake)
endif()

include(CPack)
