// The main window end to end on the test suite's devices: start-up order and
// its failure question, recording through the menu, close and SIGTERM
// finishing the file, the high score kept in the profile, window scales.
#include "shell/CaptureDlg.h"
#include "shell/Commands.h"
#include "shell/Settings.h"
#include "shell/SignalCloser.h"
#include "shell/TrayIcon.h"
#include "shell/VideoWidget.h"
#include "support/AviProbe.h"
#include "support/QtWait.h"
#include "support/TestDeviceProvider.h"

#include <QAction>
#include <QKeyEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace quell {
namespace {

using namespace quell::test;

// Answers the window's questions from a script and records what it was told.
class CScriptedPrompts : public IPrompts {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text) override
    {
        questions.push_back(text);
        return answerYes;
    }
    bool RunDeviceDialog(const std::vector<std::string>& names, int initial, bool, int& selection) override
    {
        dialogs.push_back(names);
        selection = choice < 0 ? initial : choice;
        return true;
    }

    void ShowInformation(const std::string& text) override { information.push_back(text); }
    void ShowAbout() override { ++abouts; }
    void ShowPropertyPages(GstElement* pipeline) override { propertyPages += pipeline != nullptr; }
    bool ChooseCameraFormat(const std::vector<CameraFormatChoice>& formats, int current, int& chosen) override
    {
        formatPages += !formats.empty();
        chosen = current;
        return true;
    }

    std::vector<std::string> messages;
    std::vector<std::string> information;
    int abouts = 0;
    int propertyPages = 0;
    int formatPages = 0;
    std::vector<std::string> questions;
    std::vector<std::vector<std::string>> dialogs;
    bool answerYes = false;
    int choice = -1;
};

class CaptureDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_places.settingsFile = m_dir.filePath("setup.ini").toStdString();
        m_places.videoFolder = m_dir.filePath("video").toStdString();
        // The window's program folder: the build's data folder beside it,
        // but not the plugin file, whose element this test program has
        // registered in-process already.
        m_programFolder = m_dir.filePath("program").toStdString() + "/";
        std::filesystem::create_directories(m_programFolder);
        std::filesystem::create_directory_symlink(std::string(QUELL_OUTPUT_DIR) + "/data", m_programFolder + "data");
        SetTestDevices({Camera("Cam"), Microphone("Mic")});
    }

    std::unique_ptr<CCaptureDlg> MakeWindow()
    {
        return std::make_unique<CCaptureDlg>(m_programFolder, m_places, &m_prompts);
    }

    std::vector<std::string> Recordings() const { return FilesIn(m_places.videoFolder); }

    QTemporaryDir m_dir;
    std::string m_programFolder;
    StoragePlaces m_places;
    CScriptedPrompts m_prompts;
};

TEST_F(CaptureDlgTest, FirstStartChoosesDevicesShowsVideoAndSavesEverything)
{
    auto window = MakeWindow();
    m_prompts.choice = 0;  // the audio choice: no sound
    ASSERT_TRUE(window->Initialise());
    EXPECT_TRUE(m_prompts.messages.empty());
    // One camera is taken without asking; the audio list asks, "録音なし" first.
    ASSERT_EQ(m_prompts.dialogs.size(), 1u);
    EXPECT_EQ(m_prompts.dialogs[0], (std::vector<std::string>{"録音なし", "Mic"}));
    EXPECT_EQ(window->windowTitle().toStdString(), "Quellvisor - Cam (640x480) :  ");
    EXPECT_TRUE(WaitFor([&] { return window->Video().FramesShown() > 5; }));

    const std::string ini = ReadFile(m_places.settingsFile);
    for (const char* line : {"CAM_SELECT=Cam", "AUDIO_SELECT=録音なし", "WIDTH=640", "HEIGHT=480",
                             "FRAMERATE=666666", "WINDOW_WIDTH=", "WINDOW_HEIGHT="})
        EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;
    window->close();

    // The next start reuses every saved choice without a dialog.
    m_prompts.dialogs.clear();
    auto again = MakeWindow();
    ASSERT_TRUE(again->Initialise());
    EXPECT_TRUE(m_prompts.dialogs.empty());
    EXPECT_EQ(again->Settings().audioName, "録音なし");
    again->close();
}

TEST_F(CaptureDlgTest, FailedStartAsksAboutSetupIniAndKeepsOrDeletesIt)
{
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        SetTestDevices({});
        m_prompts = CScriptedPrompts();
        m_prompts.answerYes = yes;
        {
            std::ofstream ini(m_places.settingsFile);
            ini << "[DEVICE]\nCAM_SELECT=Gone\n";
        }
        auto window = MakeWindow();
        EXPECT_FALSE(window->Initialise());
        ASSERT_EQ(m_prompts.messages.size(), 1u);
        EXPECT_EQ(m_prompts.messages[0], "映像入力デバイスが見つかりませんでした");
        ASSERT_EQ(m_prompts.questions.size(), 1u);
        EXPECT_EQ(m_prompts.questions[0],
                  "エラーが発生したのでアプリケーションを終了します。\n前回の設定ファイル「setup.ini」を削除しますか？");
        EXPECT_FALSE(window->isVisible());
        // The tray icon goes with the window, also after a failed start.
        ASSERT_NE(window->Tray(), nullptr);
        EXPECT_FALSE(window->Tray()->Added());
        window.reset();
        // After Yes nothing writes the file again before the process ends.
        EXPECT_EQ(std::filesystem::exists(m_places.settingsFile), !yes);
        if (!yes) {
            EXPECT_NE(ReadFile(m_places.settingsFile).find("CAM_SELECT=Gone"), std::string::npos);
        }
    }
}

