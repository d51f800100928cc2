// The camera's formats listed from its caps, the format choice through the
// main window into setup.ini, the failed choice, the picture controls and
// the property pages on real elements.
#include "graph/CameraControlsDialog.h"
#include "graph/CameraFormats.h"
#include "graph/FormatDialog.h"
#include "graph/PropertyPages.h"
#include "shell/CaptureDlg.h"
#include "shell/Commands.h"
#include "shell/VideoWidget.h"
#include "support/QtWait.h"
#include "support/TestDeviceProvider.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace quell {

void PrintTo(const CameraFormatChoice& f, std::ostream* os)
{
    *os << f.media << " " << f.width << "x" << f.height << "@" << f.rateNum << "/" << f.rateDen;
}

namespace {

using namespace quell::test;

CapsRef Caps(const char* text)
{
    return CapsRef(gst_caps_from_string(text));
}

CameraFormatChoice Raw(int w, int h, int num, int den = 1)
{
    return {"video/x-raw", w, h, num, den};
}

CameraFormatChoice Jpeg(int w, int h, int num, int den = 1)
{
    return {"image/jpeg", w, h, num, den};
}

TEST(CameraFormats, ListsExactlyWhatTheCapsOffer)
{
    const struct {
        const char* caps;
        std::vector<CameraFormatChoice> expected;
    } cases[] = {
        // Two pixel formats of one size are one entry.
        {"video/x-raw,format=YUY2,width=320,height=240,framerate={30/1,15/1};"
         "video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,15/1};"
         "video/x-raw,format=NV12,width=320,height=240,framerate=30/1",
         {Raw(640, 480, 30), Raw(640, 480, 15), Raw(320, 240, 30), Raw(320, 240, 15)}},
        // JPEG after raw; a missing rate is the unknown rate; other media are left out.
        {"image/jpeg,width=1280,height=720,framerate=30000/1001; video/x-raw,width=160,height=120;"
         "video/x-bayer,width=640,height=480,framerate=30/1",
         {Raw(160, 120, 0), Jpeg(1280, 720, 30000, 1001)}},
        // Ranges: the common sizes and rates inside them.
        {"video/x-raw,width=[300,400],height=[200,300],framerate=[12/1,26/1]",
         {Raw(352, 288, 25), Raw(352, 288, 24), Raw(352, 288, 20), Raw(352, 288, 15), Raw(320, 240, 25),
          Raw(320, 240, 24), Raw(320, 240, 20), Raw(320, 240, 15)}},
        {"video/x-raw,width={640,320},height=480,framerate=0/1", {Raw(640, 480, 0), Raw(320, 480, 0)}},
        {"ANY", {}},
        {"EMPTY", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caps);
        CapsRef caps = Caps(c.caps);
        EXPECT_EQ(ListCameraFormats(caps.get()), c.expected);
    }
    EXPECT_TRUE(ListCameraFormats(nullptr).empty());
}

TEST(CameraFormats, ChoiceRoundTripsThroughCaps)
{
    const std::vector<CameraFormatChoice> list = {Raw(640, 480, 30), Raw(320, 240, 15), Jpeg(320, 240, 15),
                                                  Raw(160, 120, 0)};
    for (std::size_t i = 0; i < list.size(); ++i) {
        CapsRef caps = CapsForChoice(list[i]);
        EXPECT_EQ(FindCameraFormat(list, caps.get()), static_cast<int>(i));
    }
    // 60/2 is 30 frames a second; an unlisted size is not found.
    CapsRef same = Caps("video/x-raw,width=640,height=480,framerate=60/2");
    EXPECT_EQ(FindCameraFormat(list, same.get()), 0);
    CapsRef other = Caps("video/x-raw,width=800,height=600,framerate=30/1");
    EXPECT_EQ(FindCameraFormat(list, other.get()), -1);
    EXPECT_EQ(FindCameraFormat(list, nullptr), -1);
    // No rate field for the unknown rate.
    CapsRef noRate = CapsForChoice(Raw(160, 120, 0));
    EXPECT_FALSE(gst_structure_has_field(gst_caps_get_structure(noRate.get(), 0), "framerate"));
}

TEST(FormatDialog, ShowsEveryFormatWithTheCurrentOneSelected)
{
    const std::vector<CameraFormatChoice> list = {Raw(640, 480, 30), Jpeg(320, 240, 30000, 1001),
                                                  Raw(160, 120, 0)};
    CFormatDialog dialog(list, 1);
    ASSERT_EQ(dialog.List()->count(), 3);
    EXPECT_EQ(dialog.Chosen(), 1);
    EXPECT_EQ(dialog.List()->item(0)->text().toStdString(), "640 × 480    30 fps    非圧縮");
    EXPECT_EQ(dialog.List()->item(1)->text().toStdString(), "320 × 240    29.97 fps    MJPEG");
    EXPECT_EQ(dialog.List()->item(2)->text().toStdString(), "160 × 120    フレームレート不明    非圧縮");
    CFormatDialog none(list, -1);
    EXPECT_EQ(none.Chosen(), -1);
}

// ---- through the main window ---------------------------------------------

class CFormatPrompts : public IPrompts {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string&) override { return false; }
    bool RunDeviceDialog(const std::vector<std::string>&, int initial, bool, int& selection) override
    {
        selection = initial;
        return true;
    }
    bool ChooseCameraFormat(const std::vector<CameraFormatChoice>& formats, int current, int& chosen) override
    {
        offered = formats;
        opened = current;
        for (std::size_t i = 0; i < formats.size(); ++i) {
            if (formats[i] == pick)
                chosen = static_cast<int>(i);
        }
        return !cancel;
    }
    void ShowCameraControls(GstElement* camera) override { controlsShown += camera != nullptr; }

