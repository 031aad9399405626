# Installation and packages.  `cmake --install` puts the tool in bin/; on
# Linux the manual page zarntwchk(1) goes to share/man/man1 (gzipped, as
# Debian keeps them) and CPack makes a .deb; the Windows build gets a
# README.txt beside bin/ (the manual as CR LF text) and CPack makes a .zip.
include(GNUInstallDirs)

if(TARGET zarntwchk)
  install(TARGETS zarntwchk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(zarn_page ${CMAKE_SOURCE_DIR}/doc/zarntwchk.1)
if(WIN32)
  find_program(ZARN_GROFF groff REQUIRED)
  set(readme ${CMAKE_BINARY_DIR}/README.txt)
  add_custom_command(OUTPUT ${readme}
    COMMAND ${CMAKE_COMMAND} -DGROFF=${ZARN_GROFF} -DPAGE=${zarn_page}
      -DINTRO=${CMAKE_SOURCE_DIR}/doc/README-windows.txt -DOUT=${readme}
      -P ${CMAKE_SOURCE_DIR}/cmake/windows_readme.cmake
    DEPENDS ${zarn_page} ${CMAKE_SOURCE_DIR}/doc/README-windows.txt
      ${CMAKE_SOURCE_DIR}/cmake/windows_readme.cmake
    VERBATIM)
  add_custom_target(zarn_readme ALL DEPENDS ${readme})
  install(FILES ${readme} DESTINATION .)
else()
  find_program(ZARN_GZIP gzip REQUIRED)
  set(page_gz ${CMAKE_BINARY_DIR}/zarntwchk.1.gz)
  # -n: no name or time stamp inside, so the package is the same every build.
  add_custom_command(OUTPUT ${page_gz}
    COMMAND ${ZARN_GZIP} -9n -c ${zarn_page} > ${page_gz}
    DEPENDS ${zarn_page} VERBATIM)
  add_custom_target(zarn_manpage ALL DEPENDS ${page_gz})
  install(FILES ${page_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME zarntwchk)
set(CPACK_PACKAGE_CONTACT "zarntwchk maintainers <zarntwchk@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "check that a shared folder behaves as a correct file system must")
# Debian shows the description as it stands: lines under 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "zarntwchk tells an administrator whether a folder, typically a network"
  "share that several hosts reach, behaves as the ZARFO products need a"
  "folder to behave. It creates, opens, reads, writes, deletes and"
  "byte-range-locks files in it through the Windows file interface, alone,"
  "between two hosts or with a person at another program, and reports test"
  "by test OK or NG. It leaves none of its own files behind.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # (include(CPack) leaves CPACK_PACKAGE_FILE_NAME set to the source package's.)
  set(zarn_zip_name ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
  set(CPACK_PACKAGE_FILE_NAME ${zarn_zip_name})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  # Depends from the libraries the tool links, as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)

# The packages' own tests (tests/package): they make a package and look into it.
option(ZARN_PACKAGE_TESTS "Test the packages (CPack) as ctest tests" OFF)
if(ZARN_PACKAGE_TESTS)
  enable_testing()
  add_subdirectory(tests/package)
endif()