TEST_F(CaptureDlgTest, RecordsThroughTheMenuIntoPlayableFiles)
{
    {
        std::ofstream ini(m_places.settingsFile);
        ini << "[DEVICE]\nCAM_SELECT=Cam\nAUDIO_SELECT=Mic\nFRAMERATE=333333\n";
    }
    auto window = MakeWindow();
    ASSERT_TRUE(window->Initialise());
    QAction* start = window->ActionFor(kCmdRecordStart);
    QAction* stop = window->ActionFor(kCmdRecordStop);
    ASSERT_TRUE(start && stop);

    // Stop while not recording rebuilds nothing.
    stop->trigger();
    EXPECT_TRUE(Recordings().empty());

    start->trigger();
    EXPECT_TRUE(window->Recording());
    EXPECT_EQ(window->windowTitle().toStdString(), "Quellvisor - Cam (640x480) :  録画中");
    Pump(2000);
    start->trigger();  // already recording: no new file
    stop->trigger();
    EXPECT_FALSE(window->Recording());
    EXPECT_EQ(window->windowTitle().toStdString(), "Quellvisor - Cam (640x480) :  ");

    // A second recording in the same minute gets its own file.
    start->trigger();
    Pump(1500);
    window->close();

    const std::vector<std::string> files = Recordings();
    ASSERT_EQ(files.size(), 2u);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const AviContents avi = ProbeAvi(file);
        EXPECT_TRUE(avi.finished);
        EXPECT_TRUE(avi.valid);
        EXPECT_GT(avi.videoFrames, 20);
        EXPECT_GT(avi.audioBuffers, 0);
        EXPECT_EQ(avi.width, 640);
    }
}

