#include "TestSupport.h"

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    ::testing::AddGlobalTestEnvironment (new kelvor::test::IsolatedHome());
    return RUN_ALL_TESTS();
}