    std::vector<std::string> messages;
    std::vector<CameraFormatChoice> offered;
    int opened = -2;
    CameraFormatChoice pick;
    bool cancel = false;
    int controlsShown = 0;
};

constexpr const char* kTwoSizes = "video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,15/1};"
                                  "video/x-raw,format=YUY2,width=320,height=240,framerate={30/1,15/1}";

class CameraSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_places.settingsFile = m_dir.filePath("setup.ini").toStdString();
        m_places.videoFolder = m_dir.filePath("video").toStdString();
        // A program folder without the plugin file: the effect element is
        // registered in-process, and the window scans its folder.
        m_programFolder = m_dir.filePath("program").toStdString() + "/";
        std::filesystem::create_directories(m_programFolder);
        std::filesystem::create_directory_symlink(std::string(QUELL_OUTPUT_DIR) + "/data", m_programFolder + "data");
        std::ofstream ini(m_places.settingsFile);
        ini << "[DEVICE]\nCAM_SELECT=Cam\nAUDIO_SELECT=録音なし\nWIDTH=640\nHEIGHT=480\nFRAMERATE=666666\n";
    }

    void UseCamera(const char* caps)
    {
        TestDevice camera = Camera("Cam");
        camera.caps = caps;
        SetTestDevices({camera});
    }

    std::unique_ptr<CCaptureDlg> MakeWindow()
    {
        return std::make_unique<CCaptureDlg>(m_programFolder, m_places, &m_prompts);
    }

    std::string Told() const
    {
        std::string all;
        for (const std::string& m : m_prompts.messages)
            all += m + "\n";
        return all;
    }

    QTemporaryDir m_dir;
    std::string m_programFolder;
    StoragePlaces m_places;
    CFormatPrompts m_prompts;
};

TEST_F(CameraSettingsTest, ChosenFormatSizesTheWindowAndReachesSetupIni)
{
    UseCamera(kTwoSizes);
    auto window = MakeWindow();
    ASSERT_TRUE(window->Initialise()) << Told();
    EXPECT_EQ(m_prompts.controlsShown, 0);

    m_prompts.pick = Raw(320, 240, 30);
    window->OnCommand(kCmdCameraSettings);
    EXPECT_TRUE(m_prompts.messages.empty());
    EXPECT_EQ(m_prompts.offered,
              (std::vector<CameraFormatChoice>{Raw(640, 480, 30), Raw(640, 480, 15), Raw(320, 240, 30),
                                               Raw(320, 240, 15)}));
    EXPECT_EQ(m_prompts.opened, 1);  // the saved 640 x 480 at 15
    EXPECT_EQ(m_prompts.controlsShown, 1);
    EXPECT_EQ(window->Settings().width, 320);
    EXPECT_EQ(window->Settings().height, 240);
    EXPECT_EQ(window->Settings().frameTime, 333333);
    EXPECT_TRUE(WaitFor([&] { return window->Video().size() == QSize(320, 240); }))
        << window->Video().width() << "x" << window->Video().height();
    EXPECT_NE(window->windowTitle().toStdString().find("(320x240)"), std::string::npos)
        << window->windowTitle().toStdString();
    EXPECT_TRUE(WaitFor([&] { return window->Video().FramesShown() > 3; }));
    const std::string ini = ReadFile(m_places.settingsFile);
    for (const char* line : {"WIDTH=320\n", "HEIGHT=240\n", "FRAMERATE=333333\n"})
        EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;
    window->close();
}

TEST_F(CameraSettingsTest, CancelKeepsTheSavedFormat)
{
    UseCamera(kTwoSizes);
    auto window = MakeWindow();
    ASSERT_TRUE(window->Initialise()) << Told();
    m_prompts.pick = Raw(320, 240, 30);
    m_prompts.cancel = true;
    window->OnCommand(kCmdCameraSettings);
    EXPECT_TRUE(m_prompts.messages.empty());
    EXPECT_EQ(window->Settings().width, 640);
    EXPECT_EQ(window->Settings().frameTime, 666666);
    EXPECT_TRUE(window->Graph().Built());
    window->close();
}

