// Channels: multi-channel values become one record per channel, modules fed by them are copied
// once per channel ("multi-mono"), and every formula is specialised for its record's channel.
#include <cstdlib>
#include <cstring>
#include <string>

#include "formula/errorlist.h"
#include "formula/formfn.h"
#include "formula/formopt.h"
#include "formula/formopt_util.h"
#include "formula/formparse.h"
#include "foundation/akquark.h"
#include "foundation/akstatus.h"
#include "patch/patch.h"

namespace {

constexpr int kMaxPasses = 100;  // channel counts that keep changing beyond this never settle

// The number after a "$" in the name, 1 without one (a "$" without a number is reported).
int ChannelNumber(const char* pszName, bool* pbHas) {
  const char* pszDollar = strchr(pszName, '$');
  *pbHas = pszDollar != nullptr;
  if (!pszDollar) return 1;
  char* pszEnd;
  long i = strtol(pszDollar + 1, &pszEnd, 10);
  if (pszEnd == pszDollar + 1 || *pszEnd || i < 1 || i > 100000) {
    AKS(AKSWarn, AK_HERE, "cannot find channel number in %s; returning 1", pszName);
    return 1;
  }
  return static_cast<int>(i);
}

int RecordChannel(const Var& var) {
  bool bHas;
  int k = ChannelNumber(var.pszName, &bHas);
  if (bHas) return k;
  return ChannelNumber(var.pszModule, &bHas);
}

}  // namespace

unsigned PatchBypassRule(const Var* pvar) {
  return pvar->ptype ? pvar->ptype->attrs & (AttrBypassPasses | AttrBypassSilences) : 0u;
}

int Patch::ModuleChannels(const Var& var) {
  if (var.iModule >= 0) return amodVoice[static_cast<size_t>(var.iModule)].nChannels;
  if (var.iModulePP >= 0) return amodPatch[static_cast<size_t>(var.iModulePP)].nChannels;
  return 1;
}

void Patch::SetModuleChannels(const Var& var, int n) {
  if (var.iModule >= 0) amodVoice[static_cast<size_t>(var.iModule)].nChannels = n;
  else if (var.iModulePP >= 0) amodPatch[static_cast<size_t>(var.iModulePP)].nChannels = n;
}

int Patch::Channelize() {
  for (ModuleEntry& entry : amodVoice) entry.nChannels = 1;
  for (ModuleEntry& entry : amodPatch) entry.nChannels = 1;
  for (VarTable* ptable : {&tabPatch, &tabVoice})
    for (int i = 0; i < ptable->N(); ++i) (*ptable)[i].nChannels = 1;
  for (int nPass = 0; nPass < kMaxPasses; ++nPass) {
    int iPatch = ChannelizePass(tabPatch);
    if (iPatch < 0) return -1;
    int iVoice = ChannelizePass(tabVoice);
    if (iVoice < 0) return -1;
    if (!iPatch && !iVoice) return 0;
  }
  ERRADD(-1, "stopping channelization after %d loops", kMaxPasses);
  return -1;
}

int Patch::ChannelizePass(VarTable& table) {
  bool bChanged = false;
  for (int i = 0; i < table.N(); ++i) {
    if (!table[i].pform) continue;
    int m = ModuleChannels(table[i]);
    int c = Chanellize(&table[i], table[i].pform, table);
    if (c < 0) return -1;
    Var& var = table[i];
    if (c == 1 || c == m) continue;
    if (m != 1) {
      ERRADD(var.iLine, "%s:%s module is %d channels, function is %d channels", var.pszModule, var.pszName, m, c);
      return -1;
    }
    if (var.flags & (VarFlagUser | VarFlagChannels | VarFlagFormulaOutput)) {
      // Only new channels are a change; a record already split this wide is settled.
      if (var.nChannels >= c) continue;
      bool bPlain = !(var.flags & (VarFlagUser | VarFlagFormulaOutput));
      for (int k = var.nChannels + 1; k <= c; ++k) {
        Var varCopy = table[i];
        std::string sName = std::string(varCopy.pszName) + "$" + std::to_string(k);
        // A channel the patch wrote itself (Result$2) is kept as written.
        const char* qName = AKQuark(sName.c_str());
        bool bWritten = false;
        for (int j = 0; j < table.N() && !bWritten; ++j)
          bWritten = table[j].pszName == qName && table[j].pszModule == varCopy.pszModule &&
                     table[j].iLevelOwn == varCopy.iLevelOwn && table[j].iHistory == 0;
        if (bWritten) continue;
        varCopy.pszName = AKQuark(sName.c_str());
        varCopy.pform = FormCopy(table[i].pform);
        varCopy.nChannels = c;
        varCopy.iOffset = -1;
        varCopy.pvalue = nullptr;
        varCopy.iShadow = -1;
        if (bPlain && varCopy.ptype && varCopy.ptype->RefuseChannels(&varCopy) < 0) {
          FormFree(varCopy.pform);
          return -1;
        }
        int iCopy = table.Append(varCopy);
        if (&table == &tabPatch) BindPerPatchRecord(iCopy);
      }
      table[i].nChannels = c;
      bChanged = true;
      continue;
    }
    if (!var.ptype || !var.ptype->HasAttr(AttrMultiMono)) {
      ERRADD(var.iLine, "%s:%s module has a %d channel input, but can only accept mono", var.pszModule, var.pszName, c);
      return -1;
    }
    SetModuleChannels(var, c);
  }
  return bChanged ? 1 : 0;
}

