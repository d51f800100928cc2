# quell_devices: device listing and choice, the device choice dialog, the
# file camera (a picture or video file standing in for the camera) and the
# watch over cameras that come and go.
add_library(quell_devices STATIC
  graph/DeviceChoice.cpp
  graph/DeviceSelectDialog.cpp
  graph/FileCamera.cpp
  graph/CameraWatch.cpp
)
target_include_directories(quell_devices PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(quell_devices PUBLIC QT_NO_KEYWORDS)
set_target_properties(quell_devices PROPERTIES AUTOMOC ON)
target_link_libraries(quell_devices PUBLIC PkgConfig::GST PkgConfig::GST_APP Qt6::Widgets quell_demo)
