# The Windows build's tests, run under Wine (the cross-compiling emulator): the in-process suite
# (tests/CMakeLists.txt's portable list and the Windows cases), then the real game and its
# installer under Xvfb.

# One Wine process for the whole suite: a process per test would spend minutes starting them.
# The runner shows why, and runs the suite again, if Wine kills it inside a death test.
add_test(NAME snake_tests
         COMMAND ${PROJECT_SOURCE_DIR}/tools/windows/run-suite.sh ${PROJECT_BINARY_DIR}
                 $<TARGET_FILE:snake_tests>)
set_tests_properties(snake_tests PROPERTIES TIMEOUT 600)

# The real Windows game under Wine and Xvfb: intro, a game steered onto the prize, Quit, the name
# typed into Wine's console, and the table checked byte for byte after merging into one that
# holds scores of 10 and 26; then the installer. Wine's programs share one prefix, whose
# desktop belongs to one display: one at a time.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME windows_high_score_e2e
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/high_score_e2e.py
                   --wine ${PROJECT_BINARY_DIR} --prepared-table $<TARGET_FILE:snake>)
  set_tests_properties(windows_high_score_e2e PROPERTIES
    LABELS "window;e2e" TIMEOUT 240 SKIP_RETURN_CODE 77 RUN_SERIAL ON)
endif()
add_test(NAME windows_installer
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package/windows_installer_test.sh ${PROJECT_BINARY_DIR}
                 ${CMAKE_CPACK_COMMAND} ${PROJECT_VERSION})
set_tests_properties(windows_installer PROPERTIES
  LABELS "package" TIMEOUT 300 SKIP_RETURN_CODE 77 RUN_SERIAL ON)
