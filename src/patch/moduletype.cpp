// Module types, the factory and its keyword enumeration, numbered names.
#include "patch/moduletype.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "formula/errorlist.h"
#include "formula/formenum.h"
#include "foundation/akstatus.h"
#include "foundation/akstring.h"

// The structural kinds register themselves as static objects in this library; a static library's
// file that nothing names is left out by the linker, so the factory names one symbol of each.
extern int g_nAnchor_channel, g_nAnchor_note, g_nAnchor_voice, g_nAnchor_patch, g_nAnchor_global,
    g_nAnchor_interface, g_nAnchor_sub, g_nAnchor_dummy;
__attribute__((used)) static int* const apnStructuralAnchors[] = {
    &g_nAnchor_channel, &g_nAnchor_note,      &g_nAnchor_voice, &g_nAnchor_patch,
    &g_nAnchor_global,  &g_nAnchor_interface, &g_nAnchor_sub,   &g_nAnchor_dummy};

ModuleType::ModuleType(const char* pszName_, Var* avarInputs_, Var* avarOutputs_, uint32_t attrs_,
                       const char* pszHelper_, int iOrder_, const VarHelp* ahelp_, const VarHelp* ahelpShared_)
    : pszName(pszName_), avarInputs(avarInputs_), avarOutputs(avarOutputs_), attrs(attrs_), pszHelper(pszHelper_),
      iOrder(iOrder_), ahelp(ahelp_), ahelpShared(ahelpShared_) {
  for (Var* pvar = avarInputs; pvar && pvar->pszName; ++pvar) pvar->flags |= VarFlagInput;
  for (Var* pvar = avarOutputs; pvar && pvar->pszName; ++pvar)
    if (pvar->flags & VarFlagOnReference) mapOnReference_.emplace(AKLowerCase(pvar->pszName), pvar);
  for (const VarHelp* ahelpList : {ahelpShared_, ahelp_}) {
    VarApplyHelp(avarInputs, ahelpList);
    VarApplyHelp(avarOutputs, ahelpList);
  }
  ModuleFactory::Get()->Register(this);
}

const Var* ModuleType::RowOnReference(const char* pszVar) const {
  if (mapOnReference_.empty() || !pszVar || !*pszVar) return nullptr;
  auto it = mapOnReference_.find(AKLowerCase(pszVar));
  return it != mapOnReference_.end() && it->second->pszName[0] == pszVar[0] ? it->second : nullptr;
}

int VarApplyHelp(Var* avar, const VarHelp* ahelp) {
  int nMatched = 0;
  for (const VarHelp* phelp = ahelp; phelp && phelp->pszName; ++phelp)
    for (Var* pvar = avar; pvar && pvar->pszName; ++pvar)
      if (strcmp(pvar->pszName, phelp->pszName) == 0) {
        pvar->pszHelp = phelp->pszHelp;
        ++nMatched;
      }
  return nMatched;
}

int ModuleType::CountRows(const Var* avar) {
  int n = 0;
  while (avar && avar[n].pszName) ++n;
  return n;
}

ModuleType* ModuleType::HelperType() {
  if (!pszHelper) return nullptr;
  ModuleType* ptype = ModuleFactory::Get()->Lookup(pszHelper);
  if (!ptype) AKS(AKSFatal, AK_HERE, "%s: no per-patch helper module type named \"%s\"", pszName, pszHelper);
  return ptype;
}

int ModuleType::ChannelOf(const Var* pvar, const char* pszName_) {
  const char* pszVar = pvar->pszName ? pvar->pszName : "";
  size_t n = strlen(pszName_);
  if (strncmp(pszVar, pszName_, n) != 0) return 0;
  if (pszVar[n] == 0) return 1;
  if (pszVar[n] != '$') return 0;
  char* pszEnd;
  long i = strtol(pszVar + n + 1, &pszEnd, 10);
  if (pszEnd == pszVar + n + 1 || *pszEnd || i < 1 || i > 1000000) {
    AKS(AKSWarn, AK_HERE, "cannot find channel number in %s; returning 1", pszVar);
    return 1;
  }
  return static_cast<int>(i);
}

int ModuleType::RefuseChannels(Var* pvar) {
  AKS(AKSWarn, AK_HERE, "%s:%s module cannot accept %d channel variable", pvar->pszModule, pvar->pszName,
      pvar->nChannels);
  ERRADD(pvar->iLine, "%s:%s module cannot accept %d channel variable", pvar->pszModule, pvar->pszName,
         pvar->nChannels);
  return -1;
}

ModuleFactory::ModuleFactory() {
  static const char* const apszKeywords[] = {
#define VANTREL_KEYWORD_NAME(name) #name,
      VANTREL_KEYWORDS(VANTREL_KEYWORD_NAME)
#undef VANTREL_KEYWORD_NAME
  };
  for (int i = 0; i < static_cast<int>(sizeof apszKeywords / sizeof *apszKeywords); ++i)
    FormEnumReg(i, apszKeywords[i]);
}

ModuleFactory* ModuleFactory::Get() {
  static ModuleFactory* pfactory = new ModuleFactory;  // lives for the whole program
  return pfactory;
}

void ModuleFactory::Register(ModuleType* ptype) {
  // Kept sorted by look-up order; kinds of the same place keep their registration order.
  int i = aptype.N();
  while (i > 0 && aptype[i - 1]->iOrder > ptype->iOrder) --i;
  aptype.Insert(i, ptype);
}

ModuleType* ModuleFactory::Lookup(const char* pszType) {
  for (ModuleType* ptype : aptype)
    if (strcmp(ptype->pszName, pszType) == 0) return ptype;
  return nullptr;
}

ModuleType* ModuleFactory::Find(const char* pszType, const char* pszSection) {
  if (pszType) {
    if (ModuleType* ptype = Lookup(pszType)) return ptype;
    AKS(AKSWarn, AK_HERE, "do not know module type \"%s\"", pszType);
    return nullptr;
  }
  const char* pszName = pszSection ? pszSection : "";
  for (ModuleType* ptype : aptype)
    if (strncmp(ptype->pszName, pszName, strlen(ptype->pszName)) == 0) return ptype;
  AKS(AKSWarn, AK_HERE, "no module type has an abbreviation matching \"%s\"", pszName);
  return nullptr;
}

bool IsNumberedName(const char* pszName, const char* pszPrefix, int* piNumber) {
  size_t n = strlen(pszPrefix);
  if (strncmp(pszName, pszPrefix, n) != 0) return false;
  const char* pszDigits = pszName + n;
  if (!*pszDigits) return false;
  long iValue = 0;
  for (const char* p = pszDigits; *p; ++p) {
    if (!isdigit(static_cast<unsigned char>(*p))) return false;
    if (iValue < 100000000) iValue = iValue * 10 + (*p - '0');
  }
  if (iValue == 0) return false;
  if (piNumber) *piNumber = static_cast<int>(iValue);
  return true;
}
