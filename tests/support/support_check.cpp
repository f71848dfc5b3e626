// Failed checks of the support code, reported through the installed routine.
#include "support_check.h"

#include <cstdio>
#include <cstdlib>

SupportFailFn g_pfnSupportFail = nullptr;

void SupportFail(const std::string& sMessage) {
  if (g_pfnSupportFail) {
    g_pfnSupportFail(sMessage);
    return;
  }
  fprintf(stderr, "failed check: %s\n", sMessage.c_str());
  abort();
}
