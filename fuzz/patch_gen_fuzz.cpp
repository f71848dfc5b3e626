// Fuzzes the patch compiler with patches built by the structure-aware generator: the input
// bytes are its choices. The sub-patches and packages a patch names are written into a private
// installation folder first. With FUZZ_GEN_OUT=FOLDER set, each input's patch and files are
// also written there, so that a finding can be kept as a plain patch:
//   FUZZ_GEN_OUT=/tmp/found build-fuzz/fuzz/fuzz_patch_gen crash-...
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/appcore.h"
#include "foundation/akconfig.h"
#include "fuzz_common.h"
#include "patch_play.h"
#include "patchgen.h"

#ifndef FUZZ_SOURCE_DIR
#define FUZZ_SOURCE_DIR "."
#endif

namespace fs = std::filesystem;

namespace {

// A fresh installation folder with the engine settings and the fuzzers' packages.
std::string MakeInstall() {
  char szDir[] = "/tmp/vantrel-fuzz-gen-XXXXXX";
  if (!mkdtemp(szDir)) abort();
  fs::path dir(szDir), src(FUZZ_SOURCE_DIR);
  fs::create_directories(dir / "config");
  fs::create_directories(dir / "patch" / "gen");
  fs::copy(src / "installation" / "config" / "Interpreter.vantrel", dir / "config");
  fs::copy(src / "fuzz" / "packages", dir / "package");
  return dir.string();
}

void WriteFile(const fs::path& path, const std::string& sText) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << sText;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* pData, size_t nSize) {
  FuzzInitStatusLog();
  static const std::string sInstall = MakeInstall();
  static AppCore* pcore = new AppCore(sInstall);
  GeneratedPatch gen = GeneratePatch(pData, nSize);
  for (const GeneratedFile& file : gen.afile) WriteFile(fs::path(sInstall) / file.sPath, file.sText);
  if (const char* pszOut = getenv("FUZZ_GEN_OUT")) {
    WriteFile(fs::path(pszOut) / "patch.vantrel", gen.sText);
    for (const GeneratedFile& file : gen.afile) WriteFile(fs::path(pszOut) / file.sPath, file.sText);
  }
  FILE* pfile = fmemopen(gen.sText.data(), gen.sText.size(), "rb");
  AKConfig_T* pconf = AKConfigReadStream("gen.vantrel", pfile, AKConfigText);
  fclose(pfile);
  FuzzLimitVoices(pconf);
  FuzzCompileAndPlay(pcore, pconf);
  AKConfigFree(pconf);
  // The next input must not find this one's packages.
  for (const GeneratedFile& file : gen.afile) fs::remove(fs::path(sInstall) / file.sPath);
  return 0;
}
