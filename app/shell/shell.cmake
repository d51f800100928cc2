# The capture program: main window, prompts, start-up.
add_library(quell_shell STATIC
  shell/CaptureDlg.cpp shell/VideoWidget.cpp shell/QtPrompts.cpp shell/SignalCloser.cpp shell/Startup.cpp
  shell/icons/icons.qrc)
target_include_directories(quell_shell PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(quell_shell PUBLIC QT_NO_KEYWORDS)
set_target_properties(quell_shell PROPERTIES AUTOMOC ON AUTORCC ON)
target_link_libraries(quell_shell PUBLIC quell_graph quell_camera_dialogs quell_shell_dialogs quell_devices quell_app_base Qt6::Widgets Qt6::Svg
  PkgConfig::GST_APP PkgConfig::GST)

add_executable(capture shell/main.cpp)
target_link_libraries(capture PRIVATE quell_shell)
add_dependencies(capture gstquellfx quell_data)
install(TARGETS capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The installed program's way to the installed plugin folder, which holds
# under any prefix (e.g. "../lib/x86_64-linux-gnu/gstreamer-1.0").
cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_BINDIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX} OUTPUT_VARIABLE bin_dir)
cmake_path(ABSOLUTE_PATH QUELL_PLUGIN_INSTALL_DIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX} OUTPUT_VARIABLE plugin_dir)
file(RELATIVE_PATH program_to_plugins ${bin_dir} ${plugin_dir})
set_property(SOURCE shell/CaptureDlg.cpp APPEND PROPERTY COMPILE_DEFINITIONS QUELL_PROGRAM_TO_PLUGINS="${program_to_plugins}")

# The icon in the hicolor theme and the applications menu entry.
install(FILES shell/icons/quellvisor.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES shell/quellvisor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
