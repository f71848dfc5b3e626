// Fuzzes the patch compiler: any patch text is read and compiled (with a small package folder),
// and a patch that compiles plays a short note.
#include <cstdio>

#include "app/appcore.h"
#include "foundation/akconfig.h"
#include "fuzz_common.h"
#include "patch_play.h"

#ifndef FUZZ_INSTALL_DIR
#define FUZZ_INSTALL_DIR "."
#endif

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* pData, size_t nSize) {
  FuzzInitStatusLog();
  static AppCore* pcore = new AppCore(FUZZ_INSTALL_DIR);
  FILE* pfile = FuzzOpen(pData, nSize);
  AKConfig_T* pconf = AKConfigReadStream("fuzz.vantrel", pfile, AKConfigText);
  fclose(pfile);
  FuzzLimitVoices(pconf);
  FuzzCompileAndPlay(pcore, pconf);
  AKConfigFree(pconf);
  return 0;
}
