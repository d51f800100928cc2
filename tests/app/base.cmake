# Settings file, high score, caption and recording file names. The test
# program points HOME and XDG_CONFIG_HOME at a folder of its own before any
# test runs, so the user's own profile is never touched.
add_executable(app_base_tests BaseTestMain.cpp IniFileTest.cpp SettingsTest.cpp CaptionTest.cpp
  RecordingFileTest.cpp)
target_include_directories(app_base_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(app_base_tests PRIVATE quell_app_base GTest::gtest)
gtest_discover_tests(app_base_tests PROPERTIES LABELS app_base ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
