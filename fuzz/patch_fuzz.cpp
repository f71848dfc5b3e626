// Fuzzes the patch compiler: any patch text is read and compiled (with a small package folder),
// and a patch that compiles plays a note for a few frames.
#include <cstdio>
#include <string>

#include "akconfig.h"
#include "appcore.h"
#include "errorlist.h"
#include "fuzz_common.h"
#include "patch.h"
#include "structural.h"

#ifndef FUZZ_INSTALL_DIR
#define FUZZ_INSTALL_DIR "."
#endif

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* pData, size_t nSize) {
  FuzzInitStatusLog();
  static AppCore* pcore = new AppCore(FUZZ_INSTALL_DIR);
  FILE* pfile = FuzzOpen(pData, nSize);
  AKConfig_T* pconf = AKConfigReadStream("fuzz.vantrel", pfile, AKConfigText);
  fclose(pfile);
  auto* pmodChannel = static_cast<ModChannel*>(pcore->Engine()->apmodChannel[0]);
  Patch* ppatch = new Patch(pcore->Engine(), pconf, pmodChannel);
  AKConfigFree(pconf);
  if (ppatch->bCompiled) {
    ppatch->NoteOn(60, 0.5);
    double adFrame[2];
    for (int i = 0; i < 64; ++i) {
      adFrame[0] = adFrame[1] = 0;
      ppatch->RenderFrame(adFrame, 2);
    }
    ppatch->NoteOff(60, 0.5);
    ppatch->RenderFrame(adFrame, 2);
  }
  delete ppatch;
  ErrorList::Get()->Clear();
  return 0;
}
