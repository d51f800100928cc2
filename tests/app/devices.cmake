# Tests of the device listing and choice, the device choice dialog and the
# file camera.

# The test suite's own device provider, for every test of the capture
# program that lists devices.
add_library(quell_test_devices STATIC ${CMAKE_SOURCE_DIR}/tests/support/TestDeviceProvider.cpp)
target_include_directories(quell_test_devices PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quell_test_devices PUBLIC PkgConfig::GST)

find_package(Qt6 REQUIRED COMPONENTS Test)

# Plugins load as devices are listed and played, so the sanitizer build needs
# full allocation stacks (see the file).
add_executable(device_choice_tests DeviceChoiceTest.cpp DeviceSelectDialogTest.cpp DevicesTestMain.cpp
  ${QUELL_FULL_STACKS_SOURCE})
target_link_libraries(device_choice_tests PRIVATE quell_devices quell_test_devices Qt6::Test GTest::gtest)
# The MJPEG camera's test runs an encoding and decoding pipeline; under
# ThreadSanitizer it is left out, for the reasons given in graph.cmake.
set(device_choice_filter "")
if(QUELL_SANITIZE MATCHES "thread")
  set(device_choice_filter TEST_FILTER "-TestDeviceProvider.MjpegCameraDeliversJpegFramesAtTheAskedSize")
endif()
gtest_discover_tests(device_choice_tests ${device_choice_filter}
  PROPERTIES LABELS app ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The file camera lowers every other camera provider, so it has a test
# program of its own. Its tests play decoding pipelines whose threads hand
# buffers on through GLib's futex-based locks, which ThreadSanitizer cannot see (it
# reports every frame as a race inside GStreamer's unnamed functions, and
# the scaling runs too slowly under it), so the ThreadSanitizer build leaves
# them out; the regular and AddressSanitizer builds run them.
if(NOT QUELL_SANITIZE MATCHES "thread")
  add_executable(file_camera_tests FileCameraTest.cpp DevicesTestMain.cpp ${QUELL_FULL_STACKS_SOURCE})
  target_compile_definitions(file_camera_tests PRIVATE QUELL_TESTDATA_DIR="${QUELL_TESTDATA_DIR}"
    QUELL_TEST_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  target_link_libraries(file_camera_tests PRIVATE quell_devices GTest::gtest)
  gtest_discover_tests(file_camera_tests
    PROPERTIES LABELS app ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
