// The main window's state that setup.ini keeps between runs.
#pragma once

#include <cstdint>
#include <string>

namespace quell {

struct CaptureSettings {
    std::string cameraName;            // DEVICE/CAM_SELECT, numbered display name
    std::string cameraId;              // DEVICE/CAM_ID, the camera's stable id (port, path or serial), may be empty
    std::string audioName;             // DEVICE/AUDIO_SELECT, or "録音なし"
    std::int32_t width = 640;          // DEVICE/WIDTH, capture size
    std::int32_t height = 480;         // DEVICE/HEIGHT
    std::int64_t frameTime = 666666;   // DEVICE/FRAMERATE, 100-ns units per frame
    std::int32_t windowWidth = 640;    // APPLICATION/WINDOW_WIDTH, client area
    std::int32_t windowHeight = 480;   // APPLICATION/WINDOW_HEIGHT
};

// The delayed start that the argument "startup" asks for.
struct StartupSettings {
    int timerSeconds = 0;              // APPLICATION/STARTUP_TIMER
    std::string dialog = "off";        // APPLICATION/STARTUP_DIALOG
};

}  // namespace quell
