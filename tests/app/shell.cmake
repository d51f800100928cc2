# The main window with its start-up and shut-down order, driven through its
# menu with the test suite's devices; the delayed start.
add_executable(shell_tests CaptureDlgTest.cpp StartupTest.cpp ShellTestMain.cpp ${QUELL_FULL_STACKS_SOURCE})
target_include_directories(shell_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(shell_tests PRIVATE QUELL_OUTPUT_DIR="${QUELL_OUTPUT_DIR}")
target_link_libraries(shell_tests PRIVATE quell_shell quell_test_devices quellfx_element GTest::gtest)
add_dependencies(shell_tests gstquellfx quell_data)
# Under ThreadSanitizer only the tests without a running pipeline, for the
# reasons given in graph.cmake.
set(shell_filter "")
if(QUELL_SANITIZE MATCHES "thread")
  set(shell_filter TEST_FILTER "DelayedStart.*")
endif()
gtest_discover_tests(shell_tests ${shell_filter}
  PROPERTIES LABELS app
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;G_SLICE=always-malloc;GST_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/shell-registry.bin")

# The real program on a virtual display, recorded through its menu with
# xdotool (not in the sanitizer builds, whose program the test would copy).
if(NOT QUELL_SANITIZE)
  add_test(NAME app.record_through_menu_on_xvfb
    COMMAND xvfb-run -a -s "-screen 0 1024x768x24" ${CMAKE_CURRENT_SOURCE_DIR}/record_through_menu.sh ${QUELL_OUTPUT_DIR})
  set_tests_properties(app.record_through_menu_on_xvfb PROPERTIES LABELS app TIMEOUT 120)
endif()

# Cameras coming and going, in a program of their own.
include(${CMAKE_CURRENT_LIST_DIR}/camerawatch.cmake)
