// The start-up settings dialog: the seconds box's range, OK and Cancel with
// the kept values, the two autostart buttons with their questions and
// messages, and the values written to setup.ini.
#include "shell/Autostart.h"
#include "shell/Settings.h"
#include "shell/StartupSetupDialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace quell {
namespace {

namespace fs = std::filesystem;

std::string Folder()
{
    std::string error;
    const std::string folder = AutostartFolder(error);
    EXPECT_FALSE(folder.empty()) << error;
    return folder;
}

std::string EntryPath()
{
    return Folder() + "/quellvisor.desktop";
}

// Answers the dialog's message boxes from a script and records them.
struct Script {
    std::vector<bool> answers;  // OK/Cancel answers in order
    std::vector<std::string> questions;
    std::vector<std::string> messages;

    StartupSetupMessages Hooks()
    {
        return {[this](const QString& text) {
                    questions.push_back(text.toStdString());
                    const bool answer = !answers.empty() && answers.front();
                    if (!answers.empty())
                        answers.erase(answers.begin());
                    return answer;
                },
                [this](const QString& text) { messages.push_back(text.toStdString()); }};
    }
};

const char* const kCreateQuestion = "スタートアップフォルダにQuellvisorのショートカットを作成します";
const char* const kRemoveQuestion = "スタートアップフォルダのQuellvisorのショートカットを削除します";

class StartupSetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::error_code error;
        fs::remove(EntryPath(), error);
    }
};

TEST_F(StartupSetupDialogTest, Texts)
{
    CStartupSetupDialog dialog;
    EXPECT_EQ(dialog.windowTitle().toStdString(), "スタートアップ設定");
    EXPECT_EQ(dialog.CountdownBox()->text().toStdString(), "起動までの秒数をダイアログで表示する");
    EXPECT_EQ(dialog.CreateButton()->text().toStdString(), "スタートアップ登録");
    EXPECT_EQ(dialog.RemoveButton()->text().toStdString(), "スタートアップ削除");
    EXPECT_EQ(dialog.OkButton()->text().toStdString(), "OK");
    EXPECT_EQ(dialog.CancelButton()->text().toStdString(), "キャンセル");
    EXPECT_TRUE(dialog.OkButton()->isDefault());
    std::vector<std::string> labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        labels.push_back(label->text().toStdString());
    EXPECT_EQ(labels, std::vector<std::string>{"秒後に起動する"});
    EXPECT_EQ(dialog.Seconds(), 0);
    EXPECT_FALSE(dialog.ShowCountdown());
}

TEST_F(StartupSetupDialogTest, SecondsStayWithinZeroTo600)
{
    const struct {
        int start;
        int steps;  // by the arrows
        int expected;
    } cases[] = {
        {0, -1, 0}, {0, 1, 1}, {600, 1, 600}, {599, 5, 600}, {1, -10, 0}, {-20, 0, 0}, {1000, 0, 600}, {300, 0, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + " " + std::to_string(c.steps));
        CStartupSetupDialog dialog;
        dialog.SetValues(c.start, false);
        dialog.show();
        QSpinBox& box = *dialog.SecondsBox();
        EXPECT_EQ(box.minimum(), 0);
        EXPECT_EQ(box.maximum(), 600);
        for (int i = 0; i < std::abs(c.steps); ++i)
            QTest::keyClick(&box, c.steps > 0 ? Qt::Key_Up : Qt::Key_Down);
        EXPECT_EQ(box.value(), c.expected);
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.Seconds(), c.expected);
    }
}

TEST_F(StartupSetupDialogTest, TheNumberCannotBeTypedIn)
{
    CStartupSetupDialog dialog;
    dialog.SetValues(12, false);
    dialog.show();
    QSpinBox& box = *dialog.SecondsBox();
    box.setFocus();
    QTest::keyClicks(&box, "7");
    QTest::keyClick(&box, Qt::Key_Backspace);
    EXPECT_EQ(box.value(), 12);
    EXPECT_EQ(box.text().toStdString(), "12");
}

TEST_F(StartupSetupDialogTest, OkKeepsTheControlsCancelDoesNot)
{
    CStartupSetupDialog dialog;
    dialog.SetValues(30, true);
    dialog.show();
    EXPECT_EQ(dialog.SecondsBox()->value(), 30);
    EXPECT_TRUE(dialog.CountdownBox()->isChecked());

    dialog.SecondsBox()->setValue(45);
    dialog.CountdownBox()->setChecked(false);
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.Seconds(), 30);
    EXPECT_TRUE(dialog.ShowCountdown());

    // The next opening shows the kept values again, not the cancelled ones.
    dialog.show();
    EXPECT_EQ(dialog.SecondsBox()->value(), 30);
    EXPECT_TRUE(dialog.CountdownBox()->isChecked());
    dialog.SecondsBox()->setValue(45);
    dialog.CountdownBox()->setChecked(false);
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Seconds(), 45);
    EXPECT_FALSE(dialog.ShowCountdown());
    EXPECT_EQ(dialog.Values().timerSeconds, 45);
    EXPECT_EQ(dialog.Values().dialog, "off");

    dialog.show();
    EXPECT_EQ(dialog.SecondsBox()->value(), 45);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(StartupSetupDialogTest, CreateAsksThenWritesTheEntry)
{
    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        Script script{{ok}, {}, {}};
        CStartupSetupDialog dialog(nullptr, script.Hooks());
        dialog.SetProgramPath("/opt/Quell visor/capture");
        dialog.show();
        QTest::mouseClick(dialog.CreateButton(), Qt::LeftButton);
        EXPECT_EQ(script.questions, std::vector<std::string>{kCreateQuestion});
        EXPECT_TRUE(script.messages.empty());
        EXPECT_EQ(fs::exists(EntryPath()), ok);
        EXPECT_TRUE(dialog.isVisible());
    }
    std::ifstream in(EntryPath());
    std::ostringstream text;
    text << in.rdbuf();
    const auto entry = ParseDesktopEntry(text.str());
    ASSERT_TRUE(entry);
    EXPECT_EQ(SplitExec(entry->at("Exec")), (std::vector<std::string>{"/opt/Quell visor/capture", "startup"}));
}

