# Tests of the capture pipeline: the camera format choice on its own, and
# the pipeline end to end on the test suite's devices with this build's
# effect element.
add_executable(graph_tests CaptureGraphTest.cpp GraphFormatTest.cpp GraphTestMain.cpp ${QUELL_FULL_STACKS_SOURCE})
target_include_directories(graph_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(graph_tests PRIVATE QUELL_OUTPUT_DIR="${QUELL_OUTPUT_DIR}")
target_link_libraries(graph_tests PRIVATE quell_graph quell_test_devices quellfx_element Qt6::Core GTest::gtest)
add_dependencies(graph_tests quell_data)
gtest_discover_tests(graph_tests
  PROPERTIES LABELS app
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;GST_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/graph-registry.bin")
