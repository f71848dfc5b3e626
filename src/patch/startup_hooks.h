// Work a module kind needs once at program start, after the shared tables exist (the envelope's
// generated stage types, for example). A static ModuleStartupHook registers it.
#pragma once

class ModuleStartupHook {
 public:
  explicit ModuleStartupHook(void (*pfn)());
};

// Runs every registered hook once; later calls do nothing.
void RunModuleStartupHooks();