int Patch::Chanellize(Var* pvar, Form* pform, VarTable& table) {
  if (pform->et < FormTypeRef) return 1;
  if (pform->et == FormTypeRef) {
    if (pform->u.iVar < 0) return 1;
    const Var& r = table[pform->u.iVar];
    if (r.flags & VarFlagFormulaOutput) return r.nChannels;
    if (r.ptype && r.ptype->HasAttr(AttrMultiMono)) return ModuleChannels(r);
    return r.nChannels;
  }
  if (pform->et == FormTypeErrPatchOnlyFunction) {
    AKS(AKSTrace, AK_HERE, "%s", "Chanellize() allowing FormTypeErrPatchOnlyFunction; assumed for shadow copy");
    return 1;
  }
  if (pform->et != FormTypeFn) {
    ERRADD(pvar->iLine, "%s:%s pform->et = %d not handled", pvar->pszModule, pvar->pszName, pform->et);
    return -1;
  }
  const FormFnInfo* pinfo = pform->u.fn.pinfo;
  int n = pform->u.fn.nArg;
  Form** apArg = pform->u.fn.apformArg;
  // Chanellize may replace the record's table entry while it recurses; keep the names at hand.
  const char* pszModule = pvar->pszModule;
  const char* pszName = pvar->pszName;
  int iLine = pvar->iLine;
  if (pinfo == &FormFnRowMakeBus || pinfo == &FormFnRowPan) {
    // Each channel of a pan is PanL or PanR of the signal and the position.
    if (pinfo == &FormFnRowPan && n != 2) {
      ERRADD(iLine, "%s:%s Pan() needs two parameters (signal, position); has %d", pszModule, pszName, n);
      return -1;
    }
    for (int i = 0; i < n; ++i) {
      int c = Chanellize(pvar, apArg[i], table);
      if (c < 0) return -1;
      if (c != 1) {
        ERRADD(iLine, "%s:%s %s() arguments must all be single-channel; arg %d is %d-channel", pszModule, pszName,
               pinfo->pszName, i + 1, c);
        return -1;
      }
    }
    return pinfo == &FormFnRowMakeBus ? n : 2;
  }
  if (pinfo == &FormFnRowSumBus) {
    if (n != 1) {
      ERRADD(iLine, "%s:%s %s() may only have 1 parameter; has %d", pszModule, pszName, pinfo->pszName, n);
      return -1;
    }
    int c = Chanellize(pvar, apArg[0], table);
    if (c < 0) return -1;
    pform->u.fn.pinfo = &FormFnRowSumBusN;
    for (int k = 1; k < c; ++k) FormAddArg(pform, FormCopy(pform->u.fn.apformArg[0]));
    return 1;
  }
  if (pinfo == &FormFnRowSumBusN || pinfo == &FormFnRowBreakOutN) {
    // One value, whatever the channels of the arguments (each reads its own channel); the bus
    // calls inside them are rewritten all the same, or evaluating them would end the program.
    for (int i = 0; i < n; ++i)
      if (Chanellize(pvar, apArg[i], table) < 0) return -1;
    return 1;
  }
  if (pinfo == &FormFnRowBreakOut) {
    if (n != 2) {
      ERRADD(iLine, "%s:%s %s() must have 2 parameters; has %d", pszModule, pszName, pinfo->pszName, n);
      return -1;
    }
    if (Chanellize(pvar, apArg[1], table) < 0) return -1;  // the position's own bus calls
    int c = Chanellize(pvar, apArg[0], table);
    if (c < 0) return -1;
    if (c == 1) return 1;
    // BreakOut(bus, selector) becomes BreakOutN(selector, bus, bus, ...), one per channel.
    Form* pformBus = FormDetachArg(pform, 0);
    pform->u.fn.pinfo = &FormFnRowBreakOutN;
    FormAddArg(pform, pformBus);
    for (int k = 1; k < c; ++k) FormAddArg(pform, FormCopy(pformBus));
    return 1;
  }
  VarTable& tabArgs = pinfo == &FormFnRowSumVoices ? tabVoice : table;
  int nCommon = 1;
  for (int i = 0; i < n; ++i) {
    int c = Chanellize(pvar, pform->u.fn.apformArg[i], tabArgs);
    if (c < 0) return -1;
    if (c == 1 || c == nCommon) continue;
    if (nCommon == 1) {
      nCommon = c;
      continue;
    }
    if (pinfo->pszName)
      ERRADD(iLine, "%s:%s %s() parameter %d is %d channels; should be 1 or %d", pszModule, pszName, pinfo->pszName,
             i + 1, c, nCommon);
    else
      ERRADD(iLine, "%s:%s %s parameter %d is %d channels; should be 1 or %d", pszModule, pszName, pinfo->pszOp,
             i + 1, c, nCommon);
    return -1;
  }
  return nCommon;
}

