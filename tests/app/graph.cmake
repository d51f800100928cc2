# Tests of the capture pipeline: the camera format choice on its own, and
# the pipeline end to end on the test suite's devices with this build's
# effect element.
add_executable(graph_tests CaptureGraphTest.cpp GraphFormatTest.cpp GraphTestMain.cpp ${QUELL_FULL_STACKS_SOURCE})
target_include_directories(graph_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(graph_tests PRIVATE QUELL_OUTPUT_DIR="${QUELL_OUTPUT_DIR}")
target_link_libraries(graph_tests PRIVATE quell_graph quell_test_devices quellfx_element Qt6::Core GTest::gtest)
add_dependencies(graph_tests quell_data)

# Under ThreadSanitizer only the format tests are registered. A running
# pipeline hands buffers, events, messages and lazily made locks from thread
# to thread through GLib's own atomics, which the uninstrumented libraries
# hide; the reports lie in GStreamer's unnamed functions, so no suppression
# can name them, and writing them out stalls the streaming threads for
# seconds. The pipeline tests run in the regular and ASan builds.
set(graph_filter "")
if(QUELL_SANITIZE MATCHES "thread")
  set(graph_filter TEST_FILTER "GraphFormat.*")
endif()
# GLib's slice allocator hands blocks between threads through caches that
# ThreadSanitizer cannot see into; plain malloc it can.
gtest_discover_tests(graph_tests ${graph_filter}
  PROPERTIES LABELS app
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;G_SLICE=always-malloc;GST_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/graph-registry.bin")
