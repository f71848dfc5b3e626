// The status log: formatting of log lines, per-severity actions, log files and the exit path.
#include "foundation/akstatus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/akconfig.h"
#include "foundation/akstring.h"

namespace {

constexpr const char* kLetters = "TSRWEF0123456789";
constexpr const char* kNames[AKSNumSeverities] = {
    "None",  "Trace", "Status", "Report", "Warn",  "Error", "Fatal", "User0", "User1",
    "User2", "User3", "User4",  "User5",  "User6", "User7", "User8", "User9"};
constexpr int kLineChars = 10049;  // usable characters of one formatted line
constexpr int kBaseChars = 257;    // the expanded base name, terminator included

struct State {
  char szBase[kBaseChars];
  char szFile[256];
  int fdLog = -1;
  unsigned aFlags[AKSNumSeverities];
  AKSCallback_T apfnCallback[AKSNumSeverities];
  void* apvUser[AKSNumSeverities];
  AKSExitHook_T pfnExitHook;
  void* pvExitArg;
  AKSEcho_T pfnEcho;
  unsigned bitsEcho;
  bool bNormalExit;
  bool bInitialized;
  bool bAtExitRegistered;
};
State g;

// Serialises the writes of whole lines, so that lines from several threads never interleave.
// Recursive because the exit path logs its closing message while a line may be in progress.
std::recursive_mutex& WriteLock() {
  static std::recursive_mutex m;
  return m;
}

// Per-thread formatting: the line buffer and the cached time prefix, so formatting needs no lock.
struct LineBuffer {
  char sz[kLineChars + 1];
  char szMessage[kLineChars + 1];
  long iSecondCached = -1;
  int nPrefix = 0;
};
thread_local LineBuffer t_line;

void WriteAll(int fd, const char* psz, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, psz, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;  // write errors to the log are ignored
    }
    psz += w;
    n -= static_cast<size_t>(w);
  }
}

void WriteStderr(const char* psz) { WriteAll(2, psz, strlen(psz)); }

// The calendar second of the first call, advanced by the monotonic millisecond counter.
void TimeOfDay(long* piSec, long* piMicro) {
  using namespace std::chrono;
  static const time_t tStart = time(nullptr);
  static const steady_clock::time_point tpStart = steady_clock::now();
  long long ms = duration_cast<milliseconds>(steady_clock::now() - tpStart).count();
  *piSec = static_cast<long>(tStart + ms / 1000);
  *piMicro = static_cast<long>((ms % 1000) * 1000);
}

// Absolute names are cut to their last component: "C:\dir\x.cpp" and "/dir/x.cpp" give "x.cpp".
const char* ShortFile(const char* pszFile) {
  if (!pszFile) return "";
  bool bDrive = pszFile[0] && pszFile[1] == ':' && pszFile[2] == '\\';
  char chSep = bDrive ? '\\' : '/';
  if (!bDrive && pszFile[0] != '/') return pszFile;
  const char* pszStart = bDrive ? pszFile + 3 : pszFile;
  const char* pszLast = pszStart;
  for (const char* p = pszStart; *p && (!bDrive || *p != ':'); ++p)
    if (*p == chSep) pszLast = p + 1;
  return pszLast;
}

void CloseLog(bool bReportFailure) {
  if (g.fdLog < 0) return;
  int fd = g.fdLog;
  g.fdLog = -1;
  if (close(fd) == -1 && bReportFailure) {
    char sz[400];
    snprintf(sz, sizeof sz, "close( %s ) == -1: %s\n", g.szBase, strerror(errno));
    WriteStderr(sz);
    AKSDie(strerror(errno));
  }
}

void CloseAtExit() {
  if (g.fdLog < 0) return;
  g.aFlags[AKSStatus] &= ~(AKSActExit | AKSActAbort);
  AKS(AKSStatus, AK_HERE, "%s",
      g.bNormalExit ? "closing log upon normal exit" : "closing log because of AKS() exit");
  std::lock_guard<std::recursive_mutex> lock(WriteLock());
  CloseLog(true);
}

