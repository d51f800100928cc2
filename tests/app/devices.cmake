# Tests of the device listing and choice, the device choice dialog and the
# file camera.

# The test suite's own device provider, for every test of the capture
# program that lists devices.
add_library(quell_test_devices STATIC ${CMAKE_SOURCE_DIR}/tests/support/TestDeviceProvider.cpp)
target_include_directories(quell_test_devices PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quell_test_devices PUBLIC PkgConfig::GST)

find_package(Qt6 REQUIRED COMPONENTS Test)

add_executable(device_choice_tests DeviceChoiceTest.cpp DeviceSelectDialogTest.cpp DevicesTestMain.cpp)
target_link_libraries(device_choice_tests PRIVATE quell_devices quell_test_devices Qt6::Test GTest::gtest)
gtest_discover_tests(device_choice_tests
  PROPERTIES LABELS app ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
