# The camera's format page, picture controls and property pages, alone and
# through the main window with the test suite's devices.
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(camera_dialogs_tests CameraDialogsTest.cpp ShellTestMain.cpp ${QUELL_FULL_STACKS_SOURCE})
target_include_directories(camera_dialogs_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(camera_dialogs_tests PRIVATE QUELL_OUTPUT_DIR="${QUELL_OUTPUT_DIR}")
target_link_libraries(camera_dialogs_tests PRIVATE quell_shell quell_camera_dialogs quell_test_devices quellfx_element Qt6::Test
  GTest::gtest)
add_dependencies(camera_dialogs_tests gstquellfx quell_data)
# Under ThreadSanitizer only the tests without a running pipeline, for the
# reasons given in graph.cmake.
set(camera_dialogs_filter "")
if(QUELL_SANITIZE MATCHES "thread")
  set(camera_dialogs_filter TEST_FILTER "-CameraSettingsTest.*")
endif()
gtest_discover_tests(camera_dialogs_tests ${camera_dialogs_filter}
  PROPERTIES LABELS app
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;G_SLICE=always-malloc;GST_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/camera-dialogs-registry.bin")
