// Text routines, expansion of environment variables and the home directory, AKsystem, AKDblCompare.
#include "foundation/akstring.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/akstatus.h"

int AKstrcmp(const char* pszA, const char* pszB) { return strcmp(pszA ? pszA : "", pszB ? pszB : ""); }

namespace {
// Lower case of every byte, as the C locale has it; looked up instead of calling tolower per
// character, since the formula parser compares names constantly. Built at compile time: module
// types use it while the program's static objects are made.
struct LowerTable {
  unsigned char a[256] = {};
  constexpr LowerTable() {
    for (int i = 0; i < 256; ++i) a[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i + 32 : i);
  }
};
constexpr LowerTable g_lower;
}  // namespace

int AKstrnicmp(const char* pszA, const char* pszB, size_t n) {
  const unsigned char* a = reinterpret_cast<const unsigned char*>(pszA ? pszA : "");
  const unsigned char* b = reinterpret_cast<const unsigned char*>(pszB ? pszB : "");
  for (size_t i = 0; i < n; ++i) {
    int ca = g_lower.a[a[i]], cb = g_lower.a[b[i]];
    if (ca != cb) return ca < cb ? -1 : 1;
    if (!ca) return 0;
  }
  return 0;
}

int AKstricmp(const char* pszA, const char* pszB) { return AKstrnicmp(pszA, pszB, static_cast<size_t>(-1)); }

std::string AKLowerCase(const char* psz) {
  std::string s;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(psz ? psz : ""); *p; ++p)
    s.push_back(static_cast<char>(g_lower.a[*p]));
  return s;
}

bool AKstrcpy(char* pszDest, const char* pszSource, size_t nSize) {
  if (nSize == 0) {
    AKS(AKSError, AK_HERE, "%s", "sDest != 0");
    return true;
  }
  if (!pszDest) {
    AKS(AKSWarn, AK_HERE, "%s", "pszDest is NULL");
    return false;
  }
  const char* psz = pszSource ? pszSource : "";
  size_t n = strlen(psz);
  bool bCut = n > nSize - 1;
  if (bCut) n = nSize - 1;
  memcpy(pszDest, psz, n);
  pszDest[n] = 0;
  return bCut;
}

int AKsnprintf(char* pszDest, size_t nSize, const char* pszFormat, ...) {
  if (!pszDest || nSize == 0) return 0;
  va_list args;
  va_start(args, pszFormat);
  int n = vsnprintf(pszDest, nSize, pszFormat, args);
  va_end(args);
  pszDest[nSize - 1] = 0;
  return n;
}

