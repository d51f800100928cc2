// Command ids of the main window's menu and tray menu; each QAction carries
// its id as data, so the same table drives the menus and the tests.
#pragma once

namespace quell {

enum Command : int {
    kCmdAboutSystem = 0x0010,
    kCmdShowHide = 32773,
    kCmdRecordStart = 32777,
    kCmdRecordStop = 32778,
    kCmdChangeCamera = 32784,
    kCmdCameraSettings = 32787,
    kCmdCameraProperties = 32788,
    kCmdScaleHalf = 32799,
    kCmdScaleOne = 32800,
    kCmdScaleTwo = 32801,
    kCmdStartupSettings = 32808,
    kCmdShowSettings = 32811,
    kCmdChangeAudio = 32813,
    kCmdAbout = 57664,
    kCmdExit = 57665,
};

}  // namespace quell