TEST_F(CaptureDlgTest, SigtermWhileRecordingClosesLikeTheWindowAndKeepsTheHighScore)
{
    {
        std::ofstream ini(m_places.settingsFile);
        ini << "[DEVICE]\nCAM_SELECT=Cam\nAUDIO_SELECT=録音なし\n";
    }
    ASSERT_TRUE(SaveHighScore(5'000'000'123LL));
    auto window = MakeWindow();
    CSignalCloser closer([&window] { window->close(); });
    ASSERT_TRUE(window->Initialise());
    window->OnCommand(kCmdRecordStart);
    Pump(1500);
    std::raise(SIGTERM);
    EXPECT_TRUE(WaitFor([&] { return !window->isVisible(); }));

    const std::vector<std::string> files = Recordings();
    ASSERT_EQ(files.size(), 1u);
    const AviContents avi = ProbeAvi(files[0]);
    EXPECT_TRUE(avi.finished);
    EXPECT_TRUE(avi.valid);
    EXPECT_GT(avi.videoFrames, 5);
    EXPECT_EQ(avi.audioBuffers, 0);
    // The element got the stored high score and handed it back at close.
    EXPECT_EQ(LoadHighScore(), 5'000'000'123LL);
}

TEST_F(CaptureDlgTest, ScalesTheClientAreaFromTheCaptureSize)
{
    {
        std::ofstream ini(m_places.settingsFile);
        ini << "[DEVICE]\nCAM_SELECT=Cam\nAUDIO_SELECT=録音なし\nWIDTH=641\nHEIGHT=481\n";
    }
    auto window = MakeWindow();
    ASSERT_TRUE(window->Initialise());
    const struct {
        int command;
        QSize client;
    } cases[] = {{kCmdScaleHalf, {320, 240}}, {kCmdScaleTwo, {1282, 962}}, {kCmdScaleOne, {641, 481}}};
    for (const auto& c : cases) {
        window->OnCommand(c.command);
        EXPECT_TRUE(WaitFor([&] { return window->Video().size() == c.client; }, 2000))
            << c.command << ": " << window->Video().width() << "x" << window->Video().height();
    }
    window->close();
}

TEST_F(CaptureDlgTest, EveryCommandOfTheMenuTableRunsThroughTheWindow)
{
    SetTestDevices({Camera("Cam"), Camera("Other", kPatternBall), Microphone("Mic")});
    {
        std::ofstream ini(m_places.settingsFile);
        ini << "[DEVICE]\nCAM_SELECT=Cam\nAUDIO_SELECT=録音なし\n";
    }
    auto window = MakeWindow();
    ASSERT_TRUE(window->Initialise());
    const struct {
        int command;
        const char* text;
    } table[] = {
        {kCmdExit, "終了(&X)"},
        {kCmdRecordStart, "開始(&S)"},
        {kCmdRecordStop, "停止(&E)"},
        {kCmdChangeCamera, "カメラ変更(&C)"},
        {kCmdCameraSettings, "カメラ設定(&S)"},
        {kCmdCameraProperties, "カメラプロパティ(&P)"},
        {kCmdChangeAudio, "録音デバイス変更(&A)"},
        {kCmdShowSettings, "現在の設定状態表示(&H)"},
        {kCmdScaleHalf, "0.5倍表示(&1)"},
        {kCmdScaleOne, "1.0倍表示(&2)"},
        {kCmdScaleTwo, "2.0倍表示(&3)"},
        {kCmdAbout, "バージョン情報(&V)"},
        {kCmdStartupSettings, "スタートアップ設定(&T)..."},
    };
    for (const auto& row : table) {
        QAction* action = window->ActionFor(row.command);
        ASSERT_NE(action, nullptr) << row.command;
        EXPECT_EQ(action->text().toStdString(), row.text);
    }
    const auto trigger = [&](int command) {
        window->ActionFor(command)->trigger();
        QCoreApplication::processEvents();
    };

    trigger(kCmdShowSettings);
    ASSERT_EQ(m_prompts.information.size(), 1u);
    EXPECT_EQ(m_prompts.information[0], "カメラ：Cam\n音声：録音なし\n解像度：640x480\n録画状態：");
    trigger(kCmdAbout);
    EXPECT_EQ(m_prompts.abouts, 1);
    trigger(kCmdCameraProperties);
    EXPECT_EQ(m_prompts.propertyPages, 1);

    // Change camera asks among both cameras and takes the choice.
    m_prompts.choice = 1;
    trigger(kCmdChangeCamera);
    ASSERT_FALSE(m_prompts.dialogs.empty());
    EXPECT_EQ(m_prompts.dialogs.back(), (std::vector<std::string>{"Cam", "Other"}));
    EXPECT_EQ(window->Settings().cameraName, "Other");
    EXPECT_EQ(window->windowTitle().toStdString(), "Quellvisor - Other (640x480) :  ");
    // Change audio device asks with "録音なし" first.
    trigger(kCmdChangeAudio);
    EXPECT_EQ(m_prompts.dialogs.back(), (std::vector<std::string>{"録音なし", "Mic"}));
    EXPECT_EQ(window->Settings().audioName, "Mic");
    // Camera settings shows the format page.
    trigger(kCmdCameraSettings);
    EXPECT_EQ(m_prompts.formatPages, 1);
    EXPECT_TRUE(m_prompts.messages.empty());

    trigger(kCmdExit);
    EXPECT_FALSE(window->isVisible());
    EXPECT_NE(ReadFile(m_places.settingsFile).find("CAM_SELECT=Other"), std::string::npos);
}

TEST_F(CaptureDlgTest, KeysToggleFullScreenScaleAndNeverClose)
{
    {
        std::ofstream ini(m_places.settingsFile);
        ini << "[DEVICE]\nCAM_SELECT=Cam\nAUDIO_SELECT=録音なし\n";
    }
    auto window = MakeWindow();
    ASSERT_TRUE(window->Initialise());
    const auto press = [&](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QCoreApplication::sendEvent(window.get(), &event);
        QCoreApplication::processEvents();
    };
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        QSize client;  // expected client size after the key; empty: unchanged
    } scales[] = {
        {Qt::Key_1, Qt::NoModifier, {320, 240}},     {Qt::Key_3, Qt::NoModifier, {1280, 960}},
        {Qt::Key_2, Qt::NoModifier, {640, 480}},     {Qt::Key_0, Qt::KeypadModifier, {320, 240}},
        {Qt::Key_2, Qt::KeypadModifier, {1280, 960}}, {Qt::Key_1, Qt::KeypadModifier, {640, 480}},
        {Qt::Key_3, Qt::KeypadModifier, {}},           {Qt::Key_0, Qt::NoModifier, {}},
        {Qt::Key_A, Qt::NoModifier, {}},               {Qt::Key_Tab, Qt::NoModifier, {}},
    };
    for (const auto& c : scales) {
        SCOPED_TRACE(c.key);
        const QSize before = window->Video().size();
        press(c.key, c.modifiers);
        const QSize expected = c.client.isEmpty() ? before : c.client;
        EXPECT_TRUE(WaitFor([&] { return window->Video().size() == expected; }, 2000))
            << window->Video().width() << "x" << window->Video().height();
    }
    // Enter, keypad Enter and Escape alternate full screen; none closes the window.
    for (const int key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Enter, Qt::Key_Escape}) {
        const bool wasOn = window->FullScreenOn();
        press(key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_NE(window->FullScreenOn(), wasOn);
        EXPECT_TRUE(window->isVisible());
    }
    EXPECT_FALSE(window->FullScreenOn());

    // Without a notification area (the offscreen platform has none) a
    // minimised window stays in the task bar instead of hiding for good.
    ASSERT_FALSE(CTrayIcon::Available());
    window->showMinimized();
    Pump(100);
    EXPECT_TRUE(window->isVisible());
    window->close();
}

}  // namespace
}  // namespace quell