namespace {

// The length of the UTF-8 character at p (n bytes available), or 0 when the bytes there do not
// form a well-formed one or form a C1 control.
size_t Utf8Length(const unsigned char* p, size_t n) {
  size_t nLength = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : 2;
  if (p[0] < 0xC2 || p[0] > 0xF4 || nLength > n) return 0;
  for (size_t i = 1; i < nLength; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  if (p[0] == 0xC2 && p[1] < 0xA0) return 0;   // C1 controls
  if (p[0] == 0xE0 && p[1] < 0xA0) return 0;   // overlong
  if (p[0] == 0xED && p[1] >= 0xA0) return 0;  // surrogates
  if (p[0] == 0xF0 && p[1] < 0x90) return 0;   // overlong
  if (p[0] == 0xF4 && p[1] >= 0x90) return 0;  // beyond U+10FFFF
  return nLength;
}

}  // namespace

bool AKEscapeBinary(char* pszDest, size_t nSize, const char* pszSource, size_t nSource) {
  if (!pszDest || nSize == 0) return false;
  if (!pszSource) nSource = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(pszSource ? pszSource : "");
  size_t iOut = 0;
  for (size_t i = 0; i < nSource;) {
    size_t nKeep = 0;
    if (p[i] >= 0x20 && p[i] < 0x7F) nKeep = 1;
    else if (p[i] == '\t') nKeep = 1;
    else if (p[i] >= 0x80) nKeep = Utf8Length(p + i, nSource - i);
    size_t nOut = nKeep ? nKeep : 4;
    if (iOut + nOut >= nSize) {
      pszDest[iOut] = 0;
      return true;
    }
    if (nKeep) memcpy(pszDest + iOut, p + i, nKeep);
    else snprintf(pszDest + iOut, 5, "\\x%02x", p[i]);
    iOut += nOut;
    i += nKeep ? nKeep : 1;
  }
  pszDest[iOut] = 0;
  return false;
}

char* AKstrdup(const char* psz) { return psz ? strdup(psz) : nullptr; }

namespace {

constexpr int kMaxName = 199;  // environment and user names are cut to this many characters

bool IsNameChar(char ch) { return isalnum(static_cast<unsigned char>(ch)) || ch == '_'; }

// Reads a name starting at psz into szName (cut with a warning); answers the first byte after it.
const char* ReadName(const char* psz, char szName[kMaxName + 1]) {
  int n = 0;
  while (IsNameChar(psz[n]) && n < kMaxName) {
    szName[n] = psz[n];
    ++n;
  }
  szName[n] = 0;
  const char* pszEnd = psz + n;
  if (IsNameChar(*pszEnd)) {
    AKS(AKSWarn, AK_HERE, "name truncated to \"%s\" - max len of %d", szName, kMaxName + 1);
    while (IsNameChar(*pszEnd)) ++pszEnd;
  }
  return pszEnd;
}

struct Writer {
  char* pszDest;
  size_t nSize;
  size_t n = 0;
  bool bCut = false;
  void Put(const char* psz, size_t nLength) {
    for (size_t i = 0; i < nLength; ++i) {
      if (n + 1 < nSize) pszDest[n++] = psz[i];
      else bCut = true;
    }
  }
  void Put(const char* psz) { Put(psz, strlen(psz)); }
};

}  // namespace

bool AKExpand(char* pszDest, const char* pszSource, size_t nSize) {
  if (!pszDest || nSize == 0) return true;
  Writer w{pszDest, nSize};
  const char* p = pszSource ? pszSource : "";
  char szName[kMaxName + 1];
  while (*p) {
    bool bTildeAllowed = p == pszSource || p[-1] == ' ' || p[-1] == ':';
    if (*p == '$') {
      p = ReadName(p + 1, szName);
      const char* pszValue = szName[0] ? getenv(szName) : nullptr;
      if (pszValue) w.Put(pszValue);
    } else if (*p == '~' && bTildeAllowed && p[1] == '/') {
      const char* pszHome = getenv("HOME");
      if (pszHome) w.Put(pszHome);
      ++p;
    } else if (*p == '~' && bTildeAllowed && IsNameChar(p[1])) {
      p = ReadName(p + 1, szName);
      AKS(AKSStatus, AK_HERE, "Asked for ~%s on machine without <pwd.h>", szName);
    } else {
      w.Put(p, 1);
      ++p;
    }
  }
  pszDest[w.n] = 0;
  return w.bCut;
}

char* AKExpandAlloc(const char* pszSource) {
  for (size_t nSize = 16;; nSize *= 2) {
    char* psz = static_cast<char*>(malloc(nSize));
    if (!AKExpand(psz, pszSource, nSize)) return psz;
    free(psz);
  }
}

char* AKsprintfExpand(const char* pszFormat, ...) {
  char* psz = nullptr;
  for (size_t nSize = 16;; nSize *= 2) {
    psz = static_cast<char*>(realloc(psz, nSize));
    va_list args;
    va_start(args, pszFormat);
    int n = vsnprintf(psz, nSize, pszFormat, args);
    va_end(args);
    if (n < 0) {
      psz[0] = 0;
      break;
    }
    if (static_cast<size_t>(n) < nSize) break;
  }
  char* pszExpanded = AKExpandAlloc(psz);
  free(psz);
  return pszExpanded;
}

int AKsystem(const char* pszCommand) {
  char* pszExpanded = AKExpandAlloc(pszCommand);
  int iStatus = system(pszExpanded);
  if (iStatus != 0) AKS(AKSWarn, AK_HERE, "AKsystem(): system( \"%s\" ) = %d: %s", pszExpanded, iStatus, strerror(errno));
  else AKS(AKSTrace, AK_HERE, "AKsystem( \"%s\" )", pszExpanded);
  free(pszExpanded);
  return iStatus;
}

int AKDblCompare(double a, double b) {
  static const double dEpsilon = [] {
    const char* psz = getenv("AKDblEpsilon");
    if (!psz) return 1e-10;
    errno = 0;
    double d = strtod(psz, nullptr);
    if (errno == ERANGE) AKS(AKSFatal, AK_HERE, "strtod( getenv( \"AKDblEpsilon\" ) ): %s", strerror(errno));
    return d;
  }();
  if (dEpsilon > 0 && fabs(a - b) < dEpsilon * fmax(fabs(a), fabs(b))) return 0;
  return a < b ? -1 : a > b ? 1 : 0;
}
