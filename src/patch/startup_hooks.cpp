// Start-up work of module kinds.
#include "patch/startup_hooks.h"

#include <vector>

namespace {
std::vector<void (*)()>& Hooks() {
  static std::vector<void (*)()> apfn;
  return apfn;
}
bool g_bRan = false;
}  // namespace

ModuleStartupHook::ModuleStartupHook(void (*pfn)()) { Hooks().push_back(pfn); }

void RunModuleStartupHooks() {
  if (g_bRan) return;
  g_bRan = true;
  for (auto pfn : Hooks()) pfn();
}
