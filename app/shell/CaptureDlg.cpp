// The main window: start-up order, menu commands, the video area, shut-down order.
#include "shell/CaptureDlg.h"

#include "shell/Commands.h"
#include "shell/StartupSetupDialog.h"
#include "shell/TrayIcon.h"
#include "shell/VideoWidget.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <gst/gst.h>

#include <cstdio>
#include <filesystem>
#include <unistd.h>

// The icons are compiled into this static library; their registration has to be referenced.
static void InitIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace quell {

namespace {

// How long a camera that came back is left to settle before the pipeline
// is rebuilt with it: its microphone and its device nodes arrive apart.
constexpr int kCameraSettleMs = 1000;

struct MenuItem {
    const char* text;  // nullptr: separator
    int command;
};

struct MenuSpec {
    const char* title;
    std::vector<MenuItem> items;
};

const std::vector<MenuSpec>& MenuTable()
{
    static const std::vector<MenuSpec> table = {
        {"ファイル(&F)", {{"終了(&X)", kCmdExit}}},
        {"録画(&R)", {{"開始(&S)", kCmdRecordStart}, {"停止(&E)", kCmdRecordStop}}},
        {"設定(&S)",
         {{"カメラ変更(&C)", kCmdChangeCamera},
          {"カメラ設定(&S)", kCmdCameraSettings},
          {"カメラプロパティ(&P)", kCmdCameraProperties},
          {nullptr, 0},
          {"録音デバイス変更(&A)", kCmdChangeAudio},
          {nullptr, 0},
          {"現在の設定状態表示(&H)", kCmdShowSettings},
          {nullptr, 0},
          {"スタートアップ設定(&T)...", kCmdStartupSettings}}},
        {"表示(&D)",
         {{"0.5倍表示(&1)", kCmdScaleHalf}, {"1.0倍表示(&2)", kCmdScaleOne}, {"2.0倍表示(&3)", kCmdScaleTwo}}},
        {"ヘルプ(&H)", {{"バージョン情報(&V)", kCmdAbout}}},
    };
    return table;
}

}  // namespace

CCaptureDlg::CCaptureDlg(const std::string& programFolder, const StoragePlaces& places, IPrompts* prompts,
                         QWidget* parent)
    : QMainWindow(parent),
      m_programFolder(programFolder),
      m_places(places),
      m_qtPrompts(this),
      m_prompts(prompts ? prompts : &m_qtPrompts),
      m_video(new CVideoWidget(this))
{
    InitIconResources();
    setWindowTitle(QStringLiteral("Capture"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/quellvisor.svg")));
    setCentralWidget(m_video);
    m_video->installEventFilter(this);
    BuildMenu();
    m_startupDialog = std::make_unique<CStartupSetupDialog>(this);
    m_startupDialog->SetProgramPath(QCoreApplication::applicationFilePath().toStdString());
    m_devices = std::make_unique<CDeviceChooser>(*m_prompts);
    m_graph = std::make_unique<CCaptureGraph>(*this, *m_devices, m_settings, m_highScore);
    m_watch = std::make_unique<CCameraWatch>([this] { OnCameraRemoved(); },
                                             [this](GstDevice* device) { OnCameraBack(device); });
    m_cameraReturn = new QTimer(this);
    m_cameraReturn->setSingleShot(true);
    m_cameraReturn->setInterval(kCameraSettleMs);
    connect(m_cameraReturn, &QTimer::timeout, this, [this] { ReturnCamera(); });
}

CCaptureDlg::~CCaptureDlg()
{
    Shutdown();
}

void CCaptureDlg::BuildMenu()
{
    for (const MenuSpec& spec : MenuTable()) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(spec.title));
        for (const MenuItem& item : spec.items) {
            if (!item.text) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(QString::fromUtf8(item.text));
            action->setData(item.command);
            const int command = item.command;
            connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
        }
    }
}

QAction* CCaptureDlg::ActionFor(int command) const
{
    for (QAction* action : findChildren<QAction*>()) {
        if (action->data().isValid() && action->data().toInt() == command)
            return action;
    }
    return nullptr;
}

bool CCaptureDlg::Initialise()
{
    // Settings first; the program folder is the current directory, so that
    // the effect finds its "data" folder beside the program.
    LoadSettings(m_places.settingsFile, m_settings);
    m_highScore = LoadHighScore();
    if (::chdir(m_programFolder.c_str()) != 0)
        g_warning("Cannot change to the program folder %s", m_programFolder.c_str());

    // Make the plugin beside the program known, at every start.
    gst_registry_scan_path(gst_registry_get(), m_programFolder.c_str());
    // An installed program finds the plugin installed with it, also under a
    // prefix whose plugin folder GStreamer does not search by itself.
    const std::string installedPlugins = m_programFolder + "/" QUELL_PROGRAM_TO_PLUGINS;
    if (g_file_test(installedPlugins.c_str(), G_FILE_TEST_IS_DIR))
        gst_registry_scan_path(gst_registry_get(), installedPlugins.c_str());

    show();
    SetClientSize(m_settings.windowWidth, m_settings.windowHeight);

    // The tray icon is there before the first device dialog can open.
    m_tray = std::make_unique<CTrayIcon>(*this, windowIcon(), [this](int command) { OnCommand(command); });
    m_tray->Add();

    // Watching starts before the first choice, which lists through the
    // watch's monitor: both see the same devices.
    if (m_watch->Start())
        m_devices->ListThrough(m_watch->Monitor());
    const bool reuse = !m_settings.cameraName.empty();
    if (!Rebuild(reuse, reuse, reuse)) {
        if (m_prompts->AskYesNo("エラーが発生したのでアプリケーションを終了します。\n"
                                "前回の設定ファイル「setup.ini」を削除しますか？")) {
            std::remove(m_places.settingsFile.c_str());
            m_settingsDeleted = true;
        }
        hide();
        close();
        return false;
    }
    SaveSettings();
    return true;
}

GstElement* CCaptureDlg::CreateVideoRenderer()
{
    m_video->ClearFrame();
    return m_video->CreateSink();
}

void CCaptureDlg::SetCaption(const std::string& caption)
{
    setWindowTitle(QString::fromStdString(caption));
}

void CCaptureDlg::SetClientSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    // Keep the difference between the window and its client area (the menu
    // bar) as it is now.
    const QSize extra = size() - m_video->size();
    resize(width + std::max(0, extra.width()), height + std::max(0, extra.height()));
}

