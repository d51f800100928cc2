# Cameras that come and go under the main window: the device watch, the
# rebuild when the camera is back, twins told apart by their ids. Included
# from shell.cmake.
add_executable(camera_watch_tests CameraWatchTest.cpp ShellTestMain.cpp ${QUELL_FULL_STACKS_SOURCE})
target_include_directories(camera_watch_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(camera_watch_tests PRIVATE QUELL_OUTPUT_DIR="${QUELL_OUTPUT_DIR}")
target_link_libraries(camera_watch_tests PRIVATE quell_shell quell_test_devices quellfx_element GTest::gtest)
add_dependencies(camera_watch_tests gstquellfx quell_data)
# Under ThreadSanitizer only the tests without a running pipeline, for the
# reasons given in graph.cmake.
set(camera_watch_filter "")
if(QUELL_SANITIZE MATCHES "thread")
  set(camera_watch_filter TEST_FILTER "CameraId.*")
endif()
gtest_discover_tests(camera_watch_tests ${camera_watch_filter}
  PROPERTIES LABELS app
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;G_SLICE=always-malloc;GST_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/camera-watch-registry.bin")
