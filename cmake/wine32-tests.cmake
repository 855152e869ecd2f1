# The tests of a Windows cross build run under 32-bit Wine (cmake/wine32.sh):
# one fresh Wine prefix per ctest run in the build folder, started by the
# fixture test wine32_start, with one Wine server for all tests, stopped by
# wine32_stop. Included by tests/CMakeLists.txt; it sets
#   ZENPO_TEST_LAUNCHER           what goes before a test's command
#   CMAKE_CROSSCOMPILING_EMULATOR Wine, which runs the .exe files
# and zenpo_wine_tests(TEST...) ties tests to the prefix.
set(wine32 ${CMAKE_CURRENT_LIST_DIR}/wine32.sh)
set(prefix ${CMAKE_BINARY_DIR}/wine32)

# The set-up runs here too, so that the reason why the tests will skip (not
# root, no binfmt_misc) is shown; the first test checks it again.
execute_process(COMMAND bash ${wine32} setup RESULT_VARIABLE status
                OUTPUT_VARIABLE out ERROR_VARIABLE out OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_STRIP_TRAILING_WHITESPACE)
if(status EQUAL 0)
  message(STATUS "${out}")
elseif(status EQUAL 77)
  message(WARNING "${out}\nThe Windows tests will be skipped.")
else()
  message(FATAL_ERROR "${out}")
endif()

# Wine may have been installed just now, after the toolchain looked for it.
find_program(ZENPO_WINE wine)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
if(ZENPO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZENPO_WINE})
endif()
set(ZENPO_TEST_LAUNCHER bash ${wine32} run ${prefix})

add_test(NAME wine32_start COMMAND bash ${wine32} start ${prefix})
add_test(NAME wine32_stop COMMAND bash ${wine32} stop ${prefix})
set_tests_properties(wine32_start PROPERTIES FIXTURES_SETUP wine32 SKIP_RETURN_CODE 77)
set_tests_properties(wine32_stop PROPERTIES FIXTURES_CLEANUP wine32)

function(zenpo_wine_tests)
  set_tests_properties(${ARGN} PROPERTIES FIXTURES_REQUIRED wine32 SKIP_RETURN_CODE 77)
endfunction()
