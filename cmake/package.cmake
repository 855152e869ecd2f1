# The release packages, by CPack: on Windows the zip of the windows preset.
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
  install(TARGETS zenpo zenpo-dump zenpo-convert)
  install(FILES ${zenpo_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
include(CPack)
