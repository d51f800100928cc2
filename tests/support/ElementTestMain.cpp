// main() of the element test programs: the element under test is this
// build's, registered in-process before the tests run.
#include "filter/gstquellfx.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    if (!GST_ELEMENT_REGISTER(quellfx, nullptr))
        return 1;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
