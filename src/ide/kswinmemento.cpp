// The window state tree over the configuration library, with the typed access table.
#include "ide/kswinmemento.h"

#include <cstdlib>
#include <utility>

#include "foundation/akconfig.h"

KSWinMemento::KSWinMemento() : pconf_(AKConfigNew("", nullptr)), bOwned_(true) {}

KSWinMemento::KSWinMemento(AKConfig_T* pconf, bool bOwned)
    : pconf_(pconf ? pconf : AKConfigNew("", nullptr)), bOwned_(pconf ? bOwned : true) {}

KSWinMemento::~KSWinMemento() {
  if (bOwned_) AKConfigFree(pconf_);
}

KSWinMemento::KSWinMemento(KSWinMemento&& other) noexcept : pconf_(other.pconf_), bOwned_(other.bOwned_) {
  other.pconf_ = nullptr;
  other.bOwned_ = false;
}

KSWinMemento& KSWinMemento::operator=(KSWinMemento&& other) noexcept {
  if (this != &other) {
    if (bOwned_) AKConfigFree(pconf_);
    pconf_ = std::exchange(other.pconf_, nullptr);
    bOwned_ = std::exchange(other.bOwned_, false);
  }
  return *this;
}

const char* KSWinMemento::GetString(const char* pszName, const char* pszDefault) const {
  AKConfigVar_T* pvar = AKConfigFindVar(pconf_, pszName);
  return pvar && pvar->pszValue ? pvar->pszValue : pszDefault;
}

bool KSWinMemento::Has(const char* pszName) const {
  AKConfigVar_T* pvar = AKConfigFindVar(pconf_, pszName);
  return pvar && pvar->pszValue;
}

int KSWinMemento::GetInt(const char* pszName, int iDefault) const {
  return Has(pszName) ? atoi(GetString(pszName)) : iDefault;
}

double KSWinMemento::GetDouble(const char* pszName, double dDefault) const {
  return Has(pszName) ? strtod(GetString(pszName), nullptr) : dDefault;
}

bool KSWinMemento::GetBool(const char* pszName, bool bDefault) const {
  if (!Has(pszName)) return bDefault;
  char c = GetString(pszName)[0];
  return c == '1' || c == 'T' || c == 't';
}

void KSWinMemento::SetString(const char* pszName, const char* pszValue) { AKConfigSet(pconf_, pszName, pszValue); }

void KSWinMemento::SetInt(const char* pszName, int i) {
  char sz[32];
  snprintf(sz, sizeof sz, "%d", i);
  SetString(pszName, sz);
}

void KSWinMemento::SetDouble(const char* pszName, double d) {
  char sz[512];  // "%f" of the largest double has over 300 digits
  snprintf(sz, sizeof sz, "%f", d);
  SetString(pszName, sz);
}

void KSWinMemento::SetBool(const char* pszName, bool b) { SetString(pszName, b ? "1" : "0"); }

KSWinMemento KSWinMemento::Sub(const char* pszName) { return KSWinMemento(AKConfigGetSub(pconf_, pszName), false); }

KSWinMemento KSWinMemento::Sub(int i) { return KSWinMemento(AKConfigGetSubInt(pconf_, i), false); }

bool KSWinMemento::HasSub(const char* pszName) const { return AKConfigTestSub(pconf_, pszName); }

KSWinMemento KSWinMemento::ReadXml(const char* pszName, FILE* pfile) {
  return KSWinMemento(AKConfigReadStream(pszName, pfile, AKConfigXml), true);
}

int KSWinMemento::Write(const char* pszPath) const { return AKConfigWrite(pconf_, pszPath); }
