// main() of the capture pipeline tests: GStreamer with the test suite's
// device provider and this build's effect element registered in-process, a
// Qt core application whose event loop runs the pipeline's bus watch, and
// the build's output folder as the current directory, where the effect
// finds its "data" folder as it does beside the program.
#include "filter/gstquellfx.h"
#include "support/TestDeviceProvider.h"

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    if (!GST_ELEMENT_REGISTER(quellfx, nullptr) || !quell::test::RegisterTestDeviceProvider())
        return 1;
    quell::test::HideOtherDeviceProviders();
    if (::chdir(QUELL_OUTPUT_DIR) != 0)
        return 1;
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
