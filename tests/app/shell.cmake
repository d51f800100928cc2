# The main window with its start-up and shut-down order, driven through its
# menu with the test suite's devices; the delayed start.
add_executable(shell_tests CaptureDlgTest.cpp StartupTest.cpp ShellTestMain.cpp)
target_include_directories(shell_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(shell_tests PRIVATE QUELL_OUTPUT_DIR="${QUELL_OUTPUT_DIR}")
target_link_libraries(shell_tests PRIVATE quell_shell quell_test_devices GTest::gtest)
add_dependencies(shell_tests gstquellfx quell_data)
gtest_discover_tests(shell_tests
  PROPERTIES LABELS app
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;GST_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/shell-registry.bin")