void Patch::CreateMultiMono() {
  for (bool bPerPatch : {false, true}) {
    std::vector<ModuleEntry>& amod = bPerPatch ? amodPatch : amodVoice;
    VarTable& table = bPerPatch ? tabPatch : tabVoice;
    size_t nOriginal = amod.size();
    for (size_t m = 0; m < nOriginal; ++m) {
      int nChannels = amod[m].nChannels;
      if (nChannels <= 1) continue;
      AKS(AKSTrace, AK_HERE, "duplicating module %s x %d", amod[m].pszName, nChannels);
      for (int k = 2; k <= nChannels; ++k) {
        ModuleEntry entry = amod[m];
        std::string sName = std::string(entry.pszName) + "$" + std::to_string(k);
        const char* pszCopy = AKQuark(sName.c_str());
        int iNew = static_cast<int>(amod.size());
        int iLevel = entry.iLevel;
        const char* pszOriginal = entry.pszName;
        entry.pszName = pszCopy;
        entry.nChannels = 1;
        entry.iHelper = -1;
        entry.iFirstVar = table.N();
        amod.push_back(entry);
        Module* pmod = nullptr;
        if (bPerPatch) {
          int iVarLevel = iLevel;
          for (int i = 0; i < table.N(); ++i)
            if (table[i].pszModule == pszOriginal && table[i].iLevelOwn == iLevel) {
              iVarLevel = table[i].iLevel;
              break;
            }
          pmod = entry.ptype->Create(pszCopy, this, nullptr, true, iVarLevel, nullptr);
          pmod->pclock = &dTime;
          pmod->ppavarTable = tabPatch.PData();
          pmod->puRandom = &uRandomState;
          apmodPatch.push_back(pmod);
          if (entry.ptype->HasAttr(AttrFeedbackStep)) apmodDelay.push_back(pmod);
        }
        int nRecords = table.N();
        for (int i = 0; i < nRecords; ++i) {
          if (table[i].pszModule != pszOriginal || table[i].iLevelOwn != iLevel) continue;
          Var var = table[i];
          var.pszModule = pszCopy;
          var.pform = FormCopy(table[i].pform);
          if (bPerPatch) var.iModulePP = iNew;
          else var.iModule = iNew;
          var.iShadow = -1;
          AKS(AKSTrace, AK_HERE, bPerPatch ? "creating multimono PP <%d>%s:%s" : "creating multimono <%d>%s:%s",
              var.iLevel, var.pszModule, var.pszName);
          int iCopy = table.Append(var);
          if (bPerPatch) BindPerPatchRecord(iCopy);
        }
      }
    }
  }
}

void Patch::ChannelSeparate() {
  // The texts before and after are made only for a log that shows them.
  bool bTrace = AKSWanted(AKSTrace);
  for (VarTable* ptable : {&tabPatch, &tabVoice}) {
    for (int i = 0; i < ptable->N(); ++i) {
      if (!(*ptable)[i].pform) continue;
      int k = RecordChannel((*ptable)[i]);
      if (!bTrace) {
        ChanSeparate(&(*ptable)[i].pform, *ptable, k);
        if (!bCompiled) return;
        continue;
      }
      std::string sBefore = FormToText((*ptable)[i].pform, ptable->Data(), tabVoice.Data());
      ChanSeparate(&(*ptable)[i].pform, *ptable, k);
      if (!bCompiled) return;
      std::string sAfter = FormToText((*ptable)[i].pform, ptable->Data(), tabVoice.Data());
      if (sBefore == sAfter) continue;
      AKS(AKSTrace, AK_HERE, "%s:%s before: %s", (*ptable)[i].pszModule, (*ptable)[i].pszName, sBefore.c_str());
      AKS(AKSTrace, AK_HERE, "%s:%s after:  %s", (*ptable)[i].pszModule, (*ptable)[i].pszName, sAfter.c_str());
    }
  }
}

