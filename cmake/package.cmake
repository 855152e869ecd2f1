# The release packages, by CPack: on Windows the zip of the windows preset, on
# Linux a Debian package (cmake --build --preset release --target package).
# Included by CMakeLists.txt after the programs; the man pages are configured
# there (zenpo_man_pages).

set(CPACK_PACKAGE_NAME zenpo)
set(CPACK_PACKAGE_VENDOR "the zenpo authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(packed ${PROJECT_BINARY_DIR}/package)  # the files made for the packages
set(examples examples/hello.txt examples/hello.hex examples/hello.png examples/zenpo.png)
list(TRANSFORM examples PREPEND ${PROJECT_SOURCE_DIR}/)

# The glyph editor page, where a build of it is named.
set(ZENPO_EDIT_PAGE "" CACHE FILEPATH "A built zenpo-edit.html to pack beside the programs")

if(WIN32)
  # The zip: the .exe files, the texts with CR LF for Notepad, the man pages
  # as HTML (mandoc), linked to each other, and the examples.
  find_program(ZENPO_MANDOC mandoc NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(docs)
  foreach(text README.md LICENSE NEWS.md)
    get_filename_component(name ${text} NAME_WLE)
    add_custom_command(OUTPUT ${packed}/${name}.txt
      COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/${text} -DOUT=${packed}/${name}.txt
              -P ${PROJECT_SOURCE_DIR}/cmake/crlf.cmake
      DEPENDS ${text} cmake/crlf.cmake VERBATIM)
    list(APPEND docs ${packed}/${name}.txt)
  endforeach()
  foreach(page ${zenpo_man_pages})
    get_filename_component(name ${page} NAME)
    add_custom_command(OUTPUT ${packed}/${name}.html
      COMMAND ${ZENPO_MANDOC} -T html -O man=%N.%S.html ${page} > ${packed}/${name}.html
      DEPENDS ${page})
    list(APPEND docs ${packed}/${name}.html)
  endforeach()
  add_custom_target(package_docs ALL DEPENDS ${docs})
  install(TARGETS zenpo zenpo-dump zenpo-convert RUNTIME DESTINATION .)
  install(FILES ${docs} DESTINATION .)
  install(FILES ${examples} DESTINATION examples)
  if(ZENPO_EDIT_PAGE)
    install(FILES ${ZENPO_EDIT_PAGE} DESTINATION .)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME zenpo-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # The Debian package, or an install under any prefix: the programs, the man
  # pages gzip'd, and in share/doc/zenpo the copyright in Debian's format, a
  # Debian changelog, the README, NEWS and the examples.
  find_program(ZENPO_GZIP gzip REQUIRED)
  set(man)
  foreach(page ${zenpo_man_pages})
    get_filename_component(name ${page} NAME)
    add_custom_command(OUTPUT ${packed}/${name}.gz
      COMMAND ${ZENPO_GZIP} -9n < ${page} > ${packed}/${name}.gz DEPENDS ${page})
    list(APPEND man ${packed}/${name}.gz)
  endforeach()
  set(ZENPO_MAINTAINER "the zenpo authors <zenpo@example.org>"
      CACHE STRING "The Debian package's Maintainer field")
  file(READ LICENSE license)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)\n\n" notice "${license}")
  set(holders ${CMAKE_MATCH_1})  # years and names
  string(FIND "${license}" "${notice}" at)
  string(LENGTH "${notice}" length)
  math(EXPR at "${at} + ${length}")
  string(SUBSTRING "${license}" ${at} -1 license)  # the terms after the notice
  string(STRIP "${license}" license)
  string(REPLACE "\n\n" "\n.\n" license "${license}")
  string(REPLACE "\n" "\n " license "${license}")
  file(WRITE ${packed}/copyright
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: zenpo\n\nFiles: *\nCopyright: ${holders}\nLicense: Expat\n\n"
       "License: Expat\n ${license}\n")
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)  # SOURCE_DATE_EPOCH, when set
  file(WRITE ${packed}/changelog "zenpo (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
       "  * Release ${PROJECT_VERSION}; what it brings for users is in NEWS.md.gz.\n\n"
       " -- ${ZENPO_MAINTAINER}  ${date}\n")
  set(docs)
  foreach(text ${packed}/changelog ${PROJECT_SOURCE_DIR}/NEWS.md)
    get_filename_component(name ${text} NAME)
    add_custom_command(OUTPUT ${packed}/${name}.gz
      COMMAND ${ZENPO_GZIP} -9n < ${text} > ${packed}/${name}.gz DEPENDS ${text})
    list(APPEND docs ${packed}/${name}.gz)
  endforeach()
  add_custom_target(package_docs ALL DEPENDS ${man} ${docs})
  install(TARGETS zenpo zenpo-dump zenpo-convert)
  install(FILES ${man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${packed}/copyright ${docs} README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${examples} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  if(ZENPO_EDIT_PAGE)
    install(FILES ${ZENPO_EDIT_PAGE} DESTINATION ${CMAKE_INSTALL_DATADIR}/zenpo)
  endif()
  # Linked statically on purpose (see ZENPO_STATIC): lintian is told so.
  if(ZENPO_STATIC)
    install(FILES cmake/lintian-overrides RENAME zenpo
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)
  else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
  set(CPACK_STRIP_FILES ON)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZENPO_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
         "zenpo rewrites the font area at the start of a ROM image in place, from a\n"
         "font patch (text) or a binary font. zenpo-dump shows an image's font as a\n"
         "patch, a PNG picture, or a BDF, PSF or hex font. zenpo-convert brings such\n"
         "pictures and fonts of other programs back in as a patch.")
endif()
include(CPack)