void CCaptureDlg::SaveSettings()
{
    m_settings.windowWidth = m_video->width();
    m_settings.windowHeight = m_video->height();
    std::string error;
    if (!quell::SaveSettings(m_places.settingsFile, m_settings, error) && !m_saveErrorShown) {
        // Once per run: the settings stay in memory and are tried again at
        // every later save.
        m_saveErrorShown = true;
        m_prompts->ShowMessage("設定ファイル「setup.ini」を保存できませんでした。\n" + error);
    }
}

std::string CCaptureDlg::VideoFolder()
{
    // Made at the first recording; when that fails, opening the file fails
    // and the pipeline reports it.
    std::error_code error;
    std::filesystem::create_directories(m_places.videoFolder, error);
    return m_places.videoFolder;
}

void CCaptureDlg::RecordingEnded()
{
    // The file or the sound failed; the camera goes on in preview, asking
    // nothing (a sound input that went is simply left out), and the start
    // command records again.
    m_recording = false;
    m_devices->SetAskNothing(true);
    Rebuild(true, true, true);
    m_devices->SetAskNothing(false);
}

bool CCaptureDlg::Rebuild(bool reuseCamera, bool reuseFormat, bool reuseAudio)
{
    ++m_graphBusy;
    const bool built = m_graph->BuildCaptureGraph(reuseCamera, reuseFormat, reuseAudio, m_recording);
    --m_graphBusy;
    // The camera of a complete build is watched. After a failed one no
    // camera is in use, but a camera that went away is still awaited.
    if (m_watch && built)
        m_watch->Watch(m_devices->ChosenCamera());
    else if (m_watch && !m_watch->CameraAway())
        m_watch->Watch(nullptr);
    return built;
}