void Patch::SeparateRecord(Form* pform, VarTable& table, int k) {
  if (k == 1 || pform->u.iVar < 0) return;
  const Var& r = table[pform->u.iVar];
  std::string sName = std::string(r.pszName) + "$" + std::to_string(k);
  std::string sModule = std::string(r.pszModule) + "$" + std::to_string(k);
  const char* qName = AKQuark(sName.c_str());
  const char* qModule = AKQuark(sModule.c_str());
  int iFound = -1;
  for (int i = 0; i < table.N() && iFound < 0; ++i)
    if (table[i].pszName == qName && table[i].iModule == r.iModule && table[i].iModulePP == r.iModulePP) iFound = i;
  for (int i = 0; i < table.N() && iFound < 0; ++i)
    if (table[i].pszModule == qModule && table[i].pszName == r.pszName && table[i].iLevelOwn == r.iLevelOwn) iFound = i;
  if (iFound < 0) return;
  AKS(AKSTrace, AK_HERE, "replacing %s:%s with %s:%s", r.pszModule, r.pszName, table[iFound].pszModule,
      table[iFound].pszName);
  pform->u.iVar = iFound;
}

void Patch::ChanSeparate(Form** ppform, VarTable& table, int k) {
  Form* pform = *ppform;
  auto failWith = [&](const char* pszFormat, int n) {
    AKS(AKSWarn, AK_HERE, pszFormat, n);
    ERRADD(-1, pszFormat, n);
    Fail();
  };
  if ((pform->et >= 32 && pform->et <= 63) || pform->et == 66) {
    failWith("unhandled pform->et = %d; not completing ChanSeparate()", pform->et);
    return;
  }
  if (pform->et == FormTypeRef) {
    SeparateRecord(pform, table, k);
    return;
  }
  if (pform->et != FormTypeFn) return;
  const FormFnInfo* pinfo = pform->u.fn.pinfo;
  int n = pform->u.fn.nArg;
  if (pinfo == &FormFnRowMakeBus) {
    if (n < 1) {
      AKS(AKSWarn, AK_HERE, "%s", "Found MakeBus() needs at least one channel");
      ERRADD(-1, "%s", "Found MakeBus() needs at least one channel");
      Fail();
      return;
    }
    if (n < k) AKS(AKSWarn, AK_HERE, "Found MakeBus() with %d channels in %d channel context: recycling through channels", n, k);
    FormReplaceByArg(ppform, (k - 1) % n);
    ChanSeparate(ppform, table, 1);
    return;
  }
  if (pinfo == &FormFnRowSumBusN) {
    if (n < 1) return failWith("Found SumBusN() needs one or more parameters, has %d", n);
    for (int i = 0; i < n; ++i) ChanSeparate(&pform->u.fn.apformArg[i], table, i + 1);
    return;
  }
  if (pinfo == &FormFnRowBreakOut) {
    if (n != 2) return failWith("Found BreakOut() needs two parameters, has %d", n);
    FormReplaceByArg(ppform, 0);
    ChanSeparate(ppform, table, k);
    return;
  }
  if (pinfo == &FormFnRowBreakOutN) {
    if (n < 2) return failWith("Found BreakOutN() needs two or more parameters, has %d", n);
    ChanSeparate(&pform->u.fn.apformArg[0], table, 1);  // the position is one value
    for (int i = 1; i < n; ++i) ChanSeparate(&pform->u.fn.apformArg[i], table, i);
    return;
  }
  if (pinfo == &FormFnRowPan) {
    if (k != 1 && k != 2) AKS(AKSWarn, AK_HERE, "Found Pan() for channel %d: treating odd as L, even as R", k);
    pform->u.fn.pinfo = k % 2 ? &FormFnRowPanL : &FormFnRowPanR;
    for (int i = 0; i < n; ++i) ChanSeparate(&pform->u.fn.apformArg[i], table, 1);
    return;
  }
  VarTable& tabArgs = pinfo == &FormFnRowSumVoices ? tabVoice : table;
  for (int i = 0; i < n; ++i) ChanSeparate(&pform->u.fn.apformArg[i], tabArgs, k);
}

void Patch::OptimizeTables() { FormOptimize(tabPatch.Data(), tabVoice.Data()); }