void OpenLog() {
  g.fdLog = -1;
  g.szFile[0] = 0;
  if (!g.szBase[0]) return;
  char szExpanded[200];
  if (AKExpand(szExpanded, g.szBase, sizeof szExpanded)) AKSDie("AKS(): Log Name expanded to over 200 characters!");
  time_t t = time(nullptr);
  struct tm tmNow;
  localtime_r(&t, &tmNow);
  snprintf(g.szFile, 250, "%s-%04d%02d%02d-%02d%02d%02d-%05d.log", szExpanded, tmNow.tm_year + 1900,
           tmNow.tm_mon + 1, tmNow.tm_mday, tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec, static_cast<int>(getpid()));
  g.fdLog = open(g.szFile, O_WRONLY | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
  if (g.fdLog < 0) {
    char sz[600];
    snprintf(sz, sizeof sz, "open( %s, O_WRONLY|O_CREAT|O_EXCL, _S_IREAD|_S_IWRITE ) = %s\n", g.szFile,
             strerror(errno));
    WriteStderr(sz);
    AKSDie("aborting");
  }
}

const char* Preset(const char* pszSpec) {
  if (!pszSpec || AKstricmp(pszSpec, "debugging") == 0) return "T=SLV;S=SLV;R=SLV;W=SLV;E=SLAV;F=SLAV";
  if (AKstricmp(pszSpec, "production") == 0) return "S=LV;R=LV;W=LV;E=LAV;F=LEV";
  if (AKstricmp(pszSpec, "utility") == 0) return "R=S;W=S;E=SA;F=SE";
  return pszSpec;
}

unsigned ActionBit(char ch) {
  switch (ch) {
    case 'S': return AKSActStdout;
    case 'L': return AKSActLog;
    case 'E': return AKSActExit;
    case 'A': return AKSActAbort;
    case 'V': return AKSActDebug;
    default: return 0;
  }
}

}  // namespace

char AKSSeverityLetter(int iSeverity) {
  return iSeverity >= 1 && iSeverity < AKSNumSeverities ? kLetters[iSeverity - 1] : ' ';
}

const char* AKSSeverityName(int iSeverity) {
  return iSeverity >= 0 && iSeverity < AKSNumSeverities ? kNames[iSeverity] : "None";
}

const char* AKSParseSpec(const char* pszSpec, unsigned aFlags[AKSNumSeverities]) {
  static char szMessage[80];
  for (int i = 0; i < AKSNumSeverities; ++i) aFlags[i] = 0;
  for (const char* p = pszSpec ? pszSpec : ""; *p;) {
    if (*p == ';') {
      ++p;
      continue;
    }
    const char* pszLetter = strchr(kLetters, *p);
    if (!pszLetter) {
      snprintf(szMessage, sizeof szMessage, "AKSInitialize: unknown severity code '%c'", *p);
      return szMessage;
    }
    int iSeverity = static_cast<int>(pszLetter - kLetters) + 1;
    char chSeverity = *p++;
    if (*p != '=') {
      snprintf(szMessage, sizeof szMessage, "$%s: severity code '%c' not followed by =", "KSStatus", chSeverity);
      return szMessage;
    }
    for (++p; *p && *p != ';'; ++p) {
      unsigned bit = ActionBit(*p);
      if (!bit) {
        snprintf(szMessage, sizeof szMessage, "$%s: severity '%c' has unknown action code '%c'", "KSStatus",
                 chSeverity, *p);
        return szMessage;
      }
      aFlags[iSeverity] |= bit;
    }
  }
  return nullptr;
}

void AKSInitialize(const char* pszLogBase) { AKSInitializeSpec(pszLogBase, getenv("KSStatus")); }

void AKSInitializeSpec(const char* pszLogBase, const char* pszSpec) {
  unsigned aFlags[AKSNumSeverities];
  if (const char* pszFault = AKSParseSpec(Preset(pszSpec), aFlags)) AKSDie(pszFault);
  AKSInitializeFlags(pszLogBase, aFlags);
}

void AKSInitializeFlags(const char* pszLogBase, const unsigned aFlags[AKSNumSeverities]) {
  std::lock_guard<std::recursive_mutex> lock(WriteLock());
  if (g.bInitialized) AKSDie("AKSInitialize() seems to be called twice!  Aborting.");
  bool bAtExit = g.bAtExitRegistered;
  g = State();
  g.bAtExitRegistered = bAtExit;
  AKExpand(g.szBase, pszLogBase ? pszLogBase : "", sizeof g.szBase);
  for (int i = 0; i < AKSNumSeverities; ++i) g.aFlags[i] = aFlags[i];
  g.bNormalExit = true;
  if (!g.bAtExitRegistered) {
    if (atexit(CloseAtExit) != 0)
      AKSDie("insufficient memory available to add Kestrelon Status module's atexit() function");
    g.bAtExitRegistered = true;
  }
  OpenLog();
  t_line.iSecondCached = -1;
  g.bInitialized = true;
}