TEST_F(StartupSetupDialogTest, ByDefaultTheEntryRunsThisProgram)
{
    Script script{{true}, {}, {}};
    CStartupSetupDialog dialog(nullptr, script.Hooks());
    dialog.CreateEntry();
    std::ifstream in(EntryPath());
    std::ostringstream text;
    text << in.rdbuf();
    const auto entry = ParseDesktopEntry(text.str());
    ASSERT_TRUE(entry);
    EXPECT_EQ(SplitExec(entry->at("Exec")),
              (std::vector<std::string>{fs::read_symlink("/proc/self/exe").string(), "startup"}));
}

TEST_F(StartupSetupDialogTest, RemoveWithoutAnEntrySaysSo)
{
    Script script{{true}, {}, {}};
    CStartupSetupDialog dialog(nullptr, script.Hooks());
    dialog.show();
    QTest::mouseClick(dialog.RemoveButton(), Qt::LeftButton);
    EXPECT_TRUE(script.questions.empty());
    EXPECT_EQ(script.messages, std::vector<std::string>{"ショートカットが存在しません"});
}

TEST_F(StartupSetupDialogTest, RemoveAsksThenDeletes)
{
    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        std::string error;
        ASSERT_TRUE(CreateStartupEntry(Folder(), "/usr/bin/capture", error)) << error;
        Script script{{ok}, {}, {}};
        CStartupSetupDialog dialog(nullptr, script.Hooks());
        dialog.show();
        QTest::mouseClick(dialog.RemoveButton(), Qt::LeftButton);
        EXPECT_EQ(script.questions, std::vector<std::string>{kRemoveQuestion});
        EXPECT_TRUE(script.messages.empty());
        EXPECT_EQ(fs::exists(EntryPath()), !ok);
    }
}

TEST_F(StartupSetupDialogTest, AFailedCreationIsReportedWithThePath)
{
    // A folder in the entry's place cannot be replaced by the entry.
    fs::create_directories(EntryPath() + "/inside");
    Script create{{true}, {}, {}};
    CStartupSetupDialog dialog(nullptr, create.Hooks());
    dialog.SetProgramPath("/usr/bin/capture");
    dialog.CreateEntry();
    ASSERT_EQ(create.messages.size(), 1u);
    EXPECT_NE(create.messages[0].find(EntryPath()), std::string::npos) << create.messages[0];
    fs::remove_all(EntryPath());
}

TEST_F(StartupSetupDialogTest, AFailedDeletionIsReportedWithThePath)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "a read-only folder does not stop root";
    std::string error;
    ASSERT_TRUE(CreateStartupEntry(Folder(), "/usr/bin/capture", error)) << error;
    fs::permissions(Folder(), fs::perms::owner_write, fs::perm_options::remove);
    Script remove{{true}, {}, {}};
    CStartupSetupDialog second(nullptr, remove.Hooks());
    second.RemoveEntry();
    fs::permissions(Folder(), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(remove.questions, std::vector<std::string>{kRemoveQuestion});
    ASSERT_EQ(remove.messages.size(), 1u);
    EXPECT_NE(remove.messages[0].find(EntryPath()), std::string::npos) << remove.messages[0];
    EXPECT_TRUE(fs::exists(EntryPath()));
}

TEST_F(StartupSetupDialogTest, ValuesReachSetupIniAndComeBack)
{
    const std::string file = std::string(std::getenv("HOME")) + "/startup-ini/setup.ini";
    fs::remove_all(fs::path(file).parent_path());
    fs::create_directories(fs::path(file).parent_path());
    std::ofstream(file) << "; kept\n[APPLICATION]\nWINDOW_WIDTH=320\nSTARTUP_TIMER=9\n[DEVICE]\nCAM_SELECT=cam\n";

    const struct {
        int seconds;
        bool countdown;
    } cases[] = {{3, true}, {0, false}, {600, true}};
    for (const auto& c : cases) {
        CStartupSetupDialog dialog;
        dialog.SetValues(c.seconds, c.countdown);
        std::string error;
        ASSERT_TRUE(SaveStartupSettings(file, dialog.Values(), error)) << error;
        const StartupSettings loaded = LoadStartupSettings(file);
        EXPECT_EQ(loaded.timerSeconds, c.seconds);
        EXPECT_EQ(loaded.dialog, c.countdown ? "on" : "off");

        CStartupSetupDialog reopened;
        reopened.SetValues(loaded);
        EXPECT_EQ(reopened.Seconds(), c.seconds);
        EXPECT_EQ(reopened.ShowCountdown(), c.countdown);
    }
    CaptureSettings settings;
    LoadSettings(file, settings);
    EXPECT_EQ(settings.windowWidth, 320);
    EXPECT_EQ(settings.cameraName, "cam");
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().rfind("; kept\n", 0), 0u) << text.str();
    EXPECT_EQ(text.str().find("STARTUP_TIMER"), text.str().rfind("STARTUP_TIMER"));
}

}  // namespace
}  // namespace quell
