// Every test program runs inside the console's own application object, so that event loops,
// widgets and the error box behave as in the program. Widgets use the offscreen platform.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ConsoleApplication.h"
#include "ErrorBox.h"
#include "FirebirdSession.h"

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    velkor::prepareFirebirdEnvironment();
    velkor::ConsoleApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    velkor::shutDownFirebirdEngine();
    return failed;
}