void AKSInitializeConfig(AKConfig_T* pconf) {
  unsigned aFlags[AKSNumSeverities] = {};
  for (int iSeverity = AKSTrace; iSeverity < AKSNumSeverities; ++iSeverity) {
    const char* pszList = AKConfigGetDef(pconf, kNames[iSeverity], "log");
    const char* p = pszList;
    while (*p) {
      while (*p == ' ' || *p == '\t' || *p == '\n') ++p;
      if (!*p) break;
      const char* pszWord = p;
      while (*p && *p != ' ' && *p != '\t' && *p != '\n') ++p;
      size_t n = static_cast<size_t>(p - pszWord);
      auto is = [&](const char* pszWant) { return strlen(pszWant) == n && AKstrnicmp(pszWord, pszWant, n) == 0; };
      if (n == 6 && strncmp(pszWord, "stdout", 6) == 0) aFlags[iSeverity] |= AKSActStdout;
      else if (is("log")) aFlags[iSeverity] |= AKSActLog;
      else if (is("exit")) aFlags[iSeverity] |= AKSActExit;
      else if (is("abort")) aFlags[iSeverity] |= AKSActAbort;
      else if (is("visualc")) aFlags[iSeverity] |= AKSActDebug;
      else {
        char sz[600];
        snprintf(sz, sizeof sz,
                 "severity code \"%s\": expecting space-seperated list of log, exit, abort, visualc; found \"%s\"",
                 kNames[iSeverity], pszWord);
        AKSDie(sz);
      }
    }
  }
  AKSInitializeFlags(AKConfigGetDef(pconf, "LogFile", "ksapp"), aFlags);
}

void AKSSetCallback(int iSeverity, AKSCallback_T pfnCallback, void* pvUser) {
  if (iSeverity < 0 || iSeverity >= AKSNumSeverities) return;
  std::lock_guard<std::recursive_mutex> lock(WriteLock());
  g.apfnCallback[iSeverity] = pfnCallback;
  g.apvUser[iSeverity] = pvUser;
}

AKSCallback_T AKSGetCallback(int iSeverity, void** ppvUser) {
  if (iSeverity < 0 || iSeverity >= AKSNumSeverities) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(WriteLock());
  if (ppvUser) *ppvUser = g.apvUser[iSeverity];
  return g.apfnCallback[iSeverity];
}

void AKSSetCallbackAll(AKSCallback_T pfnCallback, void* pvUser) {
  for (int i = 0; i < AKSNumSeverities; ++i) AKSSetCallback(i, pfnCallback, pvUser);
}

void AKSSetExitHook(AKSExitHook_T pfnHook, void* pvArg) {
  g.pfnExitHook = pfnHook;
  g.pvExitArg = pvArg;
}

void AKSSetEcho(AKSEcho_T pfnEcho, unsigned bitsSeverities) {
  std::lock_guard<std::recursive_mutex> lock(WriteLock());
  g.pfnEcho = pfnEcho;
  g.bitsEcho = bitsSeverities;
}

