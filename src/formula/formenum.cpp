// The keyword registry, shared by the whole program and filled at start-up.
#include "formula/formenum.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "formula/errorlist.h"
#include "foundation/akarray.h"
#include "foundation/akquark.h"
#include "foundation/akstatus.h"
#include "foundation/akstring.h"

namespace {

constexpr int kMaxIndex = 500;  // keyword numbers are small; a larger one is a registration bug

struct Registry {
  AKArray<const char*> apszNames;  // quark handles; null for an empty slot
  // Lower-cased name to the lowest index of that spelling: the parser asks about every word.
  std::unordered_map<std::string, int> mapLower;
  std::mutex mutex;
};


Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

int Lookup(Registry& r, const char* pszName, bool bIgnoreCase = false) {
  if (bIgnoreCase) {
    auto it = r.mapLower.find(AKLowerCase(pszName));
    if (it == r.mapLower.end()) return -1;
    int i = it->second;
    if (i < r.apszNames.N() && r.apszNames[i] && AKstricmp(r.apszNames[i], pszName) == 0) return i;
    // A slot registered over: look the slow way.
    for (int j = 0; j < r.apszNames.N(); ++j)
      if (r.apszNames[j] && AKstricmp(r.apszNames[j], pszName) == 0) return j;
    return -1;
  }
  const char* q = AKQuark(pszName);
  for (int i = 0; i < r.apszNames.N(); ++i)
    if (r.apszNames[i] == q) return i;
  return -1;
}

}  // namespace

const char* FormEnumReg(int iIndex, const char* pszName) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (Lookup(r, pszName) >= 0) AKS(AKSError, AK_HERE, "multiple registrations of enum \"%s\"", pszName);
  if (iIndex > kMaxIndex || iIndex < 0) AKS(AKSError, AK_HERE, "iIndex = %d; probable misuse of FormEnumReg()", iIndex);
  r.apszNames.SetSize(iIndex + 1);
  r.apszNames[iIndex] = AKQuark(pszName);
  auto [it, bNew] = r.mapLower.emplace(AKLowerCase(pszName), iIndex);
  if (!bNew && it->second > iIndex) it->second = iIndex;
  return r.apszNames[iIndex];
}

int FormEnumIntern(const char* pszName) {
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    int i = Lookup(r, pszName);
    if (i >= 0) return i;
  }
  int iIndex = FormEnumCount();
  FormEnumReg(iIndex, pszName);
  return iIndex;
}

int FormEnumLookup(const char* pszName, bool bIgnoreCase) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return Lookup(r, pszName, bIgnoreCase);
}

int FormEnumFind(const char* pszName) {
  int i = FormEnumLookup(pszName);
  if (i < 0) ERRADD(-1, "asked for enum \"%s\" which isn't registered", pszName);
  return i;
}

const char* FormEnumName(int iIndex, char* szBuffer, int nSize) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (iIndex >= 0 && iIndex < r.apszNames.N() && r.apszNames[iIndex]) return r.apszNames[iIndex];
  snprintf(szBuffer, static_cast<size_t>(nSize), "%d", iIndex);
  return szBuffer;
}

int FormEnumCount() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.apszNames.N();
}
