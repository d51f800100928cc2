// Test program start: a private HOME and XDG_CONFIG_HOME, so no test
// reaches the user's own configuration or profile.
#include "support/PrivateHome.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    quell::test::CPrivateHome home("/tmp/quell-app-base-home-XXXXXX");
    if (!home.Ok())
        return 1;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