bool AKSOpenLogFile(const char* pszPath) {
  int fd = open(pszPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
  if (fd < 0) return false;
  std::lock_guard<std::recursive_mutex> lock(WriteLock());
  if (g.fdLog >= 0) close(g.fdLog);
  g.fdLog = fd;
  snprintf(g.szFile, sizeof g.szFile, "%s", pszPath);
  return true;
}

int AKSRotateLogs(const char* pszLogBase, int nKeep) {
  namespace fs = std::filesystem;
  char szExpanded[200];
  if (!pszLogBase || !*pszLogBase || AKExpand(szExpanded, pszLogBase, sizeof szExpanded)) return 0;
  fs::path base = szExpanded;
  fs::path dir = base.has_parent_path() ? base.parent_path() : fs::path(".");
  std::string sPrefix = base.filename().string() + "-";
  // Only names this module makes: the prefix, then "YYYYMMDD-HHMMSS-" and a process number.
  auto isOurs = [&](const std::string& s) {
    const std::string sPattern = "dddddddd-dddddd-";
    if (s.size() < sPrefix.size() + sPattern.size() + 5 || s.compare(0, sPrefix.size(), sPrefix) != 0 ||
        s.compare(s.size() - 4, 4, ".log") != 0)
      return false;
    for (size_t i = 0; i < sPattern.size(); ++i) {
      char ch = s[sPrefix.size() + i];
      if (sPattern[i] == 'd' ? !(ch >= '0' && ch <= '9') : ch != sPattern[i]) return false;
    }
    for (size_t i = sPrefix.size() + sPattern.size(); i < s.size() - 4; ++i)
      if (!(s[i] >= '0' && s[i] <= '9')) return false;
    return true;
  };
  std::vector<std::string> asName;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (isOurs(it->path().filename().string()) && it->is_regular_file(ec)) asName.push_back(it->path().filename().string());
  if (static_cast<int>(asName.size()) <= nKeep) return 0;
  // The time in the name sorts as text; the process number, of varying width, only breaks ties.
  std::sort(asName.begin(), asName.end(), [&](const std::string& a, const std::string& b) {
    int i = a.compare(0, sPrefix.size() + 15, b, 0, sPrefix.size() + 15);
    return i != 0 ? i > 0 : a.size() != b.size() ? a.size() > b.size() : a > b;
  });
  int nDeleted = 0;
  for (size_t i = static_cast<size_t>(std::max(nKeep, 0)); i < asName.size(); ++i)
    if (fs::remove(dir / asName[i], ec)) ++nDeleted;
  return nDeleted;
}

void AKSSetActions(int iSeverity, unsigned bitsActions) {
  if (iSeverity > 0 && iSeverity < AKSNumSeverities) g.aFlags[iSeverity] = bitsActions;
}

unsigned AKSGetActions(int iSeverity) {
  return iSeverity > 0 && iSeverity < AKSNumSeverities ? g.aFlags[iSeverity] : 0;
}

bool AKSIsInitialized() { return g.bInitialized; }

const char* AKSLogFileName() { return g.fdLog >= 0 ? g.szFile : ""; }

int AKS(int iSeverity, const char* pszFile, int iLine, const char* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  int i = AKSV(iSeverity, pszFile, iLine, pszFormat, args);
  va_end(args);
  return i;
}

int AKSV(int iSeverity, const char* pszFile, int iLine, const char* pszFormat, va_list args) {
  if (iSeverity <= AKSNone || iSeverity >= AKSNumSeverities) return 0;
  if (!g.bInitialized) AKSInitialize("ksapp");
  unsigned bits = g.aFlags[iSeverity];
  AKSCallback_T pfnCallback = g.apfnCallback[iSeverity];
  void* pvUser = g.apvUser[iSeverity];
  // A callback takes the messages over (for example into the patch author's error list), so the
  // user is not told twice.
  AKSEcho_T pfnEcho = !pfnCallback && (g.bitsEcho >> iSeverity & 1u) ? g.pfnEcho : nullptr;
  if (!bits && !pfnCallback && !pfnEcho) return 0;

  LineBuffer& lb = t_line;
  long iSec, iMicro;
  TimeOfDay(&iSec, &iMicro);
  if (iSec != lb.iSecondCached) {
    time_t t = iSec;
    struct tm tmNow;
    localtime_r(&t, &tmNow);
    lb.nPrefix = snprintf(lb.sz, sizeof lb.sz, "? %02d.%02d %02d:%02d:%02d", tmNow.tm_mon + 1, tmNow.tm_mday,
                          tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec);
    lb.iSecondCached = iSec;
  }
  lb.sz[0] = AKSSeverityLetter(iSeverity);
  vsnprintf(lb.szMessage, sizeof lb.szMessage, pszFormat ? pszFormat : "", args);
  // Each part is cut to what is left of the line; a longer message is cut.
  int n = lb.nPrefix;
  auto append = [&](int w) { n += w < 0 ? 0 : std::min(w, kLineChars - n); };
  append(snprintf(lb.sz + n, static_cast<size_t>(kLineChars + 1 - n), ".%06ld %s:%d - ", iMicro,
                  ShortFile(pszFile), iLine));
  append(snprintf(lb.sz + n, static_cast<size_t>(kLineChars + 1 - n), "%s\n", lb.szMessage));

  {
    std::lock_guard<std::recursive_mutex> lock(WriteLock());
    if (bits & AKSActStdout) {
      fflush(stdout);
      WriteAll(1, lb.sz, static_cast<size_t>(n));
    }
    if ((bits & AKSActLog) && g.fdLog >= 0) WriteAll(g.fdLog, lb.sz, static_cast<size_t>(n));
  }
  if (pfnCallback) pfnCallback(iSeverity, pszFile, iLine, lb.szMessage, lb.sz, pvUser);
  {
    std::lock_guard<std::recursive_mutex> lock(WriteLock());
    if (bits & AKSActDebug) WriteAll(2, lb.sz, static_cast<size_t>(n));
  }
  if (pfnEcho) pfnEcho(iSeverity, lb.szMessage);
  if (bits & AKSActExit) {
    if (g.pfnExitHook) g.pfnExitHook(g.pvExitArg);
    g.bNormalExit = false;
    exit(1);
  }
  if (bits & AKSActAbort) {
    WriteStderr("\nAKS() is aborting.\n\n");
    CloseLog(false);
    fflush(stderr);
    fflush(stdout);
    abort();
  }
  if (iSeverity == AKSError || iSeverity == AKSFatal) exit(1);
  return 0;
}

void AKSDie(const char* pszMessage) {
  WriteStderr("\n\n");
  WriteStderr(pszMessage ? pszMessage : "");
  WriteStderr("\n\n");
  if (g.fdLog >= 0) {
    int fd = g.fdLog;
    g.fdLog = -1;
    if (close(fd) == -1) {
      WriteStderr("cannot close the error log:");
      WriteStderr(strerror(errno));
    }
  }
  fflush(stderr);
  fflush(stdout);
  _exit(1);
}
