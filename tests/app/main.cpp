// Test main of the window tests, in the program's Qt set-up.
#include <gtest/gtest.h>

#include "AppTestSupport.h"

int main(int argc, char** argv) {
  return apptest::RunInProgramSetup(argc, argv, [&] {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
  });
}
