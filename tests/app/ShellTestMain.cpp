// main() of the capture program's window tests: a private profile folder (so
// the user's high score is never touched), the offscreen Qt platform,
// GStreamer with the test suite's devices only.
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
    quell::test::RegisterTestDeviceProvider();
    quell::test::HideOtherDeviceProviders();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
