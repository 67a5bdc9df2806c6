# Install rules and packages.
#
# POSIX prefix:  bin/vek, bin/vekpack, share/vek/vekstub-{x86_64,i686}.exe,
#                share/man/man1/vek{,pack}.1.gz, share/doc/vek/ (README, docs/,
#                licence, copyright, changelog), share/bash-completion/completions/vek{,pack}
# Windows:       one flat folder: vek.exe, vekpack.exe, both stubs, README.txt,
#                LICENSE.txt (vekpack looks for the stubs beside itself).
# `cpack` makes a Debian package of the native build and a zip of a Windows build.
include(GNUInstallDirs)
include(cmake/VekStubs.cmake)
# Packages are made from what was built: cpack builds nothing more (the tests).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(vek_bindir .)
  set(vek_stubdir .)
  set(vek_docdir .)
else()
  set(vek_bindir ${CMAKE_INSTALL_BINDIR})
  set(vek_stubdir ${CMAKE_INSTALL_DATADIR}/vek)
  set(vek_docdir ${CMAKE_INSTALL_DATADIR}/doc/vek)
endif()

if(VEK_BUILD_TOOLS)
  install(TARGETS vek vekpack RUNTIME DESTINATION ${vek_bindir})
endif()

foreach(pair IN LISTS VEK_STUB_FILES)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 arch)
  list(GET pair 1 file)
  install(FILES "${file}" DESTINATION ${vek_stubdir} RENAME vekstub-${arch}.exe)
endforeach()

if(WIN32)
  # Text files with Windows line ends, under names that Explorer opens.
  foreach(doc README.md:README.txt LICENSE:LICENSE.txt)
    string(REPLACE ":" ";" doc "${doc}")
    list(GET doc 0 from)
    list(GET doc 1 to)
    file(READ ${PROJECT_SOURCE_DIR}/${from} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${CMAKE_BINARY_DIR}/packaging/${to} "${text}")
    install(FILES ${CMAKE_BINARY_DIR}/packaging/${to} DESTINATION ${vek_docdir})
  endforeach()
else()
  install(FILES README.md LICENSE packaging/debian/copyright DESTINATION ${vek_docdir})
  # The README's links point into docs/.
  install(DIRECTORY docs DESTINATION ${vek_docdir})
  install(FILES packaging/completion/vek packaging/completion/vekpack
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

  find_program(VEK_GZIP gzip)
  # Debian's changelog of a native package: changelog.gz, compressed reproducibly.
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/debian/changelog ${CMAKE_BINARY_DIR}/packaging/changelog
    COMMAND ${VEK_GZIP} -9nf ${CMAKE_BINARY_DIR}/packaging/changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
    VERBATIM)
  set(vek_generated ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${vek_docdir})

  # Manual pages made from the programs' own --help and --version, so they cannot
  # drift from them.
  find_program(VEK_HELP2MAN help2man)
  if(VEK_BUILD_TOOLS AND VEK_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
    foreach(tool vek vekpack)
      set(page ${CMAKE_BINARY_DIR}/packaging/${tool}.1)
      add_custom_command(OUTPUT ${page}.gz
        COMMAND ${VEK_HELP2MAN} --no-info --section=1 --source=vek
                --include=${PROJECT_SOURCE_DIR}/packaging/man/${tool}.h2m
                --output=${page} $<TARGET_FILE:${tool}>
        COMMAND ${VEK_GZIP} -9nf ${page}
        DEPENDS ${tool} ${PROJECT_SOURCE_DIR}/packaging/man/${tool}.h2m
        COMMENT "Making the manual page ${tool}.1 from ${tool} --help"
        VERBATIM)
      list(APPEND vek_generated ${page}.gz)
      install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endforeach()
  elseif(VEK_BUILD_TOOLS AND NOT CMAKE_CROSSCOMPILING)
    message(WARNING "No help2man (Debian: help2man): the manual pages vek.1 and vekpack.1 are not made or installed.")
  endif()
  add_custom_target(vek-packaging-files ALL DEPENDS ${vek_generated})
endif()

set(CPACK_PACKAGE_NAME vek)
set(CPACK_PACKAGE_VENDOR "the vek authors")
set(CPACK_PACKAGE_CONTACT "The vek authors <vek@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-extracting VEK archives for Windows")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(vek_zip_arch windows-x64)
  else()
    set(vek_zip_arch windows-x86)
  endif()
  set(CPACK_PACKAGE_FILE_NAME vek-${PROJECT_VERSION}-${vek_zip_arch})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
  # CPack puts the summary on the Description line itself; this is the extended text.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"vekpack packs a folder into a VEK archive or, with --sfx, into a
self-extracting Windows executable: a small extractor stub (x86_64 or i686,
both included) with the archive appended, optionally configured as a
publisher's installer. Files are stored, or with --compress compressed with
solid LZMA. vek lists, tests and extracts VEK archives and self-extracting
executables.")
endif()
include(CPack)
