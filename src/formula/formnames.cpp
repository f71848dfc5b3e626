// The parser's name index.
#include "formula/formnames.h"

namespace {

constexpr unsigned kBuckets = 1024;  // a power of two; chains stay short for the thousands of records of a large patch

unsigned Lower(char ch) { return static_cast<unsigned char>(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch); }

unsigned HashFrom(const char* psz, unsigned u) {
  for (; *psz; ++psz) u = (u ^ Lower(*psz)) * 16777619u;
  return u & (kBuckets - 1);
}
unsigned NameHash(const char* psz) {
  if (!*psz) return 0;
  return HashFrom(psz + 1, (2166136261u ^ static_cast<unsigned char>(*psz)) * 16777619u);
}
unsigned ModuleHash(const char* psz) { return HashFrom(psz, 2166136261u); }

}  // namespace

void FormNameIndex::Link(Chains& chains, std::vector<int>& aiNext, unsigned uHash, int i) {
  aiNext.push_back(-1);
  int& iTail = chains.aiTail[uHash];
  if (iTail < 0) chains.aiHead[uHash] = i;
  else aiNext[static_cast<size_t>(iTail)] = i;
  iTail = i;
}

void FormNameIndex::CatchUp(const Var* avar) {
  if (name_.aiHead.empty()) {
    for (Chains* pchains : {&name_, &module_}) {
      pchains->aiHead.assign(kBuckets, -1);
      pchains->aiTail.assign(kBuckets, -1);
    }
  }
  for (; avar[nIndexed_].pszName; ++nIndexed_) {
    const Var& var = avar[nIndexed_];
    Link(name_, aiNextName_, NameHash(var.pszName), nIndexed_);
    Link(module_, aiNextModule_, ModuleHash(var.pszModule ? var.pszModule : ""), nIndexed_);
  }
}

int FormNameIndex::FirstNamed(const Var* avar, const char* pszName) {
  CatchUp(avar);
  return name_.aiHead[NameHash(pszName)];
}

int FormNameIndex::FirstInModule(const Var* avar, const char* pszModule) {
  CatchUp(avar);
  return module_.aiHead[ModuleHash(pszModule)];
}

void FormNameIndex::Clear() {
  for (Chains* pchains : {&name_, &module_}) {
    pchains->aiHead.clear();
    pchains->aiTail.clear();
  }
  aiNextName_.clear();
  aiNextModule_.clear();
  nIndexed_ = 0;
}
