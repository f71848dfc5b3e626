// Test main: a status log that keeps tests quiet but lets failed internal checks end the test.
#include <gtest/gtest.h>

#include "akstatus.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // No log file; failed checks (Error) and fatal messages go to standard error and end the process,
  // which is what the death tests look for. Tests that watch warnings install callbacks.
  AKSInitializeSpec("", "E=V;F=V");
  return RUN_ALL_TESTS();
}
