// Test main: a status log that keeps tests quiet but lets failed internal checks end the test, and
// the support code's checks reported as test failures.
#include <gtest/gtest.h>

#include "foundation/akstatus.h"
#include "support_check.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // No log file; failed checks (Error) and fatal messages go to standard error and end the process,
  // which is what the death tests look for. Tests that watch warnings install callbacks.
  AKSInitializeSpec("", "E=V;F=V");
  // The support code's failed checks fail the running test.
  g_pfnSupportFail = [](const std::string& sMessage) { ADD_FAILURE() << sMessage; };
  return RUN_ALL_TESTS();
}
