# quell_camera_dialogs: the camera's format page, its picture controls and
# the property pages of the running pipeline.
add_library(quell_camera_dialogs STATIC
  graph/FormatDialog.cpp
  graph/CameraControlsDialog.cpp
  graph/PropertyPages.cpp
)
target_include_directories(quell_camera_dialogs PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(quell_camera_dialogs PUBLIC QT_NO_KEYWORDS)
set_target_properties(quell_camera_dialogs PROPERTIES AUTOMOC ON)
target_link_libraries(quell_camera_dialogs PUBLIC Qt6::Widgets PkgConfig::GST)
