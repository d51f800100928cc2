// main() of the recording fault tests: a private home (the window's high
// score and autostart never reach the user's), the offscreen Qt platform,
// GStreamer with the test suite's devices only and this build's effect
// element registered in-process, and the build's output folder as the
// current directory, where the effect finds its "data" folder.
#include "filter/gstquellfx.h"
#include "support/PrivateHome.h"
#include "support/TestDeviceProvider.h"

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    quell::test::CPrivateHome home("/tmp/quell-faults-home-XXXXXX");
    if (!home.Ok())
        return 1;
    gst_init(&argc, &argv);
    if (!GST_ELEMENT_REGISTER(quellfx, nullptr) || !quell::test::RegisterTestDeviceProvider())
        return 1;
    quell::test::HideOtherDeviceProviders();
    if (::chdir(QUELL_OUTPUT_DIR) != 0)
        return 1;
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
