// Fuzzes the xml configuration reader, then both writers on what it read.
#include <cstdio>

#include "foundation/akconfig.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* pData, size_t nSize) {
  FuzzInitStatusLog();
  FILE* pfile = FuzzOpen(pData, nSize);
  AKConfig_T* pconf = AKConfigReadStream("fuzz", pfile, AKConfigXml);
  fclose(pfile);
  FILE* pfileNull = fopen("/dev/null", "wb");
  AKConfigWriteStream(pconf, pfileNull, AKConfigText);
  AKConfigWriteStream(pconf, pfileNull, AKConfigXml);
  fclose(pfileNull);
  AKConfigFree(pconf);
  return 0;
}
