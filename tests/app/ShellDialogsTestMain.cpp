// main() of the shell dialog tests: a private HOME and XDG_CONFIG_HOME, and
// Qt on the offscreen platform unless the caller chose another one.
#include "support/PrivateHome.h"

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    quell::test::CPrivateHome home("/tmp/quell-shell-dialogs-home-XXXXXX");
    if (!home.Ok())
        return 1;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
