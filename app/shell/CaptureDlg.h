// CCaptureDlg: the capture program's main window. Its whole client area is
// the live video; it owns the settings, the high score and the pipeline.
#pragma once

#include "graph/CameraWatch.h"
#include "graph/CaptureGraph.h"
#include "graph/DeviceChoice.h"
#include "graph/GraphHost.h"
#include "shell/CaptureSettings.h"
#include "shell/QtPrompts.h"
#include "shell/Settings.h"

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <string>

class QAction;
class QTimer;

namespace quell {

class CStartupSetupDialog;
class CTrayIcon;
class CVideoWidget;

class CCaptureDlg : public QMainWindow, public IGraphHost {
    Q_OBJECT
public:
    // `programFolder` ends with '/'; `places` says where setup.ini and the
    // recordings live. `prompts` replaces the Qt dialogs (tests); null for
    // the real ones.
    CCaptureDlg(const std::string& programFolder, const StoragePlaces& places, IPrompts* prompts = nullptr,
                QWidget* parent = nullptr);
    ~CCaptureDlg() override;

    // The start-up sequence: settings, plugin registration, window, graph.
    // False after a failed graph build (the user was asked about
    // setup.ini and the window is closing).
    bool Initialise();

    // Runs one command of the menu table.
    void OnCommand(int command);

    void ScaleVideoWindow(float factor);
    void ToggleFullScreen();
    void ResetFaces();

    // IGraphHost
    IPrompts& Prompts() override { return *m_prompts; }
    GstElement* CreateVideoRenderer() override;
    void SetCaption(const std::string& caption) override;
    void SetClientSize(int width, int height) override;
    void SaveSettings() override;
    std::string VideoFolder() override;
    void RecordingEnded() override;

    // Read-outs for tests.
    const CaptureSettings& Settings() const { return m_settings; }
    std::int64_t HighScore() const { return m_highScore; }
    bool Recording() const { return m_recording; }
    CCaptureGraph& Graph() { return *m_graph; }
    CVideoWidget& Video() { return *m_video; }
    QAction* ActionFor(int command) const;
    CTrayIcon* Tray() const { return m_tray.get(); }
    // The camera in use went away and has not been replaced yet.
    bool CameraAway() const { return m_watch && m_watch->CameraAway(); }
    CStartupSetupDialog& StartupDialog() { return *m_startupDialog; }

    // What a key press does in the main window: every key is taken here, so
    // Enter and Escape never close anything.
    enum class KeyAction { None, FullScreen, ResetFaces, ScaleHalf, ScaleOne, ScaleTwo };
    static KeyAction ActionForKey(int key, Qt::KeyboardModifiers modifiers);
    bool FullScreenOn() const { return m_fullScreen; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenu();
    bool Rebuild(bool reuseCamera, bool reuseFormat, bool reuseAudio);
    void OnCameraRemoved();
    void OnCameraBack(GstDevice* device);
    void ReturnCamera();
    void ShowCurrentSettings();
    void RunStartupSettings();
    void Shutdown();

    std::string m_programFolder;
    StoragePlaces m_places;
    CaptureSettings m_settings;
    std::int64_t m_highScore = 0;
    bool m_recording = false;
    bool m_fullScreen = false;
    bool m_settingsDeleted = false;  // the user chose to delete setup.ini after a failed start
    bool m_saveErrorShown = false;
    bool m_shutDown = false;

    CQtPrompts m_qtPrompts;
    IPrompts* m_prompts;
    CVideoWidget* m_video;
    std::unique_ptr<CDeviceChooser> m_devices;
    std::unique_ptr<CCaptureGraph> m_graph;
    // Cameras coming and going; a camera of the lost one's name is taken
    // up once the timer has let the device settle (its microphone too).
    std::unique_ptr<CCameraWatch> m_watch;
    QTimer* m_cameraReturn = nullptr;  // child of the window
    GstRef<GstDevice> m_returningCamera;
    int m_graphBusy = 0;  // inside a build or its messages: no rebuild now
    std::unique_ptr<CTrayIcon> m_tray;
    // Keeps its seconds and check state for the window's whole life.
    std::unique_ptr<CStartupSetupDialog> m_startupDialog;
};

}  // namespace quell
