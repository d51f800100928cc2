// main() of the capture program's window tests: a private profile folder (so
// the user's high score is never touched), the offscreen Qt platform,
// GStreamer with the test suite's devices only and this build's effect
// element registered in-process (the plugin scanner could not load a
// sanitizer build of the plugin file).
#include "filter/gstquellfx.h"
#include "support/TestDeviceProvider.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir profile;
    qputenv("XDG_CONFIG_HOME", profile.path().toUtf8());
    gst_init(&argc, &argv);
    if (!GST_ELEMENT_REGISTER(quellfx, nullptr))
        return 1;
    quell::test::RegisterTestDeviceProvider();
    quell::test::HideOtherDeviceProviders();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