// The camera in use went away: a recording is completed, the pipeline
// released and the user told once (not again when the camera's own error
// said it first); the window stays, with the waiting picture.
void CCaptureDlg::OnCameraRemoved()
{
    ++m_graphBusy;
    m_graph->ReportCameraLost([this] { m_video->ClearFrame(); });
    --m_graphBusy;
    // Also when the camera's own error released the pipeline first.
    m_video->ClearFrame();
}

void CCaptureDlg::OnCameraBack(GstDevice* device)
{
    // A later arrival restarts the wait and wins.
    m_returningCamera = Share(device);
    m_cameraReturn->start();
}

// A camera of the lost one's name is back: the pipeline is built again
// with that very device, asking nothing, and a recording goes on in a new
// file.
void CCaptureDlg::ReturnCamera()
{
    if (m_graphBusy > 0) {
        // Inside a build's dialog or a message: once that is over.
        m_cameraReturn->start();
        return;
    }
    const GstRef<GstDevice> device = std::move(m_returningCamera);
    if (!device || m_shutDown || !CameraAway())
        return;
    // Its name now, numbered among its twins; none when it went again.
    const std::string name = m_devices->ListedCameraName(device.get());
    if (name.empty())
        return;
    m_settings.cameraName = name;
    m_settings.cameraId = StableDeviceId(device.get());
    m_devices->SetAskNothing(true);
    Rebuild(true, true, true);
    m_devices->SetAskNothing(false);
}

void CCaptureDlg::OnCommand(int command)
{
    switch (command) {
    case kCmdRecordStart:
        if (!m_recording) {
            m_recording = true;
            Rebuild(true, true, true);
        }
        break;
    case kCmdRecordStop:
        if (m_recording) {
            m_recording = false;
            Rebuild(true, true, true);
        }
        break;
    case kCmdChangeCamera:
        Rebuild(false, true, true);
        break;
    case kCmdCameraSettings:
        Rebuild(true, false, true);
        break;
    case kCmdCameraProperties:
        if (m_graph->Built())
            m_prompts->ShowPropertyPages(m_graph->Pipeline());
        break;
    case kCmdChangeAudio:
        Rebuild(true, true, false);
        break;
    case kCmdShowSettings:
        ShowCurrentSettings();
        break;
    case kCmdScaleHalf:
        ScaleVideoWindow(0.5f);
        break;
    case kCmdScaleOne:
        ScaleVideoWindow(1.0f);
        break;
    case kCmdScaleTwo:
        ScaleVideoWindow(2.0f);
        break;
    case kCmdAbout:
    case kCmdAboutSystem:
        m_prompts->ShowAbout();
        break;
    case kCmdExit:
        close();
        break;
    case kCmdShowHide:
        if (m_tray)
            m_tray->Toggle();
        break;
    case kCmdStartupSettings:
        RunStartupSettings();
        break;
    default:
        break;
    }
}

void CCaptureDlg::ShowCurrentSettings()
{
    char text[2048];
    std::snprintf(text, sizeof text, "カメラ：%s\n音声：%s\n解像度：%dx%d\n録画状態：%s", m_settings.cameraName.c_str(),
                  m_settings.audioName.c_str(), m_settings.width, m_settings.height,
                  m_recording ? "録画中" : "");
    m_prompts->ShowInformation(text);
}

