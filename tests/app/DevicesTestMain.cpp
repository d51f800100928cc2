// main() of the device test programs: GStreamer and a Qt application on the
// offscreen platform, so that dialogs can be made without a display.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    // Also when ctest lists the tests, which it does without the tests'
    // environment.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    gst_init(&argc, &argv);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