TEST_F(CameraSettingsTest, FormatWithoutFrameRateFailsAndKeepsTheSavedValues)
{
    UseCamera("video/x-raw,format=YUY2,width=320,height=240,framerate=0/1");
    auto window = MakeWindow();
    m_prompts.pick = Raw(320, 240, 0);
    // The saved format is not offered, so the camera runs in its own.
    ASSERT_TRUE(window->Initialise()) << Told();
    window->OnCommand(kCmdCameraSettings);
    ASSERT_EQ(m_prompts.messages.size(), 1u);
    EXPECT_EQ(m_prompts.messages[0], "設定に失敗しました。");
    EXPECT_EQ(m_prompts.controlsShown, 0);
    EXPECT_EQ(window->Settings().width, 640);
    EXPECT_EQ(window->Settings().height, 480);
    EXPECT_EQ(window->Settings().frameTime, 666666);
    window->close();
    EXPECT_NE(ReadFile(m_places.settingsFile).find("FRAMERATE=666666"), std::string::npos);
}

// ---- picture controls and property pages -------------------------------

TEST(CameraControls, ColourBalanceChannelsBecomeSlidersThatChangeTheElement)
{
    GstRef<GstElement> balance = Adopt(gst_element_factory_make("videobalance", nullptr));
    ASSERT_TRUE(balance);
    // Inside a bin, as a camera's own element would be.
    GstRef<GstElement> bin = Adopt(gst_bin_new("camera"));
    gst_bin_add(GST_BIN(bin.get()), GST_ELEMENT(gst_object_ref(balance.get())));
    for (GstElement* camera : {balance.get(), bin.get()}) {
        std::vector<CameraControl> controls = CameraControlsOf(camera);
        std::vector<std::string> labels;
        for (const CameraControl& c : controls)
            labels.push_back(c.label);
        EXPECT_EQ(labels, (std::vector<std::string>{"色相", "彩度", "明るさ", "コントラスト"}));
        CCameraControlsDialog dialog(std::move(controls));
        auto* slider = qobject_cast<QSlider*>(dialog.Editor("明るさ"));
        ASSERT_NE(slider, nullptr);
        slider->setValue(slider->maximum());
        gdouble brightness = 0;
        g_object_get(balance.get(), "brightness", &brightness, nullptr);
        EXPECT_DOUBLE_EQ(brightness, 1.0);
        slider->setValue((slider->minimum() + slider->maximum()) / 2);
    }
    // A camera without any: nothing to show.
    GstRef<GstElement> plain = Adopt(gst_element_factory_make("videotestsrc", nullptr));
    EXPECT_TRUE(CameraControlsOf(plain.get()).empty());
    EXPECT_TRUE(CameraControlsOf(nullptr).empty());
}

TEST(PropertyPages, PagesInPipelineOrderWithEditorsOfTheRightKind)
{
    GError* error = nullptr;
    GstRef<GstElement> pipeline = Adopt(gst_parse_launch(
        "videotestsrc name=src ! capsfilter name=format ! queue name=display ! fakesink name=sink", &error));
    ASSERT_TRUE(pipeline) << (error ? error->message : "");
    std::vector<std::string> order, withPages;
    for (const GstRef<GstElement>& e : ElementsInPipelineOrder(pipeline.get())) {
        order.push_back(GST_OBJECT_NAME(e.get()));
        if (!EditableProperties(e.get()).empty())
            withPages.push_back(GST_OBJECT_NAME(e.get()));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"src", "format", "display", "sink"}));
    // videotestsrc has nothing that may change while playing.
    EXPECT_EQ(withPages, (std::vector<std::string>{"format", "display", "sink"}));

    GstRef<GstElement> queue(gst_bin_get_by_name(GST_BIN(pipeline.get()), "display"));
    CPropertyPage page(queue.get());
    EXPECT_EQ(page.windowTitle().toStdString(), "display");
    const struct {
        const char* name;
        const char* kind;  // nullptr: no editor
    } editors[] = {
        {"leaky", "QComboBox"},       {"silent", "QCheckBox"},  {"max-size-buffers", "QDoubleSpinBox"},
        {"max-size-time", "QDoubleSpinBox"}, {"name", nullptr}, {"current-level-buffers", nullptr},
    };
    for (const auto& e : editors) {
        SCOPED_TRACE(e.name);
        QWidget* editor = page.Editor(e.name);
        if (!e.kind) {
            EXPECT_EQ(editor, nullptr);
            continue;
        }
        ASSERT_NE(editor, nullptr);
        EXPECT_STREQ(editor->metaObject()->className(), e.kind);
    }

    qobject_cast<QDoubleSpinBox*>(page.Editor("max-size-buffers"))->setValue(7);
    qobject_cast<QComboBox*>(page.Editor("leaky"))->setCurrentIndex(2);
    qobject_cast<QCheckBox*>(page.Editor("silent"))->setChecked(true);
    guint buffers = 0;
    gint leaky = 0;
    gboolean silent = FALSE;
    g_object_get(queue.get(), "max-size-buffers", &buffers, "leaky", &leaky, "silent", &silent, nullptr);
    EXPECT_EQ(buffers, 7u);
    EXPECT_EQ(leaky, 2);
    EXPECT_TRUE(silent);
    EXPECT_TRUE(ElementsInPipelineOrder(nullptr).empty());
}

}  // namespace
}  // namespace quell
