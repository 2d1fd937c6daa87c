# Installing, and the packages cpack makes of it (with TOLVANE_PACKAGES,
# which the release presets set): on Linux a .tar.gz and a .deb of
# bin/tolvane, its manual page and their papers; on Windows a .zip of
# tolvane.exe, a README for Windows users, the license, the manual as plain
# text and the sample bank.  Without packages or tests nothing here needs
# more than CMake.
#
# Packages are reproducible: two builds of one commit give the same bytes.
# Every date inside is the commit's (SOURCE_DATE_EPOCH), programs are
# stripped, and compressed files carry no name or date of their own.

set(TOLVANE_MAINTAINER "tolvane developers <tolvane-developers@example.org>" CACHE STRING
    "Name and mail address of whoever builds the packages, for the .deb and its changelog")

option(TOLVANE_PACKAGES "Make what the packages hold (the Linux ones need gzip, the Windows one groff)"
       OFF)

# Compresses SOURCE into OUTPUT as Debian does: best compression, and no name
# or date in the gzip header.
function(gzip_file source output)
  add_custom_command(OUTPUT ${output} COMMAND ${GZIP} -9n -c ${source} > ${output}
                     DEPENDS ${source} VERBATIM)
endfunction()

# The manual as plain text, as `man` shows it but without fonts, with CR LF
# line ends for Windows' editors: what the Windows package carries, and what
# the tests check the reports against on every system.  Only they need
# groff.
if(TOLVANE_TESTS OR (WIN32 AND TOLVANE_PACKAGES))
  find_program(GROFF groff REQUIRED)
  set(manual_text ${CMAKE_BINARY_DIR}/tolvane-manual.txt)
  add_custom_command(OUTPUT ${manual_text}
    COMMAND ${CMAKE_COMMAND} -DGROFF=${GROFF} -DPAGE=${PROJECT_SOURCE_DIR}/docs/tolvane.1
            -DTEXT=${manual_text} -P ${PROJECT_SOURCE_DIR}/cmake/manual-text.cmake
    DEPENDS docs/tolvane.1 cmake/manual-text.cmake VERBATIM)
  add_custom_target(manual_text ALL DEPENDS ${manual_text})
endif()

if(WIN32)
  install(TARGETS tolvane RUNTIME DESTINATION . COMPONENT archive)
  if(TOLVANE_PACKAGES)
    # For Windows users: a README of their own and the license, as text
    # files with CR LF line ends that a double click opens, and the sample
    # bank to try the program on (written by make_bank, run under the
    # emulator when cross-building: the same bytes as on Linux).
    configure_file(packaging/README.txt.in ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
    configure_file(LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
    set(sample_bank ${CMAKE_BINARY_DIR}/sample-bank)
    set(sample_dumps dump00.bin dump01.bin dumpUC00.bin dumpUC01.bin)
    list(TRANSFORM sample_dumps PREPEND ${sample_bank}/)
    add_custom_command(OUTPUT ${sample_dumps} COMMAND make_bank ${sample_bank} DEPENDS make_bank
                       VERBATIM)
    add_custom_target(sample_bank ALL DEPENDS ${sample_dumps})
    install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/LICENSE.txt ${manual_text}
            DESTINATION . COMPONENT archive)
    install(FILES ${sample_dumps} DESTINATION sample-bank COMPONENT archive)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(top_folder OFF)
else()
  include(GNUInstallDirs)
  # The manual page as it stands (man reads it so), or in the packages as
  # Debian compresses it.
  set(manual_page ${PROJECT_SOURCE_DIR}/docs/tolvane.1)
  if(TOLVANE_PACKAGES)
    find_program(GZIP gzip REQUIRED)
    set(manual_page ${CMAKE_BINARY_DIR}/tolvane.1.gz)
    gzip_file(${PROJECT_SOURCE_DIR}/docs/tolvane.1 ${manual_page})
    # The changelog, named as Debian names it for a package of its own
    # making, and the license in Debian's machine-readable copyright format.
    configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
    set(changelog_gz ${CMAKE_BINARY_DIR}/changelog.gz)
    gzip_file(${CMAKE_BINARY_DIR}/changelog ${changelog_gz})
    add_custom_target(package_docs ALL DEPENDS ${manual_page} ${changelog_gz})
    file(READ LICENSE license_text)
    string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
    string(REGEX REPLACE "\n([^\n])" "\n \\1" license_text "${license_text}")
    file(WRITE ${CMAKE_BINARY_DIR}/copyright
         "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
         "Upstream-Name: tolvane\n\n"
         "Files: *\nCopyright: 2026 the tolvane developers\nLicense: Expat\n "
         "${license_text}")
    install(FILES ${CMAKE_BINARY_DIR}/copyright ${changelog_gz}
            DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
    # The compiler's name and version, which the stripping leaves, is of no
    # use to anyone running the program (an ELF section; other formats go as
    # built).
    if(TOLVANE_ELF)
      add_custom_command(TARGET tolvane POST_BUILD
                         COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:tolvane>
                         VERBATIM)
    endif()
  endif()
  # The program and its manual go into both kinds of package; Debian's papers
  # into the .deb only; the README and the license as they stand into the
  # archive (and into a plain install).
  foreach(kind debian archive)
    if(kind STREQUAL debian)
      set(only_asked EXCLUDE_FROM_ALL)
    else()
      set(only_asked "")
    endif()
    install(TARGETS tolvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${kind}
            ${only_asked})
    install(FILES ${manual_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${kind}
            ${only_asked})
  endforeach()
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT archive)
  set(CPACK_GENERATOR TGZ DEB)
  set(top_folder ON)
endif()

# The rest is for cpack, which finds nothing to make in other builds.
if(NOT TOLVANE_PACKAGES)
  return()
endif()

# Each kind of package is made of one component, whose files cpack lists in
# one sorted run.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GENH sound files from decompressed Kestrune dumps")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/packaging/description.txt)
set(CPACK_PACKAGE_CONTACT "${TOLVANE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The date the files in the packages carry, and which files each kind takes.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/package-config.cmake)
configure_file(packaging/package-config.cmake.in ${CPACK_PROJECT_CONFIG_FILE} @ONLY)
include(CPack)
