// A tiny program for the status-log tests: initialise from the arguments, log, report how it went.
//
//   status_probe [--spec SPEC | --env | --config FILE] [--base BASE] [--hook] [--twice]
//                [--threads N] [--file SOURCE] [--echo] [--callback] SEVERITY-LETTER MESSAGE
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/akconfig.h"
#include "foundation/akstatus.h"

int main(int argc, char** argv) {
  const char* pszSpec = nullptr;
  const char* pszConfig = nullptr;
  bool bEnv = false, bHook = false, bTwice = false, bEcho = false, bCallback = false;
  std::string sBase;
  const char* pszFile = "probe.cpp";
  int nThreads = 0;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
    std::string s = argv[i];
    if (s == "--spec") pszSpec = argv[++i];
    else if (s == "--env") bEnv = true;
    else if (s == "--config") pszConfig = argv[++i];
    else if (s == "--base") sBase = argv[++i];
    else if (s == "--hook") bHook = true;
    else if (s == "--twice") bTwice = true;
    else if (s == "--threads") nThreads = atoi(argv[++i]);
    else if (s == "--file") pszFile = argv[++i];
    else if (s == "--echo") bEcho = true;
    else if (s == "--callback") bCallback = true;
  }
  if (i + 2 != argc) return 99;
  int iSeverity = 0;
  for (int s = 1; s < AKSNumSeverities; ++s)
    if (AKSSeverityLetter(s) == argv[i][0]) iSeverity = s;
  const char* pszMessage = argv[i + 1];

  for (int n = 0; n < (bTwice ? 2 : 1); ++n) {
    if (pszConfig) {
      // Read without logging: the log is not open yet.
      FILE* pfile = fopen(pszConfig, "rb");
      AKConfig_T* pconf = AKConfigReadStream(pszConfig, pfile, AKConfigText);
      fclose(pfile);
      AKSInitializeConfig(pconf);
    } else if (bEnv) {
      AKSInitialize(sBase.c_str());
    } else {
      AKSInitializeSpec(sBase.c_str(), pszSpec);
    }
  }
  // The user's echo of warnings and worse, as the command line prints it.
  if (bEcho)
    AKSSetEcho([](int iSev, const char* psz) { fprintf(stderr, "echo %c: %s\n", AKSSeverityLetter(iSev), psz); },
               1u << AKSWarn | 1u << AKSError | 1u << AKSFatal);
  if (bCallback)
    AKSSetCallback(iSeverity, [](int, const char*, int, const char* psz, const char*, void*) { printf("callback: %s\n", psz); },
                   nullptr);
  if (bHook) AKSSetExitHook([](void*) { printf("exit hook ran\n"); fflush(stdout); }, nullptr);
  if (nThreads > 0) {
    std::vector<std::thread> aThreads;
    for (int t = 0; t < nThreads; ++t)
      aThreads.emplace_back([=] {
        for (int k = 0; k < 500; ++k) AKS(iSeverity, pszFile, t, "thread %d message %d %s", t, k, pszMessage);
      });
    for (std::thread& th : aThreads) th.join();
  } else {
    AKS(iSeverity, pszFile, 12, "%s", pszMessage);
  }
  printf("returned\n");
  return 0;
}
