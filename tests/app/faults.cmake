# Faults while recording: a full disk, a failing file system, a removed
# folder, a camera or sound input that fails or vanishes, SIGINT, the
# mending of cut-off files, many start/stop cycles and camera changes, and
# a recording beyond a gigabyte.
add_executable(faults_tests RecordingFaultsTest.cpp FaultsTestMain.cpp ${QUELL_FULL_STACKS_SOURCE})
target_include_directories(faults_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(faults_tests PRIVATE QUELL_OUTPUT_DIR="${QUELL_OUTPUT_DIR}")
target_link_libraries(faults_tests PRIVATE quell_shell quell_test_devices quellfx_element GTest::gtest)
add_dependencies(faults_tests quell_data)

# Under ThreadSanitizer only the mending of files that are not recordings
# runs, for the reasons given in graph.cmake; the rest needs pipelines.
set(faults_filter TEST_FILTER "-*.Long*")
if(QUELL_SANITIZE MATCHES "thread")
  set(faults_filter TEST_FILTER "AviRepair.*")
endif()
set(faults_environment
  "QT_QPA_PLATFORM=offscreen;G_SLICE=always-malloc;GST_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/faults-registry.bin")
gtest_discover_tests(faults_tests ${faults_filter}
  PROPERTIES LABELS app ENVIRONMENT "${faults_environment}")

# The recording beyond a gigabyte records for about 30 seconds and writes
# over a gigabyte (labelled "long": ctest -LE long leaves it out). The
# sanitizer builds leave it out; their mending test covers the OpenDML parts.
if(NOT QUELL_SANITIZE)
  add_test(NAME RecordingFaultsTest.LongRecordingBeyondOneGigabytePlaysToItsEnd
    COMMAND faults_tests --gtest_filter=RecordingFaultsTest.LongRecordingBeyondOneGigabytePlaysToItsEnd)
  set_tests_properties(RecordingFaultsTest.LongRecordingBeyondOneGigabytePlaysToItsEnd PROPERTIES
    LABELS "app;long" TIMEOUT 600 ENVIRONMENT "${faults_environment}")
endif()

# The soak run (scripts/soak), built only on request.
add_executable(soak_capture EXCLUDE_FROM_ALL SoakCapture.cpp)
target_include_directories(soak_capture PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(soak_capture PRIVATE QUELL_OUTPUT_DIR="${QUELL_OUTPUT_DIR}")
target_link_libraries(soak_capture PRIVATE quell_shell quell_test_devices quellfx_element)
add_dependencies(soak_capture quell_data)
