# quell_graph: the capture pipeline (assembly, camera format, recording,
# teardown). Included from app/CMakeLists.txt.
add_library(quell_graph STATIC
  graph/AviRepair.cpp
  graph/CaptureGraph.cpp
  graph/GraphFormat.cpp
  graph/CameraFormats.cpp
)
target_include_directories(quell_graph PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quell_graph PUBLIC quell_devices quell_app_base PkgConfig::GST PkgConfig::GST_APP)
