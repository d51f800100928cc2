# The shell's small windows: tray icon, countdown of the delayed start, start-up
# settings with the autostart entry.
add_library(quell_shell_dialogs STATIC
  shell/TrayIcon.cpp shell/TimerDialog.cpp shell/StartupSetupDialog.cpp shell/Autostart.cpp)
target_include_directories(quell_shell_dialogs PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(quell_shell_dialogs PUBLIC QT_NO_KEYWORDS)
set_target_properties(quell_shell_dialogs PROPERTIES AUTOMOC ON)
target_link_libraries(quell_shell_dialogs PUBLIC quell_app_base Qt6::Widgets)
