# Settings file, high score, caption and recording file names of the capture
# program: the parts without a window or a pipeline.
add_library(quell_app_base STATIC
  shell/IniFile.cpp shell/Settings.cpp graph/Caption.cpp graph/RecordingFile.cpp)
target_include_directories(quell_app_base PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(quell_app_base PUBLIC QT_NO_KEYWORDS)
target_link_libraries(quell_app_base PUBLIC Qt6::Core)