void CCaptureDlg::RunStartupSettings()
{
    m_startupDialog->SetValues(LoadStartupSettings(m_places.settingsFile));
    if (m_startupDialog->exec() == QDialog::Accepted) {
        // Start-up reads exactly these two keys, so the choice takes effect.
        std::string error;
        if (!SaveStartupSettings(m_places.settingsFile, m_startupDialog->Values(), error))
            m_prompts->ShowMessage("設定ファイル「setup.ini」を保存できませんでした。\n" + error);
    }
    SaveSettings();
}

void CCaptureDlg::ScaleVideoWindow(float factor)
{
    // Multiplied in floating point and truncated toward zero: 641 x 0.5 -> 320.
    const int width = static_cast<int>(factor * static_cast<float>(m_settings.width));
    const int height = static_cast<int>(factor * static_cast<float>(m_settings.height));
    SetClientSize(width, height);
}

void CCaptureDlg::ToggleFullScreen()
{
    m_fullScreen = !m_fullScreen;
    menuBar()->setVisible(!m_fullScreen);
    if (m_fullScreen)
        showFullScreen();
    else
        showNormal();
}

void CCaptureDlg::ResetFaces()
{
    m_graph->ResetFaces();
}

CCaptureDlg::KeyAction CCaptureDlg::ActionForKey(int key, Qt::KeyboardModifiers modifiers)
{
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return KeyAction::FullScreen;
    case Qt::Key_Space:
        return KeyAction::ResetFaces;
    // Main-row digits 1 to 3 and keypad digits 0 to 2 pick the scale.
    case Qt::Key_0:
        return keypad ? KeyAction::ScaleHalf : KeyAction::None;
    case Qt::Key_1:
        return keypad ? KeyAction::ScaleOne : KeyAction::ScaleHalf;
    case Qt::Key_2:
        return keypad ? KeyAction::ScaleTwo : KeyAction::ScaleOne;
    case Qt::Key_3:
        return keypad ? KeyAction::None : KeyAction::ScaleTwo;
    default:
        return KeyAction::None;
    }
}

void CCaptureDlg::keyPressEvent(QKeyEvent* event)
{
    switch (ActionForKey(event->key(), event->modifiers())) {
    case KeyAction::FullScreen:
        ToggleFullScreen();
        break;
    case KeyAction::ResetFaces:
        ResetFaces();
        break;
    case KeyAction::ScaleHalf:
        ScaleVideoWindow(0.5f);
        break;
    case KeyAction::ScaleOne:
        ScaleVideoWindow(1.0f);
        break;
    case KeyAction::ScaleTwo:
        ScaleVideoWindow(2.0f);
        break;
    case KeyAction::None:
        break;
    }
    event->accept();
}

bool CCaptureDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_video) {
        if (event->type() == QEvent::MouseButtonDblClick &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            ToggleFullScreen();
            return true;
        }
        if (event->type() == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
            ResetFaces();  // and the press goes on as usual
    }
    return QMainWindow::eventFilter(watched, event);
}

void CCaptureDlg::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // A minimised window hides; the tray icon brings it back. Without a
    // notification area nothing could, so it stays in the task bar then.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && CTrayIcon::Available())
        QMetaObject::invokeMethod(this, [this] {
            if (isMinimized())
                hide();
        }, Qt::QueuedConnection);
}

void CCaptureDlg::closeEvent(QCloseEvent* event)
{
    Shutdown();
    event->accept();
}

void CCaptureDlg::Shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_cameraReturn->stop();
    m_devices->ListThrough(nullptr);
    m_watch.reset();
    // The high score, then the settings, then the pipeline (which finishes a
    // running recording).
    if (m_graph->Built()) {
        m_highScore = m_graph->FetchHighScore();
        SaveHighScore(m_highScore);
    }
    if (!m_settingsDeleted)
        SaveSettings();
    m_graph->ReleaseCaptureGraph();
    if (m_tray)
        m_tray->Remove();
}

}  // namespace quell
