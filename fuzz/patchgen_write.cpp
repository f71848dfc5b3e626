// Writes a fixed set of generated patches into an installation folder, patch number i made from
// bytes that depend on i alone, keeping only those that compile and sound: the fuzz patches of
// the renderer's differential test.
//   fuzz_patchgen_write OUT_INSTALL COUNT
// OUT_INSTALL gets config/ (the shipped engine settings), package/ (the fuzzers' packages and
// the generated ones), patch/gNNN.vantrel and the sub-patches under patch/gen/.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "app/appcore.h"
#include "foundation/akstatus.h"
#include "patch/patch.h"
#include "patchgen.h"

#ifndef FUZZ_SOURCE_DIR
#define FUZZ_SOURCE_DIR "."
#endif

namespace fs = std::filesystem;

namespace {

// splitmix64: the choices of patch i are the same on every machine and compiler.
uint64_t Mix(uint64_t* pu) {
  uint64_t z = (*pu += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// 128 to 427 bytes: enough that the choices mostly last to the voice's output, which the
// generator writes last (past the end of the bytes every choice is the first: PreGain = 0).
// About one patch in sixty then compiles and sounds.
std::string ChoiceBytes(int iPatch) {
  uint64_t u = static_cast<uint64_t>(iPatch) * 7919 + 1;
  size_t n = 128 + Mix(&u) % 300;
  std::string s;
  while (s.size() < n) s += static_cast<char>(Mix(&u) & 0xFF);
  return s;
}

// Every generated patch names its packages GenA, GenB ... and its sub-patches gen/sub0.vantrel
// ...: made distinct per patch, so that all of them share one installation. The sub-patches
// become gen/TAG_sub0.sub, which the regression runner does not play as patches of their own.
std::string Distinct(std::string s, const std::string& sTag) {
  for (size_t i = 0; (i = s.find("Gen", i)) != std::string::npos; i += 3)
    if (i + 3 < s.size() && s[i + 3] >= 'A' && s[i + 3] <= 'Z') s.insert(i + 3, sTag), i += sTag.size();
  for (size_t i = 0; (i = s.find("gen/sub", i)) != std::string::npos; i += 7) {
    s.insert(i + 4, sTag + "_");
    size_t iDot = s.find(".vantrel", i);
    if (iDot != std::string::npos) s.replace(iDot, 8, ".sub");
  }
  return s;
}

// Compiles the patch and plays a note of it in a child process, since a few generated patches
// still end the program (a fatal compiler check); only those that compile and sound are kept.
bool CompilesAndPlays(AppCore& core, const fs::path& pathPatch) {
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    Patch* ppatch = core.CompilePatchFile(pathPatch.c_str(), 0);
    if (!ppatch || !ppatch->bCompiled) _exit(1);
    ppatch->NoteOn(60, 0.5);
    bool bSound = false;
    for (int i = 0; i < 1024; ++i) {
      double adFrame[2] = {0, 0};
      ppatch->RenderFrame(adFrame, 2);
      bSound = bSound || adFrame[0] != 0;
    }
    _exit(bSound ? 0 : 1);
  }
  int iStatus = 0;
  return pid > 0 && waitpid(pid, &iStatus, 0) == pid && WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0;
}

// NOW() is the calendar time: such a patch sounds different at every run.
bool ReadsTheClock(const GeneratedPatch& gen) {
  if (gen.sText.find("NOW(") != std::string::npos) return true;
  for (const GeneratedFile& file : gen.afile)
    if (file.sText.find("NOW(") != std::string::npos) return true;
  return false;
}

void WriteFile(const fs::path& path, const std::string& sText) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << sText;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: fuzz_patchgen_write OUT_INSTALL COUNT\n");
    return 2;
  }
  AKSInitializeSpec("", "E=V;F=V");  // what a generated patch provokes is no news here
  fs::path dir(argv[1]), src(FUZZ_SOURCE_DIR);
  int nWanted = atoi(argv[2]);
  fs::create_directories(dir / "config");
  fs::copy(src / "installation/config/Interpreter.vantrel", dir / "config", fs::copy_options::overwrite_existing);
  fs::create_directories(dir / "package");
  fs::copy(src / "fuzz/packages", dir / "package", fs::copy_options::overwrite_existing);
  AppCore core(dir.string());
  int nKept = 0, iPatch = 0;
  for (; nKept < nWanted && iPatch < 200 * nWanted; ++iPatch) {
    std::string sBytes = ChoiceBytes(iPatch);
    GeneratedPatch gen = GeneratePatch(reinterpret_cast<const uint8_t*>(sBytes.data()), sBytes.size());
    if (ReadsTheClock(gen)) continue;
    // Two letters per patch: packages are found by their section's name, which takes no digits.
    std::string sTag = {static_cast<char>('A' + nKept / 26 % 26), static_cast<char>('A' + nKept % 26)};
    char szName[32];
    snprintf(szName, sizeof szName, "g%03d.vantrel", nKept);
    fs::path pathPatch = dir / "patch" / szName;
    std::vector<fs::path> apathWritten = {pathPatch};
    WriteFile(pathPatch, Distinct(gen.sText, sTag));
    for (const GeneratedFile& file : gen.afile) {
      apathWritten.push_back(dir / Distinct(file.sPath, sTag));
      WriteFile(apathWritten.back(), file.sText);
    }
    if (CompilesAndPlays(core, pathPatch)) ++nKept;
    else for (const fs::path& path : apathWritten) fs::remove(path);
  }
  printf("%d patches kept of %d generated\n", nKept, iPatch);
  return nKept == nWanted ? 0 : 1;
}
