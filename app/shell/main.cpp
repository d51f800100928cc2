// capture: the webcam power meter's program. Start-up: the delayed start,
// the main window's start-up sequence, then the event loop.
#include "graph/FileCamera.h"
#include "shell/CaptureDlg.h"
#include "shell/Settings.h"
#include "shell/SignalCloser.h"
#include "shell/Startup.h"
#include "shell/TimerDialog.h"

#include <QApplication>
#include <QThread>

#include <gst/gst.h>

#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

void PrintUsage()
{
    std::cout << "usage: capture [startup] [--source FILE]\n"
                 "  startup        wait as set up in setup.ini before starting\n"
                 "  --source FILE  use a video file or a still picture as the only camera\n";
}

// A plugin built beside the program is scanned before GStreamer's own
// folders, so that it stands in for an installed copy of the element.
void PreferPluginBesideProgram()
{
    const std::string folder = quell::GetProgramFolder();
    if (folder.empty() || !std::filesystem::exists(folder + "libgstquellfx.so"))
        return;
    std::string path = folder;
    if (const char* old = g_getenv("GST_PLUGIN_PATH"); old && *old)
        path += std::string(":") + old;
    g_setenv("GST_PLUGIN_PATH", path.c_str(), TRUE);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    PreferPluginBesideProgram();
    gst_init(&argc, &argv);

    std::vector<std::string> args;
    std::string source;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i > 0 && (arg == "--help" || arg == "-h")) {
            PrintUsage();
            return 0;
        }
        if (i > 0 && arg == "--source") {
            if (i + 1 >= argc) {
                std::cerr << "capture: --source needs a file name\n";
                return 2;
            }
            // The program changes to its own folder before the camera opens
            // the file, so a relative name is resolved now.
            std::error_code error;
            const std::filesystem::path path = std::filesystem::absolute(argv[++i], error);
            source = error ? std::string(argv[i]) : path.string();
            continue;
        }
        args.push_back(arg);
    }

    const std::string programFolder = quell::GetProgramFolder();
    const quell::StoragePlaces places = quell::ChooseStoragePlaces(programFolder);

    quell::DelayedStartHooks hooks;
    hooks.sleep = [](int seconds) { QThread::sleep(static_cast<unsigned long>(seconds)); };
    hooks.countdown = [](int seconds) {
        quell::CTimerDialog countdown(seconds);
        return countdown.exec() == QDialog::Accepted;
    };
    if (!quell::DelayedStart(args, quell::LoadStartupSettings(places.settingsFile), hooks))
        return 0;

    if (!source.empty()) {
        std::string error;
        if (!quell::RegisterFileCamera(source, error)) {
            std::cerr << "capture: " << error << "\n";
            return 2;
        }
    }

    quell::CCaptureDlg window(programFolder, places);
    quell::CSignalCloser closer([&window] { window.close(); });
    if (!window.Initialise())
        return 1;
    return app.exec();
}
