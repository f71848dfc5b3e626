// How the support code (the module harness) reports a failed check without depending on
// GoogleTest: the test main routes failures into the running test; elsewhere (benchmarks) a
// failure is printed to standard error and ends the program.
#pragma once

#include <string>

using SupportFailFn = void (*)(const std::string& sMessage);
extern SupportFailFn g_pfnSupportFail;  // null: print and abort

// Reports a failed check. Callers build the message only when the check fails, so that passing
// checks allocate nothing on paths the allocation tests watch.
void SupportFail(const std::string& sMessage);
