// The error list: a sorted array of counted messages under one mutex.
#include "formula/errorlist.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/akstatus.h"
#include "foundation/akstring.h"

namespace {
constexpr int kMaxMessage = 4095;  // longer messages are cut
thread_local bool t_bMuted = false;
}  // namespace

void ErrorList::SetMuted(bool bMuted) { t_bMuted = bMuted; }

ErrorList* ErrorList::Get() {
  static ErrorList list;
  return &list;
}

ErrorList::~ErrorList() {
  for (ErrorListNode& node : anode) free(node.psz);
  for (char* psz : apszLineFile_) free(psz);
}

int ErrorList::FileBase(const char* pszPath) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int i = 0; i < apszLineFile_.N(); ++i)
    if (strcmp(apszLineFile_[i], pszPath) == 0) return (i + 1) * kLineSpan;
  if ((apszLineFile_.N() + 2) > INT_MAX / kLineSpan) return 0;
  apszLineFile_.Add(AKstrdup(pszPath));
  return apszLineFile_.N() * kLineSpan;
}

const char* ErrorList::LocateLocked(int iPosition, int* piLine) const {
  int iFile = iPosition / kLineSpan - 1;
  if (iPosition < 0 || iFile < 0 || iFile >= apszLineFile_.N()) {
    *piLine = iPosition;
    return nullptr;
  }
  *piLine = iPosition % kLineSpan;
  return apszLineFile_[iFile];
}

const char* ErrorList::Locate(int iPosition, int* piLine) {
  std::lock_guard<std::mutex> lock(mutex_);
  return LocateLocked(iPosition, piLine);
}

void ErrorList::Add(const char* pszFile, int iSrcLine, int iLine, const char* pszFormat, ...) {
  if (t_bMuted) return;
  char szRaw[kMaxMessage + 1], sz[kMaxMessage + 1];
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(szRaw, sizeof szRaw, pszFormat, args);
  va_end(args);
  // The line break some messages end in stays; everything else a terminal would act on is escaped.
  size_t nBody = strlen(szRaw);
  while (nBody > 0 && (szRaw[nBody - 1] == '\n' || szRaw[nBody - 1] == '\r')) --nBody;
  AKEscapeBinary(sz, sizeof sz, szRaw, nBody);
  AKstrcpy(sz + strlen(sz), szRaw + nBody, sizeof sz - strlen(sz));

  std::lock_guard<std::mutex> lock(mutex_);
  int iLow = 0, iHigh = anode.N() - 1;
  while (iLow <= iHigh) {
    int iMiddle = (iLow + iHigh) / 2;
    int iCompare = strcmp(sz, anode[iMiddle].psz);
    if (iCompare < 0) {
      iHigh = iMiddle - 1;
    } else if (iCompare > 0) {
      iLow = iMiddle + 1;
    } else {
      anode[iMiddle].iCount++;
      bUpdated_ = true;
      return;
    }
  }
  const char* pszLineFile = LocateLocked(iLine, &iLine);
  anode.Insert(iLow, ErrorListNode{AKstrdup(sz), pszFile, 1, iSrcLine, iLine, pszLineFile});
  bUpdated_ = true;
}

void ErrorList::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (ErrorListNode& node : anode) free(node.psz);
  anode.Empty();
  bUpdated_ = true;
}

bool ErrorList::Updated() {
  std::lock_guard<std::mutex> lock(mutex_);
  bool b = bUpdated_;
  bUpdated_ = false;
  return b;
}

void ErrorList::SelfTest() {
  ErrorList* pel = Get();
  pel->Clear();
  for (const char* psz : {"apple", "cherry", "banana", "banana"}) pel->Add(AK_HERE, -1, "%s", psz);
  AKAssert(pel->Updated());
  pel->Add(AK_HERE, -1, "%s", "aardvark");
  AKAssert(pel->Updated());
  AKAssert(! pel->Updated());
  AKAssert(pel->anode.N() == 4);
  AKAssert(pel->anode[0].iCount == 1);
  AKAssert(pel->anode[1].iCount == 1);
  AKAssert(pel->anode[2].iCount == 2);
  AKAssert(pel->anode[3].iCount == 1);
  AKAssert(strcmp( pel->anode[0].psz, "aardvark" ) == 0);
  AKAssert(strcmp( pel->anode[1].psz, "apple" ) == 0);
  AKAssert(strcmp( pel->anode[2].psz, "banana" ) == 0);
  AKAssert(strcmp( pel->anode[3].psz, "cherry" ) == 0);
  pel->Clear();
  AKS(AKSReport, AK_HERE, "%s", "ErrorList Test PASSED");
  exit(0);
}
